// SvcRestart in process over the simulated service manager: every row of the start and
// stop tables, the failures before them, the instance file rules and the object's life.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <memory>
#include <string>

#include <winplat/comptr.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>

#include "instance_file.h"
#include "network.h"
#include "operator_script.h"
#include "recording_host.h"
#include "supervisord.h"
#include "svc_restart.h"
#include "svc_restart_dialog.h"
#include "testkit.h"

using testkit::RecordingHost;
using winplat::Bstr;
using winplat::ComPtr;

namespace {

constexpr char kClsid[] = "{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}";

const char kServices[] = R"([localhost]
[localhost\Alerter]
DisplayName=Alerter
State=stopped
[localhost\Spooler]
DisplayName=Print Spooler
State=running
[localhost\Starting]
State=start_pending
[PRN01\Spooler]
DisplayName=Print Spooler
State=stopped
[DOWN01]
Reachable=no
[LOCKED01]
Access=none
)";

// The platform's text for an error, as the log shows it.
std::string SystemText(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                       FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, code, 0x400, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = text ? text : "";
    LocalFree(text);
    return result;
}

class SvcRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        testkit::WriteFile(m_file, kServices);
        testkit::SetServiceManagerText("", "Backend", "simulated");
        testkit::SetServiceManagerText("", "SimulationFile", m_file.string());
        ASSERT_EQ(sentrel::CreateComponent<SvcRestart>(nullptr, IID_ISentrelNotification,
                                                       m_plugin.PutVoid()),
                  S_OK);
    }
    void TearDown() override {
        m_plugin.Reset();
        EXPECT_EQ(host.References(), 0u) << "the plug-in kept a host reference";
        EXPECT_EQ(g_pHost, nullptr) << "g_pHost outlived the object";
        CoUninitialize();
    }

    SvcRestart* Object() { return static_cast<SvcRestart*>(m_plugin.Get()); }
    void Init() { ASSERT_EQ(m_plugin->Initialize(&host), S_OK); }

    // Writes an instance file; returns its platform path.
    std::string Instance(const std::string& name, const std::string& host,
                         const std::string& service, const std::string& command) {
        return Raw(name, "[ServiceRestart\\" + name + "]\r\nCLSID=" + kClsid + "\r\nHost=" + host +
                             "\r\nService=" + service + "\r\nCommand=" + command + "\r\n");
    }
    std::string Raw(const std::string& name, const std::string& content) {
        testkit::WriteFile(m_dir / name, content);
        return testkit::ZPath(m_dir / name);
    }
    HRESULT Notify(const std::string& path) {
        Bstr b(testkit::Utf16(path));
        return m_plugin->Notify(b.Get());
    }
    // Adds a line to a section of the simulated manager's file.
    void Inject(const std::string& section, const std::string& line) {
        std::string text = testkit::ReadFile(m_file);
        std::string header = "[" + section + "]\n";
        size_t at = text.find(header);
        ASSERT_NE(at, std::string::npos);
        text.insert(at + header.size(), line + "\n");
        testkit::WriteFile(m_file, text);
    }
    std::string StateLine(const std::string& section) {
        std::string text = testkit::ReadFile(m_file);
        size_t at = text.find("[" + section + "]\n");
        size_t state = text.find("State=", at);
        return text.substr(state, text.find('\n', state) - state);
    }

    RecordingHost host;
    testkit::ScopedRegistry m_registry;
    testkit::TempDir m_dir;
    std::filesystem::path m_file = m_dir / "services.sim";
    ComPtr<ISentrelNotification> m_plugin;
};

struct Row {
    DWORD code;
    HRESULT hr;
    const char* message;
};

