// check and plugins: the host's side of the service-check plug-ins, found through the
// host's plug-in list (HKLM\Software\Calvaro\Sentrel\plugins: value name = ProgID, data =
// class identifier).
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <sentrel/service_check.h>
#include <winplat/comptr.h>
#include <winplat/winbase.h>
#include <winplat/winreg.h>
#include <winplat/winuser.h>

#include "host.h"
#include "notify_host.h"

namespace host {

namespace {

constexpr char kPluginListKey[] = "Software\\Calvaro\\Sentrel\\plugins";
constexpr char kLogWindowClass[] = "SentrelHostLog";

// The host's text is UTF-8, a plug-in's ANSI.
std::string AnsiFromUtf8(const std::string& utf8) {
    std::u16string wide = Utf16(utf8);
    int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), n, nullptr, nullptr);
    ansi.resize(ansi.size() - 1);
    return ansi;
}

std::string Utf8FromAnsi(const char* ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    std::u16string wide(static_cast<size_t>(n > 0 ? n : 1), u'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), n);
    wide.resize(wide.size() - 1);
    return Utf8(wide);
}

// The plug-in list: (value name, class identifier) in the order the registry lists them.
std::vector<std::pair<std::string, std::string>> ListPlugins() {
    HKEY hList = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPluginListKey, 0, KEY_READ, &hList);
    if (rc == ERROR_FILE_NOT_FOUND)
        throw UsageError("the host's keys are missing from the registry (run sentrel init)");
    if (rc != ERROR_SUCCESS)
        throw UsageError(RegistryProblem(rc));
    std::vector<std::pair<std::string, std::string>> plugins;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD cchName = sizeof name;
        BYTE data[256] = {};
        DWORD cbData = sizeof data - 1;
        DWORD type = 0;
        if (RegEnumValueA(hList, index, name, &cchName, nullptr, &type, data, &cbData) !=
            ERROR_SUCCESS)
            break;
        if (type == REG_SZ)
            plugins.emplace_back(name, reinterpret_cast<const char*>(data));
    }
    RegCloseKey(hList);
    return plugins;
}

// Creates the service-check object of a plug-in list entry.
winplat::ComPtr<ISentrelSvcObj> CreateCheckPlugin(const std::string& name,
                                                  const std::string& clsid) {
    NotificationType entry{name, name, clsid, ""};
    winplat::ComPtr<ISentrelSvcObj> plugin;
    plugin.Attach(static_cast<ISentrelSvcObj*>(CreatePlugin(entry, IID_ISentrelSvcObj)));
    return plugin;
}

// The log window Prowlet writes to: each line goes to standard output as it comes.
LRESULT LogWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == SENTREL_WM_LOG_LINE && lParam) {
        std::fputs(Utf8FromAnsi(reinterpret_cast<const char*>(lParam)).c_str(), stdout);
        std::fflush(stdout);
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

class LogWindow {
public:
    LogWindow() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = LogWindowProc;
        wc.lpszClassName = kLogWindowClass;
        RegisterClassA(&wc);
        m_hWnd = CreateWindowExA(0, kLogWindowClass, "Log", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 nullptr, nullptr);
        if (!m_hWnd)
            throw UsageError("cannot create the log window");
    }
    ~LogWindow() { DestroyWindow(m_hWnd); }
    LogWindow(const LogWindow&) = delete;
    LogWindow& operator=(const LogWindow&) = delete;
    HWND Get() const { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
};

// The monitored machine as the host hands it to a check.
class CheckTarget final : public ISentrelCheckTarget {
public:
    explicit CheckTarget(std::string address) : m_address(std::move(address)) {}

    const char* GetDeviceName() override { return m_address.c_str(); }
    DWORD GetDeviceId() override { return 1; }
    BOOL IsMonitored() override { return TRUE; }
    DWORD GetTimeout() override { return 0; }
    const char* GetAddress() override { return m_address.c_str(); }
    void SetResult(LONG lResult) override { m_result = lResult; }
    void SetElapsedTime(DWORD dwMilliseconds) override { m_elapsed = dwMilliseconds; }

    LONG Result() const { return m_result; }
    DWORD Elapsed() const { return m_elapsed; }

private:
    std::string m_address;
    LONG m_result = -1;
    DWORD m_elapsed = 0;
};

void Require(HRESULT hr, const char* what) {
    if (hr != S_OK)
        throw UsageError(std::string(what) + " failed: " + HresultText(hr));
}

} // namespace

int CommandCheck(const Args& args) {
    std::string profile, section, address;
    bool haveProfile = false, haveSection = false, haveAddress = false;
    for (size_t i = 0; i < args.size(); ++i) {
        auto value = [&](const char* option) -> std::string {
            if (i + 1 >= args.size())
                throw UsageError(std::string("check: ") + option + " needs a value");
            return args[++i];
        };
        if (args[i] == "--profile")
            profile = value("--profile"), haveProfile = true;
        else if (args[i] == "--section")
            section = value("--section"), haveSection = true;
        else if (args[i] == "--address")
            address = value("--address"), haveAddress = true;
        else
            throw UsageError("check: unexpected argument " + args[i]);
    }
    if (!haveProfile || !haveSection || !haveAddress)
        throw UsageError("check needs --profile FILE --section NAME --address ADDR");

    std::string clsid;
    for (const auto& [name, id] : ListPlugins())
        if (name == "Prowlet.1")
            clsid = id;
    if (clsid.empty())
        throw UsageError("Prowlet.1 is not in the host's plug-in list (register prowlet.so)");
    winplat::ComPtr<ISentrelSvcObj> plugin = CreateCheckPlugin("Prowlet.1", clsid);

    LogWindow log;
    Require(plugin->SetLogWindow(log.Get()), "SetLogWindow");
    winplat::Bstr bstrSection(Utf16(section));
    Require(plugin->SetInstanceName(bstrSection.Get()), "SetInstanceName");
    winplat::Bstr bstrProfile(Utf16(PluginPath(profile)));
    Require(plugin->LoadConfig(bstrProfile.Get()), "LoadConfig");

    CheckTarget target(AnsiFromUtf8(address));
    LONG lResult = 0;
    Require(plugin->Check(&target, &lResult), "Check");
    plugin->SetLogWindow(nullptr);
    plugin.Reset();
    std::fflush(stdout);
    std::fprintf(stderr, "result=%ld elapsed=%lu\n", static_cast<long>(target.Result()),
                 static_cast<unsigned long>(target.Elapsed()));
    return target.Result() == 0 ? 0 : 1;
}

int CommandPlugins(const Args& args) {
    if (!args.empty())
        throw UsageError("plugins takes no arguments");
    int status = 0;
    for (const auto& [name, clsid] : ListPlugins()) {
        std::string typeName;
        try {
            winplat::ComPtr<ISentrelSvcObj> plugin = CreateCheckPlugin(name, clsid);
            BSTR bstrType = nullptr;
            if (plugin->GetTypeName(&bstrType) == S_OK && bstrType)
                typeName = Utf8(std::u16string(bstrType, SysStringLen(bstrType)));
            SysFreeString(bstrType);
        } catch (const UsageError& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "sentrel: %s\n", e.what());
            status = 1;
        }
        std::printf("%s\t%s\t%s\n", name.c_str(), clsid.c_str(), typeName.c_str());
    }
    return status;
}

} // namespace host
