// The settings dialog of a syslog instance, run modally by NewInstanceDialog and
// EditInstanceDialog.
#pragma once

#include <string>

#include <winplat/afxdlg.h>

class SysLog;

inline constexpr UINT IDD_SYSLOG_SETTINGS = 202;
inline constexpr char kSyslogHelpFile[] = "Tellumo.chm";
inline constexpr UINT kSyslogHelpContext = 999222;

class CSyslogSettingsDialog : public afx::CDialog {
public:
    // Edit mode when a name is given.
    CSyslogSettingsDialog(SysLog* pNotifier, const std::string& strDirectory,
                          const std::string* pstrName);

    std::string m_strDirectory;
    std::string m_strName;
    std::string m_strOriginalName;
    int m_nPort;
    std::string m_strAddress;
    std::string m_strMessage;
    bool m_bEdit = false;
    bool m_bChanged = false;
    SysLog* m_pNotifier;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnHelp() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange(afx::CDataExchange* pDX) override;

private:
    // A text of the string table in a warning box; the focus then goes to nFocus.
    void Refuse(UINT nTextId, int nFocus);
    void RefuseText(const std::string& strText, int nFocus);
};
