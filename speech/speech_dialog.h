// The settings dialog of a speech instance, run modally by NewInstanceDialog and
// EditInstanceDialog.
#pragma once

#include <string>

#include <winplat/afxdlg.h>

class TTSNotification;

inline constexpr UINT IDD_SPEECH_SETTINGS = 103;
inline constexpr char kSpeechHelpFile[] = "Parlanza.chm";
inline constexpr UINT kSpeechHelpContext = 222333;

class CSpeechSettingsDialog : public afx::CDialog {
public:
    // Edit mode when a name is given.
    CSpeechSettingsDialog(TTSNotification* pNotifier, const std::string& strDirectory,
                          const std::string* pstrName);

    std::string m_strDirectory;
    std::string m_strOriginalName;
    afx::CSliderCtrl m_volumeSlider;
    afx::CSliderCtrl m_rateSlider;
    std::string m_strName;
    int m_nRate = 0;
    int m_nVolume = 0;
    std::string m_strMessage;
    TTSNotification* m_pNotifier = nullptr;
    bool m_bEdit = false;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnHelp() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnHScroll(UINT nSBCode, UINT nPos, HWND hScrollBar) override;
    void DoDataExchange(afx::CDataExchange* pDX) override;

private:
    void RefuseName(const char* pszText, const char* pszCaption);
};
