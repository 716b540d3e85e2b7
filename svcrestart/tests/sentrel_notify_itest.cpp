// Revocet end to end: `sentrel notify ServiceRestart PATH` against a supervisord that the
// fixture starts on a loopback port. Standard output is exactly the plug-in's log.
#include <gtest/gtest.h>

#include <winplat/winreg.h>

#include "supervisord.h"
#include "testkit.h"

using testkit::CommandResult;
using testkit::ShellQuote;

namespace {

constexpr char kClsid[] = "{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}";

std::vector<testkit::SupervisedProgram> Programs() {
    std::vector<testkit::SupervisedProgram> programs(3);
    programs[0].name = "idle";
    programs[1].name = "busy";
    programs[1].autostart = true;
    programs[2].name = "spare";
    return programs;
}

class RevocetNotify : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<testkit::Supervisord>(Programs()); }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_server->WaitForState("busy", "RUNNING"));
        ASSERT_EQ(Run("init").status, 0);
        CommandResult reg = Run("register " + ShellQuote(testkit::PluginPath("revocet").string()));
        ASSERT_EQ(reg.status, 0) << reg.err;
        // The service manager's settings go into the same registry file the host reads.
        WinplatSetRegistryPath(m_registryFile.c_str());
        s_server->Configure("localhost");
        s_server->Configure("PRN01");
        testkit::SetServiceManagerText("DOWNHOST", "Address", "127.0.0.1");
        testkit::SetServiceManagerNumber("DOWNHOST", "Port", testkit::UnusedPort());
    }

    CommandResult Run(const std::string& args) {
        return testkit::RunCommand(testkit::HostPath().string() + " --registry " +
                                   ShellQuote(m_registryFile) + " " + args);
    }
    // Writes an instance file; returns its POSIX path.
    std::string Instance(const std::string& name, const std::string& host,
                         const std::string& service, const std::string& command) {
        testkit::WriteFile(m_dir / name, "[ServiceRestart\\" + name + "]\r\nCLSID=" + kClsid +
                                             "\r\nHost=" + host + "\r\nService=" + service +
                                             "\r\nCommand=" + command + "\r\n");
        return (m_dir / name).string();
    }
    CommandResult Notify(const std::string& path, const std::string& extra = "") {
        return Run("notify ServiceRestart " + ShellQuote(path) + extra);
    }

    static std::unique_ptr<testkit::Supervisord> s_server;
    testkit::ScopedRegistry m_scope; // gives the process's registry path back afterwards
    testkit::TempDir m_dir;
    std::string m_registryFile = (m_dir / "registry.reg").string();
};

std::unique_ptr<testkit::Supervisord> RevocetNotify::s_server;

TEST_F(RevocetNotify, StartsAStoppedProgramAndStopsARunningOne) {
    std::string start = Instance("Start idle", "", "idle", "Start");
    CommandResult r = Notify(start);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, testkit::ZPath(start) +
                         " - StartService Return OK - Service was started successfully.\r\n");
    EXPECT_TRUE(s_server->WaitForState("idle", "RUNNING"));

    std::string stop = Instance("Stop idle", "localhost", "idle", "Stop");
    r = Notify(stop);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              testkit::ZPath(stop) +
                  " - ControlService Stop Return OK - Service was stopped successfully.\r\n");
    EXPECT_TRUE(s_server->WaitForState("idle", "STOPPED"));
}

TEST_F(RevocetNotify, StartingARunningProgramLogsTheSystemTextAndSucceeds) {
    std::string path = Instance("Start busy", "", "busy", "Start");
    CommandResult r = Notify(path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, testkit::ZPath(path) + " - StartService Return: An instance of the service "
                                            "is already running.\r\n\r\n");
    EXPECT_EQ(s_server->StateOf("busy"), "RUNNING");
}

TEST_F(RevocetNotify, StoppingAStoppedProgramLogsTheSystemTextAndSucceeds) {
    std::string path = Instance("Stop spare", "", "spare", "Stop");
    CommandResult r = Notify(path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, testkit::ZPath(path) +
                         " ControlService Return: The service has not been started.\r\n\r\n");
}

TEST_F(RevocetNotify, AMissingProgramFailsToOpen) {
    std::string path = Instance("Missing", "", "nosuchprogram", "Start");
    CommandResult r = Notify(path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, testkit::ZPath(path) + " - OpenService Failed. Cause: The specified service "
                                            "does not exist as an installed service.\r\n\r\n");
}

TEST_F(RevocetNotify, AnUnreachablePortFailsToConnect) {
    std::string path = Instance("Down", "DOWNHOST", "idle", "Start");
    CommandResult r = Notify(path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, testkit::ZPath(path) + " - Failed to connect to Service Manager. Cause: The "
                                            "RPC server is unavailable.\r\n\r\n");
    EXPECT_EQ(s_server->StateOf("idle"), "STOPPED");
}

TEST_F(RevocetNotify, PlaceholdersAreExpandedByTheHost) {
    std::string path = Instance("Alert target", "%H", "%V", "Start");
    CommandResult r = Notify(path, " --var H=PRN01 --var V=spare");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, testkit::ZPath(path) +
                         " - StartService Return OK - Service was started successfully.\r\n");
    EXPECT_TRUE(s_server->WaitForState("spare", "RUNNING"));

    std::string stop = Instance("Alert stop", "%h", "%v", "Stop");
    r = Notify(stop, " --var h=PRN01 --var v=spare");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(s_server->WaitForState("spare", "STOPPED"));
}

TEST_F(RevocetNotify, AFailedExpansionIsLoggedAndNothingIsSent) {
    std::string path = Instance("Alert target", "%H", "idle", "Start");
    CommandResult r = Notify(path, " --var H=PRN01 --expand-fails");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, testkit::ZPath(path) + " - Failed to format string %h.\r\n");
    EXPECT_EQ(s_server->StateOf("idle"), "STOPPED");
}

} // namespace
