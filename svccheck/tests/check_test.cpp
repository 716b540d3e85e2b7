// The service check against the simulated service manager, for the answers a real one
// cannot be made to give: refused starts, pending states, access denied, failing queries.
#include <gtest/gtest.h>

#include <typeinfo>

#include <winplat/winnls.h>

#include "check_fixture.h"
#include "supervisord.h"
#include "testkit.h"

using namespace prowlet_test;

namespace {

const char kServices[] = R"(; machines and services of the check tests
[localhost]
[localhost\Running]
State=running
[localhost\Stopped]
State=stopped
[localhost\Refuses]
State=stopped
StartError=1058
[localhost\Starting]
State=start_pending
[localhost\Stopping]
State=stop_pending
[localhost\Paused]
State=paused
[localhost\QueryOnly]
State=stopped
Access=0x4
[localhost\Secret]
State=running
Access=none
[localhost\Broken]
State=running
QueryError=1053
[localhost\Odd]
State=stopped
Type=shared
ExitCode=1066
SpecificExitCode=42
CheckPoint=3
WaitHint=2000
[DOWN01]
Reachable=no
[LOCKED01]
Access=none
[LOCKED01\Running]
State=running
)";

constexpr char kDenied[] = "Access is denied.\r\n";
constexpr char kUnavailable[] = "The RPC server is unavailable.\r\n";
constexpr char kNoService[] = "The specified service does not exist as an installed service.\r\n";
constexpr char kNoAnswer[] =
    "The service did not respond to the start or control request in a timely fashion.\r\n";

class SimulatedCheck : public ::testing::Test {
protected:
    void SetUp() override {
        testkit::WriteFile(m_file, kServices);
        testkit::SetServiceManagerText("", "Backend", "simulated");
        testkit::SetServiceManagerText("", "SimulationFile", m_file.string());
    }

    // A plug-in set up from a profile section with these keys.
    winplat::ComPtr<ISentrelSvcObj> Plugin(const std::string& service, const char* restart) {
        std::string text = "[Router\\Check]\r\nSERVICENAME=" + service + "\r\n";
        if (restart)
            text += std::string("RESTART=") + restart + "\r\n";
        testkit::WriteFile(m_dir / "host.ini", text);
        winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
        Configure(plugin.Get(), "Router\\Check", (m_dir / "host.ini").string());
        return plugin;
    }

    testkit::ScopedRegistry m_registry;
    testkit::TempDir m_dir;
    std::filesystem::path m_file = m_dir / "services.sim";
};

struct CheckCase {
    const char* name;
    const char* service;
    const char* machine;
    const char* restart;
    LONG result;
    std::vector<std::string> lines;
};