TEST_F(SvcRestartTest, EveryRowOfTheStartTable) {
    const Row rows[] = {
        {ERROR_PATH_NOT_FOUND, E_SERVICE_CONTROL, " - StartService Failed. Cause: "},
        {ERROR_ACCESS_DENIED, E_SERVICE_CONTROL, " - StartService Failed. Cause: "},
        {ERROR_INVALID_HANDLE, E_SERVICE_CONTROL, " - StartService Failed. Cause: "},
        {ERROR_SERVICE_DISABLED, E_SERVICE_CONTROL, " - StartService Failed. Cause: "},
        {ERROR_SERVICE_DEPENDENCY_FAIL, E_SERVICE_CONTROL, " - StartService Failed. Cause: "},
        {ERROR_SERVICE_LOGON_FAILED, E_SERVICE_CONTROL, " - StartService Failed. Cause: "},
        {ERROR_SERVICE_MARKED_FOR_DELETE, E_SERVICE_CONTROL, " - StartService Failed. Cause: "},
        {ERROR_SERVICE_DEPENDENCY_DELETED, E_SERVICE_CONTROL, " - StartService Failed. Cause: "},
        {ERROR_SERVICE_REQUEST_TIMEOUT, E_FAIL, " - StartService Failed. Cause: "},
        {ERROR_SERVICE_NO_THREAD, E_FAIL, " - StartService Failed. Cause: "},
        {ERROR_SERVICE_DATABASE_LOCKED, E_FAIL, " - StartService Failed. Cause: "},
        {ERROR_SERVICE_ALREADY_RUNNING, S_OK, " - StartService Return: "},
        {ERROR_FILE_NOT_FOUND, S_OK, " - StartService Return: "}, // any other
        {ERROR_PROCESS_ABORTED, S_OK, " - StartService Return: "},
    };
    Init();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        testkit::WriteFile(m_file, kServices);
        Inject("localhost\\Alerter", "StartError=" + std::to_string(row.code));
        std::string path = Instance("Start alerter", "", "Alerter", "Start");
        host.calls.clear();
        EXPECT_EQ(Notify(path), row.hr);
        EXPECT_EQ(host.calls,
                  std::vector<std::string>{path + row.message + SystemText(row.code) + "\r\n"});
        EXPECT_EQ(StateLine("localhost\\Alerter"), "State=stopped");
    }
}

TEST_F(SvcRestartTest, StartingARunningServiceReturnsItsText) {
    Init();
    std::string path = Instance("Spooler", "", "Spooler", "Start");
    EXPECT_EQ(Notify(path), S_OK);
    EXPECT_EQ(host.Log(), path + " - StartService Return: An instance of the service is already "
                                 "running.\r\n\r\n");
}

TEST_F(SvcRestartTest, EveryRowOfTheStopTable) {
    struct StopRow {
        const char* service;
        const char* inject; // a line for the service's section, or null
        DWORD code;
        HRESULT hr;
        const char* message;
    } rows[] = {
        {"Spooler", "StopError=1053", ERROR_SERVICE_REQUEST_TIMEOUT, E_FAIL,
         " ControlService Failed. Cause: "},
        // Still starting: the stop cannot be taken.
        {"Starting", nullptr, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, E_FAIL,
         " ControlService Failed. Cause: "},
        {"Starting", "StopError=1061", ERROR_SERVICE_CANNOT_ACCEPT_CTRL, E_FAIL,
         " ControlService Failed. Cause: "},
        // The same error in any other state counts as done.
        {"Spooler", "StopError=1061", ERROR_SERVICE_CANNOT_ACCEPT_CTRL, S_OK,
         " ControlService Return: "},
        {"Alerter", nullptr, ERROR_SERVICE_NOT_ACTIVE, S_OK, " ControlService Return: "},
        {"Spooler", "StopError=5", ERROR_ACCESS_DENIED, E_SERVICE_CONTROL,
         " ControlService Failed. Cause: "},
        {"Spooler", "Accept=none", ERROR_INVALID_SERVICE_CONTROL, E_SERVICE_CONTROL,
         " ControlService Failed. Cause: "},
        {"Spooler", "StopError=1064", ERROR_EXCEPTION_IN_SERVICE, E_SERVICE_CONTROL,
         " ControlService Failed. Cause: "},
    };
    Init();
    for (const StopRow& row : rows) {
        SCOPED_TRACE(std::string(row.service) + " " + (row.inject ? row.inject : ""));
        testkit::WriteFile(m_file, kServices);
        if (row.inject)
            Inject(std::string("localhost\\") + row.service, row.inject);
        std::string path = Instance("Stop", "", row.service, "Stop");
        host.calls.clear();
        EXPECT_EQ(Notify(path), row.hr);
        EXPECT_EQ(host.calls,
                  std::vector<std::string>{path + row.message + SystemText(row.code) + "\r\n"});
    }
}

