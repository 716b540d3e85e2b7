// The service control manager over a real supervisord that the fixture starts on a
// loopback port. The fixture reads supervisord's own view over its own XML-RPC requests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <regex>

#include <winplat/winbase.h>
#include <winplat/winsvc.h>

#include "supervisord.h"
#include "testkit.h"

namespace {

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle = nullptr) : m_handle(handle) {}
    ~ScHandle() {
        if (m_handle)
            CloseServiceHandle(m_handle);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    SC_HANDLE m_handle;
};

std::vector<testkit::SupervisedProgram> Programs(const testkit::TempDir& dir) {
    testkit::WriteFile(dir / "not-executable", "#!/bin/sh\n");
    auto program = [](const char* name) {
        testkit::SupervisedProgram p;
        p.name = name;
        return p;
    };
    std::vector<testkit::SupervisedProgram> programs;
    programs.push_back(program("idle"));
    programs.push_back(program("busy"));
    programs.back().autostart = true;
    programs.push_back(program("slow"));
    programs.back().startsecs = 60;
    programs.push_back(program("api"));
    programs.back().group = "web";
    programs.push_back(program("worker"));
    programs.back().group = "web";
    programs.push_back(program("missing"));
    programs.back().command = "/nonexistent/program";
    programs.push_back(program("noexec"));
    programs.back().command = (dir / "not-executable").string();
    // Ignores SIGTERM, so a stop leaves it STOPPING until the test kills it.
    programs.push_back(program("stubborn"));
    programs.back().command = "/bin/sh -c \"trap '' TERM; exec /bin/sleep 1000\"";
    programs.back().stopwaitsecs = 120;
    programs.back().autostart = true;
    return programs;
}

class SupervisordManager : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_files = std::make_unique<testkit::TempDir>();
        s_server = std::make_unique<testkit::Supervisord>(Programs(*s_files));
    }
    static void TearDownTestSuite() {
        s_server.reset();
        s_files.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(s_server->WaitForState("busy", "RUNNING"));
        ASSERT_TRUE(s_server->WaitForState("stubborn", "RUNNING"));
        s_server->Configure("localhost");
    }

    static testkit::Supervisord& Server() { return *s_server; }

    testkit::ScopedRegistry m_registry;
    static std::unique_ptr<testkit::TempDir> s_files;
    static std::unique_ptr<testkit::Supervisord> s_server;
};

std::unique_ptr<testkit::TempDir> SupervisordManager::s_files;
std::unique_ptr<testkit::Supervisord> SupervisordManager::s_server;

TEST_F(SupervisordManager, StartsAStoppedProgramAndStopsItAgain) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager) << GetLastError();
    ScHandle service(OpenServiceA(manager.get(), "idle", 0x34));
    ASSERT_TRUE(service) << GetLastError();
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(status.dwServiceType, (DWORD)SERVICE_WIN32_OWN_PROCESS);

    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    EXPECT_TRUE(Server().WaitForState("idle", "RUNNING"));
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(status.dwControlsAccepted, (DWORD)SERVICE_ACCEPT_STOP);

    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_THAT(status.dwCurrentState,
                ::testing::AnyOf((DWORD)SERVICE_STOP_PENDING, (DWORD)SERVICE_STOPPED));
    EXPECT_TRUE(Server().WaitForState("idle", "STOPPED"));
}

TEST_F(SupervisordManager, StartingARunningProgramIsAlreadyRunning) {
    ScHandle manager(OpenSCManagerA("localhost", nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceA(manager.get(), "busy", SERVICE_START));
    ASSERT_TRUE(service) << GetLastError();
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(Server().StateOf("busy"), "RUNNING");
}

TEST_F(SupervisordManager, StoppingAStoppedProgramIsNotActive) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceA(manager.get(), "idle", SERVICE_STOP));
    SERVICE_STATUS status{};
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED);
}

TEST_F(SupervisordManager, AStartingProgramIsStartPendingAndCanBeStopped) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceA(manager.get(), "slow", 0x34));
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_START_PENDING);
    EXPECT_EQ(Server().StateOf("slow"), "STARTING");
    // supervisord takes a stop while a program starts.
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(Server().WaitForState("slow", "STOPPED"));
}

TEST_F(SupervisordManager, AProgramStillStoppingCannotTakeAnotherStop) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceA(manager.get(), "stubborn", 0x34));
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    ASSERT_EQ(Server().StateOf("stubborn"), "STOPPING");
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);

    // End the program so that the next test finds it running again.
    std::string info = Server().Post(
        "<?xml version=\"1.0\"?><methodCall><methodName>supervisor.getProcessInfo</methodName>"
        "<params><param><value><string>stubborn</string></value></param></params></methodCall>");
    std::smatch pid;
    ASSERT_TRUE(
        std::regex_search(info, pid, std::regex("<name>pid</name>\\s*<value>\\s*<int>(\\d+)")));
    kill(std::stoi(pid[1]), SIGKILL);
    ASSERT_TRUE(Server().WaitForState("stubborn", "STOPPED"));
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
}

