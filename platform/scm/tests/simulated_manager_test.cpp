// The service control manager's surface (handles, rights, errors, record packing) over
// the simulated manager, whose file gives every state and injected error.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include <winplat/winbase.h>
#include <winplat/winsvc.h>

#include "supervisord.h"
#include "testkit.h"

namespace {

namespace fs = std::filesystem;

const char kServices[] = R"(; the simulated machines of these tests
[localhost]
[localhost\Alerter]
DisplayName=Alerter
State=stopped
[localhost\Spooler]
DisplayName=Print Spooler
State=running
[localhost\Browser]
DisplayName=Computer Browser
Type=shared
State=running
[localhost\Tcpip]
DisplayName=TCP/IP Protocol Driver
Type=kernel
State=running
[localhost\Ntfs]
DisplayName=NTFS
Type=filesystem
State=stopped
[localhost\Starting]
DisplayName=Slow Starter
State=start_pending
[localhost\Stopping]
DisplayName=Slow Stopper
State=stop_pending
[localhost\Paused]
DisplayName=Paused Service
State=paused
[PRN01\Spooler]
DisplayName=Print Spooler
State=stopped
[DOWN01]
Reachable=no
[LOCKED01]
Access=none
[CONNECTONLY01]
Access=0x1
[CONNECTONLY01\Spooler]
State=running
Access=0x4
)";

// Closes the handle it holds.
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

class SimulatedManager : public ::testing::Test {
protected:
    void SetUp() override {
        testkit::WriteFile(m_file, kServices);
        testkit::SetServiceManagerText("", "Backend", "simulated");
        testkit::SetServiceManagerText("", "SimulationFile", m_file.string());
    }

    // Rewrites one value of a section of the file ("State", "StartError", ...).
    void Set(const std::string& section, const std::string& key, const std::string& value) {
        std::string text = testkit::ReadFile(m_file);
        std::string header = "[" + section + "]\n";
        size_t at = text.find(header);
        ASSERT_NE(at, std::string::npos) << section;
        text.insert(at + header.size(), key + "=" + value + "\n");
        testkit::WriteFile(m_file, text);
    }

    // The state of a service as a fresh manager handle reads it.
    DWORD StateOf(const char* machine, const char* service) {
        ScHandle manager(OpenSCManagerA(machine, nullptr, SC_MANAGER_CONNECT));
        ScHandle handle(OpenServiceA(manager.get(), service, SERVICE_QUERY_STATUS));
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(handle.get(), &status))
            return 0;
        return status.dwCurrentState;
    }

    testkit::ScopedRegistry m_registry;
    testkit::TempDir m_dir;
    fs::path m_file = m_dir / "services.sim";
};

std::string OwnHostName() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

TEST_F(SimulatedManager, EveryNameOfThisMachineOpensTheLocalManager) {
    std::string own = OwnHostName();
    std::string slashed = "\\\\" + own;
    for (const char* name : {(const char*)nullptr, "", "localhost", "LOCALHOST", "\\\\localhost",
                             own.c_str(), slashed.c_str()}) {
        SCOPED_TRACE(name ? name : "(null)");
        ScHandle manager(OpenSCManagerA(name, nullptr, SC_MANAGER_CONNECT));
        ASSERT_TRUE(manager) << GetLastError();
        // Alerter exists only on the local machine.
        ScHandle service(OpenServiceA(manager.get(), "Alerter", SERVICE_QUERY_STATUS));
        EXPECT_TRUE(service) << GetLastError();
    }
}

struct OpenManagerCase {
    const char* machine;
    const char* database;
    DWORD access;
    DWORD error;
};