TEST_F(SimulatedCheck, ResultsAndLogLines) {
    auto state = [](char current, char accepted) {
        return std::string("dwServiceType=00000010, dwCurrentState=0000000") + current +
               ", dwControlsAccepted=0000000" + accepted +
               ", dwWin32ExitCode=0 (00000000), dwServiceSpecificExitCode=0 (00000000), "
               "dwCheckPoint=0, dwWaitHint=0mSec";
    };
    const std::string starting = state('2', '0');
    const std::string stopping = state('3', '0');
    const std::string paused = state('7', '3');
    const std::string h = "localhost";
    const CheckCase cases[] = {
        {"running",
         "Running",
         "localhost",
         nullptr,
         0,
         {Checking("Running", h), Status(h, "Running", kRunning), Success("Running", h)}},
        {"running with restart",
         "Running",
         "localhost",
         "1",
         0,
         {Checking("Running", h), Status(h, "Running", kRunning), Success("Running", h)}},
        {"stopped",
         "Stopped",
         "localhost",
         "0",
         1,
         {Checking("Stopped", h), Status(h, "Stopped", kStopped), Failure("Stopped", h)}},
        {"start refused",
         "Refuses",
         "localhost",
         "1",
         1,
         {Checking("Refuses", h), Status(h, "Refuses", kStopped), RestartAttempt("Refuses", h),
          RestartFailure("Refuses", h), Failure("Refuses", h)}},
        {"start pending is not running",
         "Starting",
         "localhost",
         nullptr,
         1,
         {Checking("Starting", h), Status(h, "Starting", starting.c_str()),
          Failure("Starting", h)}},
        {"start pending with restart: the start is refused",
         "Starting",
         "localhost",
         "1",
         1,
         {Checking("Starting", h), Status(h, "Starting", starting.c_str()),
          RestartAttempt("Starting", h), RestartFailure("Starting", h), Failure("Starting", h)}},
        {"stop pending is not running",
         "Stopping",
         "localhost",
         nullptr,
         1,
         {Checking("Stopping", h), Status(h, "Stopping", stopping.c_str()),
          Failure("Stopping", h)}},
        {"paused is not running",
         "Paused",
         "localhost",
         nullptr,
         1,
         {Checking("Paused", h), Status(h, "Paused", paused.c_str()), Failure("Paused", h)}},
        {"no right to start",
         "QueryOnly",
         "localhost",
         "1",
         1,
         {Checking("QueryOnly", h), Status(h, "QueryOnly", kStopped),
          RestartAttempt("QueryOnly", h), OpenFailure("QueryOnly", h, kDenied),
          RestartFailure("QueryOnly", h), Failure("QueryOnly", h)}},
        {"no right to query",
         "Secret",
         "localhost",
         nullptr,
         ERROR_ACCESS_DENIED,
         {Checking("Secret", h), OpenFailure("Secret", h, kDenied), Failure("Secret", h)}},
        {"query fails",
         "Broken",
         "localhost",
         "1",
         1053,
         {Checking("Broken", h), QueryFailure("Broken", h, kNoAnswer), Failure("Broken", h)}},
        {"no such service",
         "Nothing",
         "localhost",
         "1",
         ERROR_SERVICE_DOES_NOT_EXIST,
         {Checking("Nothing", h), OpenFailure("Nothing", h, kNoService), Failure("Nothing", h)}},
        {"machine does not answer",
         "Running",
         "DOWN01",
         "1",
         RPC_S_SERVER_UNAVAILABLE,
         {Checking("Running", "DOWN01"), ManagerFailure("Running", "DOWN01", kUnavailable)}},
        {"manager refuses access",
         "Running",
         "LOCKED01",
         nullptr,
         ERROR_ACCESS_DENIED,
         {Checking("Running", "LOCKED01"), ManagerFailure("Running", "LOCKED01", kDenied)}},
        {"every status field",
         "Odd",
         "localhost",
         nullptr,
         1,
         {Checking("Odd", h),
          Status(h, "Odd",
                 "dwServiceType=00000020, dwCurrentState=00000001, dwControlsAccepted=00000000, "
                 "dwWin32ExitCode=1066 (0000042A), dwServiceSpecificExitCode=42 (0000002A), "
                 "dwCheckPoint=3, dwWaitHint=2000mSec"),
          Failure("Odd", h)}},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        winplat::ComPtr<ISentrelSvcObj> plugin = Plugin(c.service, c.restart);
        LogWindow log;
        ASSERT_EQ(plugin->SetLogWindow(log.Get()), S_OK);
        RecordingTarget target(c.machine);
        LONG result = -1;
        DWORD before = GetTickCount();
        ASSERT_EQ(plugin->Check(&target, &result), S_OK);
        DWORD wall = GetTickCount() - before;
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(target.result, c.result);
        EXPECT_EQ(target.calls, (std::vector<std::string>{"elapsed", "result"}));
        EXPECT_LE(target.elapsed, wall);
        EXPECT_EQ(log.lines, c.lines);
    }
}

TEST_F(SimulatedCheck, ARestartThatIsAcceptedLeavesTheServiceRunning) {
    winplat::ComPtr<ISentrelSvcObj> plugin = Plugin("Stopped", "2");
    LogWindow log;
    plugin->SetLogWindow(log.Get());
    RecordingTarget target("localhost");
    LONG result = -1;
    ASSERT_EQ(plugin->Check(&target, &result), S_OK);
    EXPECT_EQ(result, 0);
    const std::string h = "localhost";
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{Checking("Stopped", h), Status(h, "Stopped", kStopped),
                                        RestartAttempt("Stopped", h), RestartSuccess("Stopped", h),
                                        Success("Stopped", h)}));

    // The next check finds it running.
    log.lines.clear();
    RecordingTarget again("localhost");
    ASSERT_EQ(plugin->Check(&again, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{Checking("Stopped", h), Status(h, "Stopped", kRunning),
                                        Success("Stopped", h)}));
}