TEST_F(SvcRestartTest, AcceptedStartAndStop) {
    Init();
    std::string start = Instance("Print on", "PRN01", "Spooler", "Start");
    EXPECT_EQ(Notify(start), S_OK);
    EXPECT_EQ(host.Log(),
              start + " - StartService Return OK - Service was started successfully.\r\n");
    EXPECT_EQ(StateLine("PRN01\\Spooler"), "State=running");

    host.calls.clear();
    std::string stop = Instance("Print off", "PRN01", "spooler", "Stop");
    EXPECT_EQ(Notify(stop), S_OK);
    EXPECT_EQ(host.Log(),
              stop + " - ControlService Stop Return OK - Service was stopped successfully.\r\n");
    EXPECT_EQ(StateLine("PRN01\\Spooler"), "State=stopped");
}

TEST_F(SvcRestartTest, OnlyTheExactWordStartStarts) {
    Init();
    for (const char* command : {"Stop", "stop", "START", "start", "", "Restart"}) {
        SCOPED_TRACE(command);
        testkit::WriteFile(m_file, kServices);
        host.calls.clear();
        EXPECT_EQ(Notify(Instance("Cmd", "", "Spooler", command)), S_OK);
        EXPECT_EQ(StateLine("localhost\\Spooler"), "State=stopped");
        EXPECT_THAT(host.Log(), ::testing::HasSubstr("ControlService Stop Return OK"));
    }
}

TEST_F(SvcRestartTest, FailuresBeforeTheRequest) {
    Init();
    struct {
        std::string host, service;
        const char* message;
        DWORD code;
    } rows[] = {
        {"DOWN01", "Spooler",
         " - Failed to connect to Service Manager. Cause: ", RPC_S_SERVER_UNAVAILABLE},
        {"NOWHERE", "Spooler",
         " - Failed to connect to Service Manager. Cause: ", RPC_S_SERVER_UNAVAILABLE},
        {"LOCKED01", "Spooler",
         " - Failed to connect to Service Manager. Cause: ", ERROR_ACCESS_DENIED},
        {"", "Nothing", " - OpenService Failed. Cause: ", ERROR_SERVICE_DOES_NOT_EXIST},
        // A display name is not a key name.
        {"", "Print Spooler", " - OpenService Failed. Cause: ", ERROR_SERVICE_DOES_NOT_EXIST},
        {"", "", " - OpenService Failed. Cause: ", ERROR_INVALID_NAME},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.host + "/" + row.service);
        host.calls.clear();
        std::string path = Instance("Fails", row.host, row.service, "Start");
        EXPECT_EQ(Notify(path), E_FAIL);
        EXPECT_EQ(host.calls,
                  std::vector<std::string>{path + row.message + SystemText(row.code) + "\r\n"});
    }
    testkit::WriteFile(m_file, kServices);
    Inject("localhost\\Spooler", "OpenError=1072");
    host.calls.clear();
    std::string path = Instance("Fails", "", "Spooler", "Stop");
    EXPECT_EQ(Notify(path), E_FAIL);
    EXPECT_EQ(host.Log(), path + " - OpenService Failed. Cause: The specified service has been "
                                 "marked for deletion.\r\n\r\n");
}

TEST_F(SvcRestartTest, PlaceholdersAreWholeFieldsExpandedByTheHost) {
    Init();
    std::vector<std::string> asked;
    host.expand = [&](std::u16string& text) {
        asked.push_back(testkit::Utf8(text));
        if (text == u"%h")
            text = u"PRN01";
        else if (text == u"%V")
            text = u"Spooler";
        return S_OK;
    };
    std::string path = Instance("Expand", "%h", "%V", "Start");
    EXPECT_EQ(Notify(path), S_OK);
    EXPECT_EQ(asked, (std::vector<std::string>{"%h", "%V"}));
    EXPECT_EQ(StateLine("PRN01\\Spooler"), "State=running");

    // A placeholder inside a longer name is not one.
    asked.clear();
    host.calls.clear();
    path = Instance("Inside", "srv-%H", "x%V", "Start");
    EXPECT_EQ(Notify(path), E_FAIL);
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(host.Log(), path + " - Failed to connect to Service Manager. Cause: " +
                              SystemText(RPC_S_SERVER_UNAVAILABLE) + "\r\n");
}

