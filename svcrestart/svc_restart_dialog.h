// Revocet's dialogs: the settings dialog of an instance, run modally by
// NewInstanceDialog and EditInstanceDialog, and the two pickers its "..." buttons open:
// the host browser over the network context and the service picker over a machine's
// services. They log through g_pHost.
#pragma once

#include <string>

#include <winplat/afxdlg.h>

class SvcRestart;

inline constexpr UINT IDD_SVCRESTART_SETTINGS = 202;
inline constexpr UINT IDD_NET_HOST = 20024;
inline constexpr UINT IDD_SERVICE_LIST = 203;
inline constexpr char kRevocetHelpFile[] = "revocet.chm";

class CSvcRestartDialog : public afx::CDialog {
public:
    // Edit mode when a name is given.
    CSvcRestartDialog(SvcRestart* pNotifier, const std::string& strDirectory,
                      const std::string* pstrName);

    std::string m_strDirectory;
    SvcRestart* m_pNotifier;
    std::string m_strHost;
    std::string m_strName;
    std::string m_strService;
    std::string m_strCommand;
    bool m_bEdit = false;
    std::string m_strOriginalName;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnHelp() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange(afx::CDataExchange* pDX) override;

private:
    void OnHostButton();
    void OnServiceButton();
    // A box without caption; the focus then goes to nFocus.
    void Refuse(const std::string& strText, int nFocus);
};

class CNetHostDialog : public afx::CDialog {
public:
    explicit CNetHostDialog(HWND hWndParent);

    std::string m_strSelected;

    // The working buffer's allocator (realloc's contract), replaceable to show how the
    // dialog copes when memory runs out.
    static void* (*s_pfnReallocate)(void* p, size_t size);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnHelp() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
};

class CServiceListDialog : public afx::CDialog {
public:
    CServiceListDialog(HWND hWndParent, const std::string& strHost, const std::string& strService,
                       const std::string& strName);

    std::string m_strHost;
    std::string m_strService;
    std::string m_strName;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnHelp() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    // Adds one row; its columns go to wherever the list's sorting puts it.
    void AddRow(const char* pszName, const char* pszDisplayName, DWORD dwState);
};