TEST_F(SimulatedManager, OpenManagerFailures) {
    const OpenManagerCase cases[] = {
        {"NOSUCH01", nullptr, SC_MANAGER_CONNECT, RPC_S_SERVER_UNAVAILABLE},
        {"DOWN01", nullptr, SC_MANAGER_CONNECT, RPC_S_SERVER_UNAVAILABLE},
        {"LOCKED01", nullptr, SC_MANAGER_CONNECT, ERROR_ACCESS_DENIED},
        {"CONNECTONLY01", nullptr, SC_MANAGER_ENUMERATE_SERVICE, ERROR_ACCESS_DENIED},
        {"CONNECTONLY01", nullptr, GENERIC_READ, ERROR_ACCESS_DENIED},
        {"", "ServicesFailed", SC_MANAGER_CONNECT, ERROR_DATABASE_DOES_NOT_EXIST},
    };
    for (const OpenManagerCase& c : cases) {
        SCOPED_TRACE(std::string(c.machine) + " " + (c.database ? c.database : ""));
        SetLastError(0);
        EXPECT_EQ(OpenSCManagerA(c.machine, c.database, c.access), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
    ScHandle active(OpenSCManagerA("PRN01", "servicesactive", SC_MANAGER_CONNECT));
    EXPECT_TRUE(active) << GetLastError();
    ScHandle connectOnly(OpenSCManagerA("CONNECTONLY01", nullptr, SC_MANAGER_CONNECT));
    EXPECT_TRUE(connectOnly) << GetLastError();
}

TEST_F(SimulatedManager, AConfigurationWithoutAFileReachesNoMachine) {
    testkit::SetServiceManagerText("", "SimulationFile", (m_dir / "missing.sim").string());
    EXPECT_EQ(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(SimulatedManager, OpenServiceByKeyNameOnly) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager);
    ScHandle upper(OpenServiceA(manager.get(), "SPOOLER", SERVICE_QUERY_STATUS));
    EXPECT_TRUE(upper) << "key names are case-insensitive";

    struct {
        const char* name;
        DWORD error;
    } cases[] = {
        {"Print Spooler", ERROR_SERVICE_DOES_NOT_EXIST}, // a display name
        {"Nothing", ERROR_SERVICE_DOES_NOT_EXIST},
        {"", ERROR_INVALID_NAME},
        {"a\\b", ERROR_INVALID_NAME},
        {nullptr, ERROR_INVALID_ADDRESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        EXPECT_EQ(OpenServiceA(manager.get(), c.name, SERVICE_QUERY_STATUS), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
    std::string tooLong(257, 'x');
    EXPECT_EQ(OpenServiceA(manager.get(), tooLong.c_str(), SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST_F(SimulatedManager, HandlesAreCheckedBeforeUse) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_ALL_ACCESS));
    ScHandle service(OpenServiceA(manager.get(), "Spooler", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(manager && service);
    SERVICE_STATUS status{};
    DWORD needed = 0, returned = 0, resume = 0;
    char buffer[512];
    auto enumerate = [&](SC_HANDLE handle) {
        return EnumServicesStatusA(handle, SERVICE_WIN32, SERVICE_STATE_ALL,
                                   reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer), sizeof buffer,
                                   &needed, &returned, &resume);
    };
    SC_HANDLE madeUp = reinterpret_cast<SC_HANDLE>(0x1234);
    for (SC_HANDLE bad : {(SC_HANDLE) nullptr, madeUp}) {
        SetLastError(0);
        EXPECT_EQ(OpenServiceA(bad, "Spooler", SERVICE_QUERY_STATUS), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(QueryServiceStatus(bad, &status));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(StartServiceA(bad, 0, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(ControlService(bad, SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(enumerate(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(CloseServiceHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    // A handle of the other kind.
    EXPECT_FALSE(QueryServiceStatus(manager.get(), &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(enumerate(service.get()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(OpenServiceA(service.get(), "Spooler", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    // A closed handle is gone; the service handle outlives its manager handle.
    SC_HANDLE manager2 = OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service2 = OpenServiceA(manager2, "Spooler", SERVICE_QUERY_STATUS);
    ASSERT_TRUE(CloseServiceHandle(manager2));
    EXPECT_FALSE(CloseServiceHandle(manager2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(QueryServiceStatus(service2, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_RUNNING);
    ASSERT_TRUE(CloseServiceHandle(service2));
    EXPECT_FALSE(QueryServiceStatus(service2, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SimulatedManager, RightsOfAHandleAreCheckedPerCall) {
    ScHandle connectOnly(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    DWORD needed = 0, returned = 0, resume = 0;
    EXPECT_FALSE(EnumServicesStatusA(connectOnly.get(), SERVICE_WIN32, SERVICE_STATE_ALL, nullptr,
                                     0, &needed, &returned, &resume));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // A manager handle always carries the right to connect, so it opens services.
    ScHandle enumerateOnly(OpenSCManagerA("", nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    ScHandle opened(OpenServiceA(enumerateOnly.get(), "Alerter", SERVICE_QUERY_STATUS));
    EXPECT_TRUE(opened) << GetLastError();

    struct {
        DWORD access;
        bool query, start, stop, interrogate;
    } cases[] = {
        {SERVICE_QUERY_STATUS, true, false, false, false},
        {SERVICE_START, false, true, false, false},
        {SERVICE_STOP, false, false, true, false},
        {SERVICE_INTERROGATE, false, false, false, true},
        {GENERIC_READ, true, false, false, true},
        {GENERIC_EXECUTE, false, true, true, false},
        {SERVICE_ALL_ACCESS, true, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.access);
        ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
        // Stopping: the start is refused as running, the stop as pending, once the rights pass.
        ScHandle service(OpenServiceA(manager.get(), "Stopping", c.access));
        ASSERT_TRUE(service) << GetLastError();
        SERVICE_STATUS status{};
        EXPECT_EQ(QueryServiceStatus(service.get(), &status) != FALSE, c.query);
        if (!c.query) {
            EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        }
        EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
        EXPECT_EQ(GetLastError(), c.start ? ERROR_SERVICE_ALREADY_RUNNING : ERROR_ACCESS_DENIED);
        EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(GetLastError(), c.stop ? ERROR_SERVICE_CANNOT_ACCEPT_CTRL : ERROR_ACCESS_DENIED);
        BOOL interrogated = ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status);
        EXPECT_EQ(interrogated != FALSE, c.interrogate);
        if (!c.interrogate) {
            EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        }
    }
    EXPECT_EQ(StateOf("", "Stopping"), (DWORD)SERVICE_STOP_PENDING);

    // A service that grants only status queries.
    ScHandle remote(OpenSCManagerA("CONNECTONLY01", nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(remote);
    EXPECT_EQ(OpenServiceA(remote.get(), "Spooler", 0x34), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ScHandle query(OpenServiceA(remote.get(), "Spooler", SERVICE_QUERY_STATUS));
    EXPECT_TRUE(query) << GetLastError();
}

TEST_F(SimulatedManager, StartAndStopChangeTheStateInTheFile) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ScHandle alerter(OpenServiceA(manager.get(), "alerter", 0x34));
    ASSERT_TRUE(alerter);
    ASSERT_TRUE(StartServiceA(alerter.get(), 0, nullptr)) << GetLastError();
    EXPECT_EQ(StateOf("", "Alerter"), (DWORD)SERVICE_RUNNING);
    EXPECT_THAT(testkit::ReadFile(m_file),
                ::testing::HasSubstr("[localhost\\Alerter]\nDisplayName=Alerter\nState=running\n"))
        << "the file keeps its other lines";

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(alerter.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(StateOf("", "Alerter"), (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(StateOf("PRN01", "Spooler"), (DWORD)SERVICE_STOPPED) << "another machine's service";
}

TEST_F(SimulatedManager, AStartInOneProcessIsSeenByTheNext) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SC_HANDLE manager = OpenSCManagerA("PRN01", nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service = OpenServiceA(manager, "Spooler", SERVICE_START);
        _exit(StartServiceA(service, 0, nullptr) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(StateOf("PRN01", "Spooler"), (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(StateOf("", "Spooler"), (DWORD)SERVICE_RUNNING);
}

TEST_F(SimulatedManager, AStartMayLeaveTheServiceStarting) {
    Set("localhost\\Alerter", "StartTo", "start_pending");
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ScHandle alerter(OpenServiceA(manager.get(), "Alerter", 0x34));
    ASSERT_TRUE(StartServiceA(alerter.get(), 0, nullptr)) << GetLastError();
    EXPECT_EQ(StateOf("", "Alerter"), (DWORD)SERVICE_START_PENDING);
    SERVICE_STATUS status{};
    EXPECT_FALSE(ControlService(alerter.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_START_PENDING);
}

struct ControlCase {
    const char* service;
    DWORD control;
    DWORD error;
    DWORD state; // of the status record afterwards
};

TEST_F(SimulatedManager, ControlsFollowTheServiceState) {
    const ControlCase cases[] = {
        {"Alerter", SERVICE_CONTROL_STOP, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
        {"Starting", SERVICE_CONTROL_STOP, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_START_PENDING},
        {"Stopping", SERVICE_CONTROL_STOP, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_STOP_PENDING},
        {"Spooler", SERVICE_CONTROL_PAUSE, ERROR_INVALID_SERVICE_CONTROL, SERVICE_RUNNING},
        {"Spooler", SERVICE_CONTROL_INTERROGATE, ERROR_SUCCESS, SERVICE_RUNNING},
        {"Alerter", SERVICE_CONTROL_INTERROGATE, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
        {"Paused", SERVICE_CONTROL_CONTINUE, ERROR_SUCCESS, SERVICE_RUNNING},
        {"Paused", SERVICE_CONTROL_STOP, ERROR_SUCCESS, SERVICE_STOPPED},
    };
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(std::string(c.service) + " " + std::to_string(c.control));
        testkit::WriteFile(m_file, kServices);
        ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
        ScHandle service(OpenServiceA(manager.get(), c.service, SERVICE_ALL_ACCESS));
        ASSERT_TRUE(service);
        SERVICE_STATUS status{};
        status.dwCurrentState = 0xDEAD;
        BOOL ok = ControlService(service.get(), c.control, &status);
        EXPECT_EQ(ok != FALSE, c.error == ERROR_SUCCESS);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(status.dwCurrentState, c.state);
    }
}

TEST_F(SimulatedManager, ControlParametersAreChecked) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceA(manager.get(), "Spooler", SERVICE_ALL_ACCESS));
    SERVICE_STATUS status{};
    for (DWORD control : {0u, (DWORD)SERVICE_CONTROL_SHUTDOWN, 11u, 256u}) {
        EXPECT_FALSE(ControlService(service.get(), control, &status));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << control;
    }
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
    EXPECT_FALSE(QueryServiceStatus(service.get(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
    EXPECT_FALSE(StartServiceA(service.get(), 2, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(StateOf("", "Spooler"), (DWORD)SERVICE_RUNNING) << "nothing was sent";
}

// Every error a caller of the manager tells apart can be injected into each call.
TEST_F(SimulatedManager, InjectedErrorsComeBackAsTheLastError) {
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND,
                           ERROR_PATH_NOT_FOUND,
                           ERROR_ACCESS_DENIED,
                           ERROR_INVALID_HANDLE,
                           ERROR_SERVICE_REQUEST_TIMEOUT,
                           ERROR_SERVICE_NO_THREAD,
                           ERROR_SERVICE_DATABASE_LOCKED,
                           ERROR_SERVICE_ALREADY_RUNNING,
                           ERROR_SERVICE_DISABLED,
                           ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                           ERROR_SERVICE_NOT_ACTIVE,
                           ERROR_SERVICE_DEPENDENCY_FAIL,
                           ERROR_SERVICE_LOGON_FAILED,
                           ERROR_SERVICE_MARKED_FOR_DELETE,
                           ERROR_SERVICE_DEPENDENCY_DELETED,
                           ERROR_EXCEPTION_IN_SERVICE};
    for (DWORD code : codes) {
        SCOPED_TRACE(code);
        testkit::WriteFile(m_file, kServices);
        std::string text = std::to_string(code);
        Set("localhost\\Alerter", "StartError", text);
        Set("localhost\\Spooler", "StopError", text);
        Set("localhost\\Browser", "QueryError", text);
        Set("localhost\\Paused", "OpenError", text);
        ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));

        ScHandle alerter(OpenServiceA(manager.get(), "Alerter", 0x34));
        EXPECT_FALSE(StartServiceA(alerter.get(), 0, nullptr));
        EXPECT_EQ(GetLastError(), code);
        EXPECT_EQ(StateOf("", "Alerter"), (DWORD)SERVICE_STOPPED);

        ScHandle spooler(OpenServiceA(manager.get(), "Spooler", 0x34));
        SERVICE_STATUS status{};
        EXPECT_FALSE(ControlService(spooler.get(), SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(GetLastError(), code);
        EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_RUNNING) << "the record shows the state";
        EXPECT_EQ(StateOf("", "Spooler"), (DWORD)SERVICE_RUNNING);

        ScHandle browser(OpenServiceA(manager.get(), "Browser", SERVICE_QUERY_STATUS));
        EXPECT_FALSE(QueryServiceStatus(browser.get(), &status));
        EXPECT_EQ(GetLastError(), code);

        EXPECT_EQ(OpenServiceA(manager.get(), "Paused", SERVICE_QUERY_STATUS), nullptr);
        EXPECT_EQ(GetLastError(), code);
    }
}

TEST_F(SimulatedManager, InjectedStopErrorOnAStartingService) {
    Set("localhost\\Starting", "StopError", "1061");
    Set("localhost\\Starting", "Accept", "stop");
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceA(manager.get(), "Starting", 0x34));
    SERVICE_STATUS status{};
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_START_PENDING);
}

// --- enumeration -------------------------------------------------------------------------

struct Listed {
    std::string name;
    std::string display;
    DWORD type;
    DWORD state;
    bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& l) {
    return out << l.name << "/" << l.display << "/" << l.type << "/" << l.state;
}

// Reads the records of one call, checking where the platform put them: the records
// one after another from the start, the names packed from the end of the buffer
// downwards, service name above its display name.
std::vector<Listed> CheckLayout(const std::vector<char>& buffer, DWORD returned) {
    std::vector<Listed> listed;
    const char* base = buffer.data();
    size_t top = buffer.size();
    for (DWORD i = 0; i < returned; ++i) {
        ENUM_SERVICE_STATUSA record;
        memcpy(&record, base + i * sizeof record, sizeof record);
        std::string name = record.lpServiceName;
        std::string display = record.lpDisplayName;
        EXPECT_EQ(record.lpServiceName, base + top - name.size() - 1) << "record " << i;
        top -= name.size() + 1;
        EXPECT_EQ(record.lpDisplayName, base + top - display.size() - 1) << "record " << i;
        top -= display.size() + 1;
        listed.push_back({name, display, record.ServiceStatus.dwServiceType,
                          record.ServiceStatus.dwCurrentState});
    }
    EXPECT_GE(top, returned * sizeof(ENUM_SERVICE_STATUSA)) << "names overlap the records";
    return listed;
}

size_t RecordBytes(const Listed& l) {
    return sizeof(ENUM_SERVICE_STATUSA) + l.name.size() + 1 + l.display.size() + 1;
}

const std::vector<Listed> kWin32 = {
    {"Alerter", "Alerter", SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED},
    {"Browser", "Computer Browser", SERVICE_WIN32_SHARE_PROCESS, SERVICE_RUNNING},
    {"Paused", "Paused Service", SERVICE_WIN32_OWN_PROCESS, SERVICE_PAUSED},
    {"Spooler", "Print Spooler", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING},
    {"Starting", "Slow Starter", SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING},
    {"Stopping", "Slow Stopper", SERVICE_WIN32_OWN_PROCESS, SERVICE_STOP_PENDING},
};

TEST_F(SimulatedManager, EnumerationInOneBufferIsExact) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    std::vector<char> buffer(4096, '\x55');
    DWORD needed = 77, returned = 77, resume = 0;
    ASSERT_TRUE(EnumServicesStatusA(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL,
                                    reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                                    static_cast<DWORD>(buffer.size()), &needed, &returned, &resume))
        << GetLastError();
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(resume, 0u);
    ASSERT_EQ(returned, kWin32.size());
    EXPECT_EQ(CheckLayout(buffer, returned), kWin32);
    // Between the records and the names the buffer is untouched.
    size_t used = 0;
    for (const Listed& l : kWin32)
        used += RecordBytes(l);
    size_t gapStart = kWin32.size() * sizeof(ENUM_SERVICE_STATUSA);
    size_t gapEnd = buffer.size() - (used - gapStart);
    for (size_t i = gapStart; i < gapEnd; ++i)
        ASSERT_EQ(buffer[i], '\x55') << i;
}

TEST_F(SimulatedManager, EnumerationAcrossSeveralBuffers) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    // Room for two of these records at most.
    const size_t size = 2 * sizeof(ENUM_SERVICE_STATUSA) + 40;
    std::vector<Listed> all;
    DWORD resume = 0;
    int calls = 0;
    for (;;) {
        std::vector<char> buffer(size);
        DWORD needed = 0, returned = 0;
        BOOL done = EnumServicesStatusA(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL,
                                        reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                                        static_cast<DWORD>(size), &needed, &returned, &resume);
        ++calls;
        ASSERT_LT(calls, 10);
        std::vector<Listed> batch = CheckLayout(buffer, returned);
        EXPECT_GE(returned, 1u);
        all.insert(all.end(), batch.begin(), batch.end());
        if (done) {
            EXPECT_EQ(needed, 0u);
            EXPECT_EQ(resume, 0u);
            break;
        }
        ASSERT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
        size_t rest = 0;
        for (size_t i = all.size(); i < kWin32.size(); ++i)
            rest += RecordBytes(kWin32[i]);
        EXPECT_EQ(needed, rest) << "bytes for the records still to come";
        EXPECT_NE(resume, 0u);
    }
    EXPECT_GE(calls, 3);
    EXPECT_EQ(all, kWin32);
}

TEST_F(SimulatedManager, EnumerationWithoutRoomReportsTheWholeSize) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    size_t total = 0;
    for (const Listed& l : kWin32)
        total += RecordBytes(l);
    DWORD needed = 0, returned = 7, resume = 0;
    EXPECT_FALSE(EnumServicesStatusA(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0,
                                     &needed, &returned, &resume));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(needed, total);
    // Exactly that size takes them all.
    std::vector<char> buffer(total);
    resume = 0;
    EXPECT_TRUE(EnumServicesStatusA(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL,
                                    reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                                    static_cast<DWORD>(total), &needed, &returned, &resume));
    EXPECT_EQ(returned, kWin32.size());
    EXPECT_EQ(CheckLayout(buffer, returned), kWin32);
}

TEST_F(SimulatedManager, EnumerationDeliversOnlyTheTypesAndStatesAskedFor) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    auto names = [&](DWORD type, DWORD state) {
        std::vector<char> buffer(4096);
        DWORD needed = 0, returned = 0, resume = 0;
        EXPECT_TRUE(EnumServicesStatusA(manager.get(), type, state,
                                        reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                                        4096, &needed, &returned, &resume));
        std::vector<std::string> result;
        for (const Listed& l : CheckLayout(buffer, returned))
            result.push_back(l.name);
        return result;
    };
    using ::testing::ElementsAre;
    EXPECT_THAT(names(SERVICE_DRIVER, SERVICE_STATE_ALL), ElementsAre("Ntfs", "Tcpip"));
    EXPECT_THAT(names(SERVICE_KERNEL_DRIVER, SERVICE_STATE_ALL), ElementsAre("Tcpip"));
    EXPECT_THAT(names(SERVICE_WIN32, SERVICE_INACTIVE), ElementsAre("Alerter"));
    EXPECT_THAT(names(SERVICE_WIN32_SHARE_PROCESS, SERVICE_ACTIVE), ElementsAre("Browser"));
    EXPECT_THAT(names(SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_INACTIVE),
                ElementsAre("Alerter", "Ntfs"));
    EXPECT_THAT(names(SERVICE_WIN32_OWN_PROCESS, SERVICE_ACTIVE),
                ElementsAre("Paused", "Spooler", "Starting", "Stopping"));
}

TEST_F(SimulatedManager, EnumerationParametersAreChecked) {
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    char buffer[1024];
    auto call = [&](DWORD type, DWORD state, DWORD* needed, DWORD* returned) {
        DWORD resume = 0;
        return EnumServicesStatusA(manager.get(), type, state,
                                   reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer), sizeof buffer,
                                   needed, returned, &resume);
    };
    DWORD needed = 0, returned = 0;
    struct {
        DWORD type, state;
    } bad[] = {{0, SERVICE_STATE_ALL},      {0x1000, SERVICE_STATE_ALL},
               {SERVICE_WIN32 | 0x4000, 3}, {SERVICE_WIN32, 0},
               {SERVICE_WIN32, 4},          {SERVICE_INTERACTIVE_PROCESS, 3}};
    for (const auto& b : bad) {
        EXPECT_FALSE(call(b.type, b.state, &needed, &returned));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << b.type << " " << b.state;
    }
    EXPECT_FALSE(call(SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, &returned));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
    EXPECT_FALSE(call(SERVICE_WIN32, SERVICE_STATE_ALL, &needed, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
}

TEST_F(SimulatedManager, AnEnumerationErrorPartWayKeepsTheFirstBatch) {
    Set("localhost", "EnumError", "1726");
    Set("localhost", "EnumErrorAt", "1");
    ScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    std::vector<char> buffer(sizeof(ENUM_SERVICE_STATUSA) + 20);
    DWORD needed = 0, returned = 0, resume = 0;
    EXPECT_FALSE(EnumServicesStatusA(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL,
                                     reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                                     static_cast<DWORD>(buffer.size()), &needed, &returned,
                                     &resume));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    EXPECT_EQ(CheckLayout(buffer, returned), std::vector<Listed>{kWin32[0]});
    EXPECT_FALSE(EnumServicesStatusA(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL,
                                     reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                                     static_cast<DWORD>(buffer.size()), &needed, &returned,
                                     &resume));
    EXPECT_EQ(GetLastError(), 1726u);
}

// Every error the manager produces has its system text.
TEST(ServiceManagerMessages, EveryCodeHasASystemText) {
    const DWORD codes[] = {ERROR_PATH_NOT_FOUND,
                           ERROR_ACCESS_DENIED,
                           ERROR_INVALID_HANDLE,
                           ERROR_INVALID_PARAMETER,
                           ERROR_INVALID_NAME,
                           ERROR_MORE_DATA,
                           ERROR_INVALID_ADDRESS,
                           ERROR_INVALID_SERVICE_CONTROL,
                           ERROR_SERVICE_REQUEST_TIMEOUT,
                           ERROR_SERVICE_NO_THREAD,
                           ERROR_SERVICE_DATABASE_LOCKED,
                           ERROR_SERVICE_ALREADY_RUNNING,
                           ERROR_SERVICE_DOES_NOT_EXIST,
                           ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                           ERROR_SERVICE_NOT_ACTIVE,
                           ERROR_EXCEPTION_IN_SERVICE,
                           ERROR_DATABASE_DOES_NOT_EXIST,
                           ERROR_SERVICE_SPECIFIC_ERROR,
                           ERROR_PROCESS_ABORTED,
                           1115,
                           RPC_S_SERVER_UNAVAILABLE,
                           RPC_S_CALL_FAILED};
    for (DWORD code : codes) {
        char* text = nullptr;
        DWORD length =
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                               FORMAT_MESSAGE_FROM_SYSTEM,
                           nullptr, code, 0x400, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        EXPECT_GT(length, 2u) << code;
        if (text) {
            EXPECT_THAT(std::string(text), ::testing::EndsWith(".\r\n")) << code;
            LocalFree(text);
        }
    }
}

} // namespace