TEST_F(SvcRestartTest, AFailedExpansionIsLoggedPerField) {
    Init();
    host.expand = [](std::u16string& text) { return text == u"%H" ? E_FAIL : S_OK; };
    std::string path = Instance("Host", "%H", "Spooler", "Stop");
    EXPECT_EQ(Notify(path), E_FAIL);
    EXPECT_EQ(host.Log(), path + " - Failed to format string %h.\r\n");

    host.calls.clear();
    host.expand = [](std::u16string& text) { return text == u"%v" ? E_FAIL : S_OK; };
    path = Instance("Service", "", "%v", "Stop");
    EXPECT_EQ(Notify(path), E_FAIL);
    EXPECT_EQ(host.Log(), path + " - Failed to format string %v.\r\n");
    EXPECT_EQ(StateLine("localhost\\Spooler"), "State=running");
}

TEST_F(SvcRestartTest, EmptyPathAndUninitialisedObject) {
    std::string path = Instance("Quiet", "", "Spooler", "Stop");
    EXPECT_EQ(m_plugin->Notify(nullptr), E_FAIL);
    EXPECT_EQ(Notify(""), E_FAIL);
    EXPECT_EQ(Notify(path), S_OK) << "nothing to do before Initialize";
    EXPECT_EQ(StateLine("localhost\\Spooler"), "State=running");
    Init();
    EXPECT_EQ(m_plugin->Notify(nullptr), E_FAIL);
    EXPECT_EQ(Notify(""), E_FAIL);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(SvcRestartTest, AFileWithOnlyAServiceStopsItOnThisMachine) {
    Init();
    std::string path = Raw("Only service", std::string("[ServiceRestart\\Only service]\r\nCLSID=") +
                                               kClsid + "\r\nService=Spooler\r\n");
    std::string host_, service, command = "unchanged";
    Bstr b(testkit::Utf16(path));
    ASSERT_EQ(Object()->LoadRestartInstance(b.Get(), host_, service, command), S_OK);
    EXPECT_EQ(host_, "");
    EXPECT_EQ(service, "Spooler");
    EXPECT_EQ(command, "");
    EXPECT_EQ(Notify(path), S_OK);
    EXPECT_EQ(StateLine("localhost\\Spooler"), "State=stopped");
}

TEST_F(SvcRestartTest, InstanceFilesThatDoNotLoad) {
    Init();
    const std::pair<const char*, std::string> files[] = {
        {"Lower clsid", "[ServiceRestart\\Lower clsid]\r\nCLSID={f28c09e9-d135-4e93-ad37-"
                        "73cca41e8d2a}\r\nService=Spooler\r\n"},
        {"No keys", std::string("[ServiceRestart\\No keys]\r\nCLSID=") + kClsid + "\r\n"},
        {"Other section",
         std::string("[ServiceRestart\\Renamed]\r\nCLSID=") + kClsid + "\r\nService=Spooler\r\n"},
        {"Other type", "[ServiceRestart\\Other type]\r\nCLSID={69DD7B00-B669-11D4-804A-"
                       "0001025EB176}\r\nService=Spooler\r\n"},
        {"No section", "Service=Spooler\r\n"},
        {"Empty", ""},
    };
    for (const auto& [name, content] : files) {
        SCOPED_TRACE(name);
        host.calls.clear();
        std::string path = Raw(name, content);
        EXPECT_EQ(Notify(path), E_FAIL);
        EXPECT_EQ(host.Log(), path + " - Failed to load notification from disk.\r\n");
    }
    host.calls.clear();
    std::string missing = testkit::ZPath(m_dir / "missing");
    EXPECT_EQ(Notify(missing), E_FAIL);
    EXPECT_EQ(host.Log(), missing + " - Failed to load notification from disk.\r\n");
    EXPECT_EQ(StateLine("localhost\\Spooler"), "State=running");
}

TEST_F(SvcRestartTest, LoadFindsTheSectionByTheFileName) {
    // Section and keys match without regard to case; a value is all after the first "=".
    std::string path = Raw("Mixed", std::string("[servicerestart\\MIXED]\r\nclsid=") + kClsid +
                                        "\r\nHOST=a=b\r\ncommand=Start\r\n");
    std::string host_ = "x", service = "y", command = "z";
    Bstr b(testkit::Utf16(path));
    ASSERT_EQ(Object()->LoadRestartInstance(b.Get(), host_, service, command), S_OK);
    EXPECT_EQ(host_, "a=b");
    EXPECT_EQ(service, "");
    EXPECT_EQ(command, "Start");

    // The first "/" of the path counts as a separator.
    std::string slashedPath = testkit::ZPath(m_dir.path()) + "/Mixed";
    Bstr slashed(testkit::Utf16(slashedPath));
    host_.clear();
    EXPECT_EQ(Object()->LoadRestartInstance(slashed.Get(), host_, service, command), S_OK);
    EXPECT_EQ(host_, "a=b");

    // A wrong CLSID leaves the outputs untouched.
    std::string wrong = Raw("Wrong", "[ServiceRestart\\Wrong]\r\nCLSID={0}\r\nHost=h\r\n");
    Bstr w(testkit::Utf16(wrong));
    host_ = "kept";
    EXPECT_EQ(Object()->LoadRestartInstance(w.Get(), host_, service, command), E_FAIL);
    EXPECT_EQ(host_, "kept");
}

TEST_F(SvcRestartTest, SaveWritesTheWholeFileAnew) {
    std::string path = Raw("Restart spooler", "[Other]\r\nKey=1\r\n[ServiceRestart\\Restart "
                                              "spooler]\r\nExtra=1\r\nHost=old\r\n");
    Bstr b(testkit::Utf16(path));
    ASSERT_EQ(Object()->SaveRestartInstance(b.Get(), "PRN01", "Spooler", "Start"), S_OK);
    EXPECT_EQ(testkit::ReadFile(m_dir / "Restart spooler"),
              std::string("[ServiceRestart\\Restart spooler]\r\nCLSID=") + kClsid +
                  "\r\nHost=PRN01\r\nService=Spooler\r\nCommand=Start\r\n");
    std::string host_, service, command;
    ASSERT_EQ(Object()->LoadRestartInstance(b.Get(), host_, service, command), S_OK);
    EXPECT_EQ(host_ + "|" + service + "|" + command, "PRN01|Spooler|Start");
}

TEST_F(SvcRestartTest, AFailedSaveIsLoggedWhileAHostIsHeld) {
    std::string path = testkit::ZPath(m_dir / "no such folder" / "X");
    Bstr b(testkit::Utf16(path));
    EXPECT_EQ(Object()->SaveRestartInstance(b.Get(), "h", "s", "Start"), E_FAIL);
    EXPECT_TRUE(host.calls.empty());
    Init();
    EXPECT_EQ(Object()->SaveRestartInstance(b.Get(), "h", "s", "Start"), E_FAIL);
    EXPECT_EQ(host.calls, std::vector<std::string>{
                              path + " Service Restart Notification - Failed saving file.\r\n"});
}

// The writer the settings dialog will use refuses what the file could not give back.
TEST_F(SvcRestartTest, SaveRefusesWhatCouldNotBeReadBack) {
    Init();
    const struct {
        std::string name;
        std::string service;
        std::vector<std::string> reason; // logged before the save failure
    } cases[] = {
        {"a]b", "Spooler", {}},
        {std::string(245, 'n'), "Spooler", {}}, // "ServiceRestart\\" and 245 bytes: over 259
        {"Long",
         std::string(2040, 's'),
         {" Notification - The value of Service is too long to save: 2040 bytes, at most 2039 "
          "fit in a line of the file."}},
        {"Break",
         "Spooler\nHost=evil",
         {" Notification - The value of Service holds a line break, "
          "which a line of the file cannot hold."}},
    };
    for (const auto& c : cases) {
        host.calls.clear();
        const std::string path = testkit::ZPath(m_dir / c.name);
        Bstr b(testkit::Utf16(path));
        EXPECT_EQ(Object()->SaveRestartInstance(b.Get(), "PRN01", c.service, "Start"), E_FAIL);
        std::vector<std::string> expected;
        for (const std::string& line : c.reason)
            expected.push_back(path + line + "\r\n");
        expected.push_back(path + " Service Restart Notification - Failed saving file.\r\n");
        EXPECT_EQ(host.calls, expected) << c.name.substr(0, 10);
        EXPECT_FALSE(std::filesystem::exists(m_dir / c.name));
    }
    EXPECT_TRUE(sentrel::IsReadableInstanceName("ServiceRestart", std::string(244, 'n')));
    EXPECT_FALSE(sentrel::IsReadableInstanceName("ServiceRestart", std::string(245, 'n')));
}

TEST_F(SvcRestartTest, InitializeOnceAndOnlyWithAHost) {
    EXPECT_EQ(m_plugin->Initialize(nullptr), E_FAIL);
    RecordingHost mute;
    mute.answerHost = false;
    EXPECT_EQ(m_plugin->Initialize(&mute), E_FAIL);
    EXPECT_EQ(mute.References(), 0u);
    EXPECT_EQ(m_plugin->UnInitialize(), S_OK);

    Init();
    EXPECT_EQ(host.hostQueries, 1);
    RecordingHost other;
    EXPECT_EQ(m_plugin->Initialize(&other), S_OK);
    EXPECT_EQ(other.hostQueries, 0);
    EXPECT_EQ(host.hostQueries, 1);
    EXPECT_EQ(host.References(), 1u);
    EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
    EXPECT_EQ(host.References(), 0u);
    EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
    Init(); // again after UnInitialize
    EXPECT_EQ(host.hostQueries, 2);
}

TEST_F(SvcRestartTest, InterfacesAndErrorInfo) {
    ComPtr<ISupportErrorInfo> info;
    ASSERT_EQ(m_plugin->QueryInterface(IID_ISupportErrorInfo, info.PutVoid()), S_OK);
    EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_ISentrelNotification), S_OK);
    EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_ISentrelNotificationConfig), S_OK);
    EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_ISentrelNotificationWeb), S_FALSE);
    EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
    ComPtr<ISentrelNotificationWeb> web;
    EXPECT_EQ(m_plugin->QueryInterface(IID_ISentrelNotificationWeb, web.PutVoid()), E_NOINTERFACE);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(m_plugin->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.Get()), static_cast<void*>(info.Get()))
        << "the first interface of the table serves IUnknown";
}

