// The service check against a real supervisord that the fixture starts on a loopback port.
#include <gtest/gtest.h>

#include "check_fixture.h"
#include "supervisord.h"
#include "testkit.h"

using namespace prowlet_test;

namespace {

std::vector<testkit::SupervisedProgram> Programs() {
    std::vector<testkit::SupervisedProgram> programs(3);
    programs[0].name = "web";
    programs[0].autostart = true;
    programs[1].name = "idle";
    programs[2].name = "spare";
    return programs;
}

class SupervisordCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<testkit::Supervisord>(Programs()); }
    static void TearDownTestSuite() { s_server.reset(); }
    void SetUp() override {
        ASSERT_TRUE(s_server->WaitForState("web", "RUNNING"));
        s_server->Configure("localhost");
    }

    // Runs one check of the service with the restart setting; returns the result.
    LONG Run(const std::string& service, const char* restart, const std::string& address) {
        std::string text = "[Router\\Check]\r\nSERVICENAME=" + service + "\r\n";
        if (restart)
            text += std::string("RESTART=") + restart + "\r\n";
        testkit::WriteFile(m_dir / "host.ini", text);
        winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
        Configure(plugin.Get(), "Router\\Check", (m_dir / "host.ini").string());
        plugin->SetLogWindow(log.Get());
        RecordingTarget target(address);
        LONG result = -1;
        DWORD before = GetTickCount();
        EXPECT_EQ(plugin->Check(&target, &result), S_OK);
        DWORD wall = GetTickCount() - before;
        EXPECT_EQ(target.calls, (std::vector<std::string>{"elapsed", "result"}));
        EXPECT_EQ(target.result, result);
        EXPECT_LE(target.elapsed, wall);
        return result;
    }

    testkit::ScopedRegistry m_registry;
    testkit::TempDir m_dir;
    LogWindow log;
    static std::unique_ptr<testkit::Supervisord> s_server;
};

std::unique_ptr<testkit::Supervisord> SupervisordCheck::s_server;

const std::string h = "localhost";

TEST_F(SupervisordCheck, ARunningProgramPasses) {
    EXPECT_EQ(Run("web", nullptr, h), 0);
    EXPECT_EQ(log.lines, (std::vector<std::string>{Checking("web", h), Status(h, "web", kRunning),
                                                   Success("web", h)}));
}

TEST_F(SupervisordCheck, AStoppedProgramFailsWithoutRestart) {
    EXPECT_EQ(Run("idle", "0", h), 1);
    EXPECT_EQ(log.lines, (std::vector<std::string>{Checking("idle", h), Status(h, "idle", kStopped),
                                                   Failure("idle", h)}));
    EXPECT_EQ(s_server->StateOf("idle"), "STOPPED");
}

TEST_F(SupervisordCheck, AStoppedProgramIsStartedWhenRestartIsOn) {
    ASSERT_EQ(s_server->StateOf("spare"), "STOPPED");
    s_server->Configure("127.0.0.1"); // the machine by its address
    EXPECT_EQ(Run("spare", "1", "127.0.0.1"), 0);
    const std::string a = "127.0.0.1";
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{Checking("spare", a), Status(a, "spare", kStopped),
                                        RestartAttempt("spare", a), RestartSuccess("spare", a),
                                        Success("spare", a)}));
    EXPECT_TRUE(s_server->WaitForState("spare", "RUNNING"));
}

TEST_F(SupervisordCheck, AMissingProgramGivesItsErrorCode) {
    EXPECT_EQ(Run("nosuch", "1", h), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  Checking("nosuch", h),
                  OpenFailure("nosuch", h,
                              "The specified service does not exist as an installed service.\r\n"),
                  Failure("nosuch", h)}));
}

TEST_F(SupervisordCheck, AnUnreachableMachineGivesTheConnectErrorAndTwoLines) {
    testkit::SetServiceManagerText("deadhost", "Address", "127.0.0.1");
    testkit::SetServiceManagerNumber("deadhost", "Port", static_cast<DWORD>(testkit::UnusedPort()));
    EXPECT_EQ(Run("web", "1", "deadhost"), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  Checking("web", "deadhost"),
                  ManagerFailure("web", "deadhost", "The RPC server is unavailable.\r\n")}));
}

} // namespace