TEST_F(SupervisordManager, GroupedProgramsAreNamedWithTheirGroup) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceA(manager.get(), "web:api", 0x34));
    ASSERT_TRUE(service) << GetLastError();
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    EXPECT_TRUE(Server().WaitForState("web:api", "RUNNING"));
    EXPECT_EQ(Server().StateOf("web:worker"), "STOPPED");
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(Server().WaitForState("web:api", "STOPPED"));

    EXPECT_EQ(OpenServiceA(manager.get(), "api", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(SupervisordManager, FaultsBecomeServiceErrors) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    EXPECT_EQ(OpenServiceA(manager.get(), "nosuchprogram", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_DOES_NOT_EXIST);

    ScHandle missing(OpenServiceA(manager.get(), "missing", SERVICE_START));
    EXPECT_FALSE(StartServiceA(missing.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);

    ScHandle noexec(OpenServiceA(manager.get(), "noexec", SERVICE_START));
    EXPECT_FALSE(StartServiceA(noexec.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);

    ScHandle busy(OpenServiceA(manager.get(), "busy", SERVICE_ALL_ACCESS));
    SERVICE_STATUS status{};
    EXPECT_FALSE(ControlService(busy.get(), SERVICE_CONTROL_PAUSE, &status));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_TRUE(ControlService(busy.get(), SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(Server().StateOf("busy"), "RUNNING");
}

TEST_F(SupervisordManager, UnreachableOrRefusingManagers) {
    testkit::SetServiceManagerNumber("localhost", "Port", testkit::UnusedPort());
    EXPECT_EQ(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)RPC_S_SERVER_UNAVAILABLE);

    Server().Configure("localhost");
    testkit::SetServiceManagerText("localhost", "Password", "wrong");
    EXPECT_EQ(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);

    EXPECT_EQ(OpenSCManagerA("nosuchhost.invalid", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(SupervisordManager, AMachineNameAddressesTheServerConfiguredForIt) {
    Server().Configure("PRN01");
    testkit::SetServiceManagerNumber("localhost", "Port", testkit::UnusedPort());
    for (const char* name : {"PRN01", "prn01", "\\\\PRN01"}) {
        ScHandle manager(OpenSCManagerA(name, nullptr, SC_MANAGER_CONNECT));
        ASSERT_TRUE(manager) << name << " " << GetLastError();
        ScHandle service(OpenServiceA(manager.get(), "busy", SERVICE_QUERY_STATUS));
        EXPECT_TRUE(service) << name;
    }
    EXPECT_EQ(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT), nullptr);
}

TEST_F(SupervisordManager, EnumerationListsEveryProgramInBatches) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    ASSERT_TRUE(manager);
    std::vector<std::pair<std::string, DWORD>> listed;
    DWORD resume = 0;
    int calls = 0;
    for (;;) {
        std::vector<char> buffer(2 * sizeof(ENUM_SERVICE_STATUSA) + 40);
        DWORD needed = 0, returned = 0;
        BOOL done =
            EnumServicesStatusA(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL,
                                reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                                static_cast<DWORD>(buffer.size()), &needed, &returned, &resume);
        ASSERT_TRUE(done || GetLastError() == ERROR_MORE_DATA) << GetLastError();
        ASSERT_LT(++calls, 20);
        for (DWORD i = 0; i < returned; ++i) {
            ENUM_SERVICE_STATUSA record;
            memcpy(&record, buffer.data() + i * sizeof record, sizeof record);
            EXPECT_STREQ(record.lpServiceName, record.lpDisplayName);
            EXPECT_GE(record.lpServiceName, buffer.data());
            EXPECT_LT(record.lpServiceName, buffer.data() + buffer.size());
            listed.emplace_back(record.lpServiceName, record.ServiceStatus.dwCurrentState);
        }
        if (done)
            break;
    }
    EXPECT_GT(calls, 1);
    using ::testing::Contains;
    using ::testing::Pair;
    EXPECT_THAT(listed, Contains(Pair("busy", (DWORD)SERVICE_RUNNING)));
    EXPECT_THAT(listed, Contains(Pair("idle", (DWORD)SERVICE_STOPPED)));
    EXPECT_THAT(listed, Contains(Pair("web:api", ::testing::_)));
    EXPECT_THAT(listed, Contains(Pair("web:worker", ::testing::_)));
    EXPECT_EQ(listed.size(), 8u);

    DWORD needed = 0, returned = 0;
    resume = 0;
    EXPECT_TRUE(EnumServicesStatusA(manager.get(), SERVICE_DRIVER, SERVICE_STATE_ALL, nullptr, 0,
                                    &needed, &returned, &resume));
    EXPECT_EQ(returned, 0u) << "supervisord has no drivers";
}

} // namespace