TEST_F(SvcRestartTest, IconAndDialogs) {
    ComPtr<ISentrelNotificationConfig> config;
    ASSERT_EQ(m_plugin->QueryInterface(IID_ISentrelNotificationConfig, config.PutVoid()), S_OK);
    for (int round = 0; round < 2; ++round) {
        HINSTANCE instance = nullptr;
        unsigned int id = 0;
        EXPECT_EQ(config->GetIcon(&instance, &id), S_OK);
        EXPECT_EQ(instance, sentrel::ComponentModule::GetModuleInstance());
        EXPECT_EQ(id, 206u);
        EXPECT_NE(FindResourceA(instance, MAKEINTRESOURCEA(id), RT_GROUP_ICON), nullptr);
        EXPECT_NE(FindResourceA(instance, MAKEINTRESOURCEA(201), RT_GROUP_ICON), nullptr);
        if (round == 0)
            Init();
    }
    Bstr dir(testkit::Utf16(testkit::ZPath(m_dir.path())));
    std::vector<std::string> transcript;
    auto play = [&](std::vector<std::string> lines) {
        return std::make_unique<host::OperatorScript>(
            std::move(lines), [&](const std::string& line) { transcript.push_back(line); });
    };
    // Cancel in either dialog leaves the caller's name alone.
    BSTR name = SysAllocString(u"Keep");
    {
        auto op = play({"click 2"});
        EXPECT_EQ(config->NewInstanceDialog(dir.Get(), &name), E_FAIL);
    }
    Instance("Keep", "PRN01", "Spooler", "Start");
    {
        auto op = play({"click 2"});
        EXPECT_EQ(config->EditInstanceDialog(dir.Get(), &name), E_FAIL);
    }
    EXPECT_EQ(testkit::Utf8(std::u16string(name)), "Keep");
    // OK in edit mode replaces the caller's BSTR with the new name.
    {
        auto op = play({"type 201 Kept", "click 1"});
        EXPECT_EQ(config->EditInstanceDialog(dir.Get(), &name), S_OK);
    }
    EXPECT_EQ(testkit::Utf8(std::u16string(name)), "Kept");
    SysFreeString(name);
    BSTR fresh = nullptr;
    {
        auto op = play({"type 201 Fresh", "type 202 PRN01", "type 203 Spooler", "click 1"});
        EXPECT_EQ(config->NewInstanceDialog(dir.Get(), &fresh), S_OK);
    }
    EXPECT_EQ(testkit::Utf8(std::u16string(fresh)), "Fresh");
    SysFreeString(fresh);
    EXPECT_EQ(testkit::ReadFile(m_dir / "Kept"),
              "[ServiceRestart\\Kept]\r\nCLSID=" + std::string(kClsid) +
                  "\r\nHost=PRN01\r\nService=Spooler\r\nCommand=Start\r\n");
    EXPECT_TRUE(std::filesystem::exists(m_dir / "Keep"));
}

