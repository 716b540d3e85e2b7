// What Prowlet's tests play the host with: a log window that keeps every line it is
// sent, a target that records what a check reports in the order it comes, and a fresh
// CPlugin from the class factory.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sentrel/service_check.h>
#include <winplat/comptr.h>
#include <winplat/windows.h>
#include <winplat/winuser.h>

#include "module.h"
#include "plugin.h"

namespace prowlet_test {

// A window of the host's that receives Prowlet's log lines.
class LogWindow {
public:
    LogWindow() {
        static const bool registered = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = &LogWindow::Proc;
            wc.lpszClassName = "ProwletTestLog";
            return RegisterClassA(&wc) != 0;
        }();
        EXPECT_TRUE(registered);
        m_hWnd = CreateWindowExA(0, "ProwletTestLog", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                 nullptr);
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~LogWindow() { Destroy(); }
    LogWindow(const LogWindow&) = delete;
    LogWindow& operator=(const LogWindow&) = delete;

    HWND Get() const { return m_hWnd; }
    void Destroy() {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    std::vector<std::string> lines;

private:
    static LRESULT Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<LogWindow*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        if (uMsg == SENTREL_WM_LOG_LINE && self) {
            EXPECT_EQ(wParam, 0u);
            self->lines.emplace_back(reinterpret_cast<const char*>(lParam));
            return 0;
        }
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }
    HWND m_hWnd = nullptr;
};

// The host's object for the checked machine. The host's own first four operations must
// never be called.
class RecordingTarget final : public ISentrelCheckTarget {
public:
    explicit RecordingTarget(std::string address) : m_address(std::move(address)) {}

    const char* GetDeviceName() override { return Unexpected(); }
    DWORD GetDeviceId() override { return Unexpected(), 0; }
    BOOL IsMonitored() override { return Unexpected(), FALSE; }
    DWORD GetTimeout() override { return Unexpected(), 0; }
    const char* GetAddress() override {
        ++addressCalls;
        return m_address.c_str();
    }
    void SetResult(LONG lResult) override {
        calls.push_back("result");
        result = lResult;
    }
    void SetElapsedTime(DWORD dwMilliseconds) override {
        calls.push_back("elapsed");
        elapsed = dwMilliseconds;
    }

    std::vector<std::string> calls;
    LONG result = -12345;
    DWORD elapsed = 0xFFFFFFFF;
    int addressCalls = 0;

private:
    const char* Unexpected() {
        ADD_FAILURE() << "a host operation Prowlet must not call was called";
        return "";
    }
    std::string m_address;
};

inline winplat::ComPtr<ISentrelSvcObj> NewPlugin() {
    winplat::ComPtr<IClassFactory> factory;
    EXPECT_EQ(prowlet::GetClassObject(prowlet::CLSID_Prowlet, IID_IClassFactory,
                                      reinterpret_cast<void**>(factory.Put())),
              S_OK);
    winplat::ComPtr<ISentrelSvcObj> plugin;
    if (factory) {
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_ISentrelSvcObj,
                                          reinterpret_cast<void**>(plugin.Put())),
                  S_OK);
    }
    return plugin;
}

inline std::u16string Wide(const std::string& ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::u16string wide(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide.data(), n);
    wide.resize(wide.size() - 1);
    return wide;
}

// Sets the instance name and loads the settings from a profile file.
inline void Configure(ISentrelSvcObj* plugin, const std::string& section,
                      const std::string& profilePath) {
    winplat::Bstr name(Wide(section));
    ASSERT_EQ(plugin->SetInstanceName(name.Get()), S_OK);
    winplat::Bstr path(Wide(profilePath));
    ASSERT_EQ(plugin->LoadConfig(path.Get()), S_OK);
}

// The log texts of a check.
inline std::string Checking(const std::string& s, const std::string& a) {
    return "Checking the NT Service " + s + " on " + a + "\r\n";
}
inline std::string ManagerFailure(const std::string& s, const std::string& a,
                                  const std::string& reason) {
    return "Failed to open the Service Control Manager for the NT Service " + s + " on " + a +
           ". Reason: " + reason + "\r\n";
}
inline std::string OpenFailure(const std::string& s, const std::string& a,
                               const std::string& reason) {
    return "Failed to open the NT Service " + s + " on " + a + ". Reason: " + reason + "\r\n";
}
inline std::string QueryFailure(const std::string& s, const std::string& a,
                                const std::string& reason) {
    return "QueryServiceStatus() API failed for NT Service " + s + " on " + a +
           ". Reason: " + reason + "\r\n";
}
inline std::string Status(const std::string& a, const std::string& s, const char* fields) {
    return a + "(" + s + ") SERVICE_STATUS " + fields + "\r\n";
}
inline std::string Success(const std::string& s, const std::string& a) {
    return "The check of the NT Service " + s + " on " + a + " succeeded.\r\n";
}
inline std::string Failure(const std::string& s, const std::string& a) {
    return "The check of the NT Service " + s + " on " + a + " failed.\r\n";
}
inline std::string RestartAttempt(const std::string& s, const std::string& a) {
    return "Attempting to RESTART the NT Service " + s + " on " + a + ".\r\n";
}
inline std::string RestartSuccess(const std::string& s, const std::string& a) {
    return "The RESTART the NT Service " + s + " on " + a + " was successful.\r\n";
}
inline std::string RestartFailure(const std::string& s, const std::string& a) {
    return "The RESTART the NT Service " + s + " on " + a + " failed.\r\n";
}

// The status fields of a service as the managers report them.
constexpr char kRunning[] =
    "dwServiceType=00000010, dwCurrentState=00000004, dwControlsAccepted=00000001, "
    "dwWin32ExitCode=0 (00000000), dwServiceSpecificExitCode=0 (00000000), dwCheckPoint=0, "
    "dwWaitHint=0mSec";
constexpr char kStopped[] =
    "dwServiceType=00000010, dwCurrentState=00000001, dwControlsAccepted=00000000, "
    "dwWin32ExitCode=0 (00000000), dwServiceSpecificExitCode=0 (00000000), dwCheckPoint=0, "
    "dwWaitHint=0mSec";

} // namespace prowlet_test