TEST_F(SimulatedCheck, RestartValuesFromTheProfile) {
    struct {
        const char* value;
        LONG result;
    } cases[] = {{nullptr, 1}, {"0", 1}, {"abc", 1}, {"1", 0}, {"2", 0}, {"-1", 0}, {"7x", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        testkit::WriteFile(m_file, kServices); // Stopped is stopped again
        winplat::ComPtr<ISentrelSvcObj> plugin = Plugin("Stopped", c.value);
        RecordingTarget target("localhost");
        LONG result = -1;
        ASSERT_EQ(plugin->Check(&target, &result), S_OK);
        EXPECT_EQ(result, c.result);
    }
}

TEST_F(SimulatedCheck, MissingPointersDoNothing) {
    winplat::ComPtr<ISentrelSvcObj> plugin = Plugin("Running", nullptr);
    LogWindow log;
    plugin->SetLogWindow(log.Get());
    RecordingTarget target("localhost");
    LONG result = -1;
    EXPECT_EQ(plugin->Check(nullptr, &result), E_INVALIDARG);
    EXPECT_EQ(plugin->Check(&target, nullptr), E_INVALIDARG);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(target.addressCalls, 0);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(SimulatedCheck, WithoutALogWindowTheCheckRunsTheSame) {
    winplat::ComPtr<ISentrelSvcObj> plugin = Plugin("Stopped", "1");
    LogWindow log;
    plugin->SetLogWindow(log.Get());
    log.Destroy(); // a handle that no longer names a window
    RecordingTarget target("localhost");
    LONG result = -1;
    ASSERT_EQ(plugin->Check(&target, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"elapsed", "result"}));

    plugin->SetLogWindow(nullptr);
    RecordingTarget again("localhost");
    ASSERT_EQ(plugin->Check(&again, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(again.calls, (std::vector<std::string>{"elapsed", "result"}));
}

// A line longer than the 512-byte buffer is cut, keeps its CR LF and stays terminated.
TEST_F(SimulatedCheck, LongLinesAreCutAndKeepTheirLineEnd) {
    std::string address(700, 'm');
    winplat::ComPtr<ISentrelSvcObj> plugin = Plugin("Running", nullptr);
    LogWindow log;
    plugin->SetLogWindow(log.Get());
    RecordingTarget target(address);
    LONG result = -1;
    ASSERT_EQ(plugin->Check(&target, &result), S_OK);
    EXPECT_NE(result, 0);
    ASSERT_EQ(log.lines.size(), 2u);
    const std::string full = Checking("Running", address);
    EXPECT_EQ(log.lines[0].size(), 511u);
    EXPECT_EQ(log.lines[0], full.substr(0, 509) + "\r\n");
    EXPECT_EQ(log.lines[1].size(), 511u);
    EXPECT_EQ(log.lines[1].substr(509), "\r\n");
}

TEST_F(SimulatedCheck, LongLinesAreCutAtACharacterBoundary) {
    WinplatSetACP(932);
    // "Checking the NT Service Runnin on " is 34 bytes: the 509 bytes before CR LF would
    // end half-way through a double-byte character of the address.
    std::string address;
    for (int i = 0; i < 300; ++i)
        address += "\x82\xA0";
    testkit::WriteFile(m_dir / "host.ini", "[Router\\Check]\r\nSERVICENAME=Runnin\r\n");
    winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
    Configure(plugin.Get(), "Router\\Check", (m_dir / "host.ini").string());
    LogWindow log;
    plugin->SetLogWindow(log.Get());
    RecordingTarget target(address);
    LONG result = -1;
    plugin->Check(&target, &result);
    WinplatSetACP(1252);
    ASSERT_FALSE(log.lines.empty());
    const std::string full = Checking("Runnin", address);
    EXPECT_EQ(log.lines[0], full.substr(0, 508) + "\r\n");
}

// Prowlet calls the target through the host's table: slots 5, 6 and 7 (after four of the
// host's own), in a table laid out as the host lays it out.
namespace raw {
std::vector<std::string> g_calls;
const char* Address(void*) {
    g_calls.push_back("address");
    return "DOWN01";
}
void Result(void*, LONG lResult) {
    g_calls.push_back("result " + std::to_string(lResult));
}
void Elapsed(void*, DWORD) {
    g_calls.push_back("elapsed");
}
void HostOwn(void*) {
    g_calls.push_back("host's own operation");
}
} // namespace raw

TEST_F(SimulatedCheck, CallsTheTargetThroughItsTableLayout) {
    // The two words before the operations: offset to the whole object, type information.
    const void* const table[] = {nullptr,
                                 &typeid(ISentrelCheckTarget),
                                 reinterpret_cast<void*>(&raw::HostOwn),
                                 reinterpret_cast<void*>(&raw::HostOwn),
                                 reinterpret_cast<void*>(&raw::HostOwn),
                                 reinterpret_cast<void*>(&raw::HostOwn),
                                 reinterpret_cast<void*>(&raw::Address),
                                 reinterpret_cast<void*>(&raw::Result),
                                 reinterpret_cast<void*>(&raw::Elapsed)};
    struct {
        const void* const* vptr;
    } object{table + 2};
    raw::g_calls.clear();
    winplat::ComPtr<ISentrelSvcObj> plugin = Plugin("Running", nullptr);
    LONG result = -1;
    ASSERT_EQ(plugin->Check(reinterpret_cast<ISentrelCheckTarget*>(&object), &result), S_OK);
    EXPECT_EQ(result, RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(raw::g_calls, (std::vector<std::string>{"address", "address", "address", "elapsed",
                                                      "result 1722"}));
}

} // namespace