// The host browser on its own, for what only a double can show: no host callback, and a
// buffer that cannot be had or enlarged.
class HostBrowserTest : public SvcRestartTest {
protected:
    void SetUp() override {
        SvcRestartTest::SetUp();
        std::string text;
        for (int i = 10; i < 70; ++i)
            text += "[\\\\host" + std::to_string(i) + "]\n";
        testkit::WriteFile(m_dir / "network.sim", "MoreData=yes\n" + text);
        testkit::UseSimulatedNetwork(m_dir / "network.sim");
    }
    void TearDown() override {
        CNetHostDialog::s_pfnReallocate = &std::realloc;
        SvcRestartTest::TearDown();
    }
    // Runs the browser with a script; the transcript and the dialog's result.
    INT_PTR Run(std::vector<std::string> lines, std::string* pSelected = nullptr) {
        afx::CModuleState state(sentrel::ComponentModule::GetModuleInstance());
        host::OperatorScript op(std::move(lines),
                                [&](const std::string& line) { transcript.push_back(line); });
        CNetHostDialog dlg(nullptr);
        INT_PTR result = dlg.DoModal();
        if (pSelected)
            *pSelected = dlg.m_strSelected;
        return result;
    }
    static void* NoMemory(void*, size_t) { return nullptr; }
    static void* NoMoreThanOneBuffer(void* p, size_t size) {
        return p ? nullptr : std::realloc(p, size);
    }
    std::vector<std::string> transcript;
};

TEST_F(HostBrowserTest, WithoutAHostCallbackAFailureToOpenShowsNothing) {
    testkit::WriteFile(m_dir / "network.sim", "OpenError=1222\n");
    std::string selected = "x";
    EXPECT_EQ(Run({"click 1"}, &selected), IDOK);
    EXPECT_EQ(transcript, (std::vector<std::string>{"open 20024 \"Network Neighborhood Scan\"",
                                                    "focus 212", "close 20024 OK"}));
    EXPECT_EQ(selected, "");
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(HostBrowserTest, NoBufferAtAll) {
    Init();
    CNetHostDialog::s_pfnReallocate = &NoMemory;
    EXPECT_EQ(Run({"answer OK", "dump", "click 2"}), IDCANCEL);
    const std::string failed =
        "\"Failed to enumerate Domain/Host Names. Please enter host name manually.\\r\\n\"";
    EXPECT_EQ(transcript, (std::vector<std::string>{
                              "box \"Error\" " + failed, "answer OK",
                              "open 20024 \"Network Neighborhood Scan\"", "focus 212",
                              "control - static \"&Select Host:\"", "control 212 list \"\"",
                              "control 1 button \"OK\"", "control 2 button \"Cancel\"",
                              "control 9 button \"Help\"", "close 20024 Cancel"}));
    EXPECT_EQ(host.calls, (std::vector<std::string>{
                              "Insufficient memory to enumerate Domain/Host Names.\r\n"}));
}

TEST_F(HostBrowserTest, ABufferThatCannotBeEnlargedKeepsWhatWasListed) {
    Init();
    CNetHostDialog::s_pfnReallocate = &NoMoreThanOneBuffer;
    EXPECT_EQ(Run({"dump", "click 1"}), IDOK);
    // No box, no title, nothing selected; the first buffer's machines are listed.
    ASSERT_GE(transcript.size(), 4u);
    EXPECT_EQ(transcript[0], "open 20024 \"Network Neighborhood Scan\"");
    EXPECT_EQ(transcript[3].rfind("control 212 list \"\" items \"host10\"", 0), 0u)
        << transcript[3];
    EXPECT_EQ(transcript[3].find("selected"), std::string::npos);
    EXPECT_EQ(transcript[3].find("host69"), std::string::npos);
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{"Insufficient memory to enumerate Domain/Host Names."}));
}

TEST_F(SvcRestartTest, TheStringTableHoldsTheDialogTexts) {
    HINSTANCE module = sentrel::ComponentModule::GetModuleInstance();
    auto text = [&](UINT id) {
        char buffer[512] = {};
        int n = LoadStringA(module, id, buffer, sizeof buffer);
        return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    };
    EXPECT_EQ(text(101), "Edit Service Restart Notification");
    EXPECT_EQ(text(102), "Select Service On ");
    EXPECT_EQ(text(103), "Network Neighborhood");
    EXPECT_EQ(text(105), "The 'Display name' has illegal filename characters in it.\nPlease "
                         "remove all illegal characters and try again.\n\nNOTE: Illegal "
                         "characters are as follows * : ? < > | / \\ \" [ ]");
    EXPECT_EQ(text(106), "*:?<>\"|/\\[]");
    EXPECT_EQ(text(107), "New Service Restart Notification");
}

// g_pHost is the host of the object initialised last and never outlives its reference.
TEST_F(SvcRestartTest, ModuleHostFollowsTheObjectsThatHoldOne) {
    EXPECT_EQ(g_pHost, nullptr);
    Init();
    EXPECT_EQ(g_pHost, static_cast<ISentrelNotifyHost*>(&host));

    RecordingHost second;
    {
        ComPtr<ISentrelNotification> other;
        ASSERT_EQ(sentrel::CreateComponent<SvcRestart>(nullptr, IID_ISentrelNotification,
                                                       other.PutVoid()),
                  S_OK);
        ASSERT_EQ(other->Initialize(&second), S_OK);
        EXPECT_EQ(g_pHost, static_cast<ISentrelNotifyHost*>(&second));
        EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
        EXPECT_EQ(g_pHost, static_cast<ISentrelNotifyHost*>(&second));
        Init();
        EXPECT_EQ(g_pHost, static_cast<ISentrelNotifyHost*>(&host));
        // Destroyed while initialised: its host is released and no longer shared.
    }
    EXPECT_EQ(second.References(), 0u);
    EXPECT_EQ(g_pHost, static_cast<ISentrelNotifyHost*>(&host));
    {
        ComPtr<ISentrelNotification> other;
        ASSERT_EQ(sentrel::CreateComponent<SvcRestart>(nullptr, IID_ISentrelNotification,
                                                       other.PutVoid()),
                  S_OK);
        ASSERT_EQ(other->Initialize(&second), S_OK);
        EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
        EXPECT_EQ(g_pHost, static_cast<ISentrelNotifyHost*>(&second));
        EXPECT_EQ(other->UnInitialize(), S_OK);
        EXPECT_EQ(g_pHost, nullptr);
    }
}

} // namespace
