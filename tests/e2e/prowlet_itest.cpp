// sentrel with Prowlet as a user runs it: a fresh registry, Prowlet registered, checks of
// the programs of a supervisord on loopback.
#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "supervisord.h"
#include "testkit.h"

using testkit::CommandResult;
using testkit::ShellQuote;

namespace {

std::vector<testkit::SupervisedProgram> Programs() {
    std::vector<testkit::SupervisedProgram> programs(3);
    programs[0].name = "web";
    programs[0].autostart = true;
    programs[1].name = "idle";
    programs[2].name = "spare";
    return programs;
}

constexpr char kClsid[] = "{87B0F902-CF8A-11D2-9CC8-0040053DDA73}";

class SentrelProwlet : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<testkit::Supervisord>(Programs()); }
    static void TearDownTestSuite() { s_server.reset(); }
    void SetUp() override {
        ASSERT_TRUE(s_server->WaitForState("web", "RUNNING"));
        ASSERT_EQ(Run("init").status, 0);
        CommandResult reg = Run("register " + ShellQuote(testkit::PluginPath("prowlet").string()));
        ASSERT_EQ(reg.status, 0) << reg.err;
        ASSERT_EQ(reg.out, "0x00000000\n");
        s_server->Configure("localhost"); // into this registry, which the host is given
        testkit::WriteFile(m_dir / "host.ini",
                           "[Router\\web]\r\nSERVICENAME=web\r\n"
                           "[Router\\idle]\r\nSERVICENAME=idle\r\nRESTART=0\r\n"
                           "[Router\\spare]\r\nSERVICENAME=spare\r\nRESTART=2\r\n"
                           "[Router\\gone]\r\nSERVICENAME=gone\r\n");
    }
    CommandResult Run(const std::string& args) {
        return testkit::RunCommand(testkit::HostPath().string() + " --registry " +
                                   ShellQuote(m_registry.path().string()) + " " + args);
    }
    CommandResult Check(const std::string& section, const std::string& address = "localhost") {
        return Run("check --profile " + ShellQuote((m_dir / "host.ini").string()) + " --section " +
                   ShellQuote(section) + " --address " + ShellQuote(address));
    }
    // The result line: the last line of standard error.
    static void ExpectResult(const CommandResult& r, long result) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.err, m, std::regex("result=(-?\\d+) elapsed=\\d+\n$")))
            << r.err;
        EXPECT_EQ(std::stol(m[1]), result);
    }

    testkit::ScopedRegistry m_registry;
    testkit::TempDir m_dir;
    static std::unique_ptr<testkit::Supervisord> s_server;
};

std::unique_ptr<testkit::Supervisord> SentrelProwlet::s_server;

TEST_F(SentrelProwlet, ListsThePluginWithItsTypeName) {
    CommandResult r = Run("plugins");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string("Prowlet.1\t") + kClsid + "\tNT Service\n");
}

TEST_F(SentrelProwlet, ARunningProgram) {
    CommandResult r = Check("router\\WEB");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Checking the NT Service web on localhost\r\n"
                     "localhost(web) SERVICE_STATUS dwServiceType=00000010, "
                     "dwCurrentState=00000004, dwControlsAccepted=00000001, dwWin32ExitCode=0 "
                     "(00000000), dwServiceSpecificExitCode=0 (00000000), dwCheckPoint=0, "
                     "dwWaitHint=0mSec\r\n"
                     "The check of the NT Service web on localhost succeeded.\r\n");
    ExpectResult(r, 0);
}

TEST_F(SentrelProwlet, StoppedWithoutAndWithRestart) {
    CommandResult idle = Check("Router\\idle");
    EXPECT_EQ(idle.status, 1);
    ExpectResult(idle, 1);
    EXPECT_NE(idle.out.find("dwCurrentState=00000001"), std::string::npos);
    EXPECT_EQ(s_server->StateOf("idle"), "STOPPED");

    CommandResult spare = Check("Router\\spare");
    EXPECT_EQ(spare.status, 0) << spare.err;
    ExpectResult(spare, 0);
    EXPECT_NE(spare.out.find("Attempting to RESTART the NT Service spare on localhost.\r\n"
                             "The RESTART the NT Service spare on localhost was successful.\r\n"
                             "The check of the NT Service spare on localhost succeeded.\r\n"),
              std::string::npos)
        << spare.out;
    EXPECT_TRUE(s_server->WaitForState("spare", "RUNNING"));
}

TEST_F(SentrelProwlet, AMissingProgramAndAnUnknownSection) {
    CommandResult r = Check("Router\\gone");
    EXPECT_EQ(r.status, 1);
    ExpectResult(r, 1060);
    EXPECT_EQ(r.out, "Checking the NT Service gone on localhost\r\n"
                     "Failed to open the NT Service gone on localhost. Reason: The specified "
                     "service does not exist as an installed service.\r\n\r\n"
                     "The check of the NT Service gone on localhost failed.\r\n");
    // No such section: an empty service name, which no manager accepts.
    CommandResult none = Check("Router\\none");
    EXPECT_EQ(none.status, 1);
    ExpectResult(none, 123);
}

TEST_F(SentrelProwlet, AnUnreachableMachine) {
    testkit::SetServiceManagerText("deadhost", "Address", "127.0.0.1");
    testkit::SetServiceManagerNumber("deadhost", "Port", static_cast<DWORD>(testkit::UnusedPort()));
    CommandResult r = Check("Router\\web", "deadhost");
    EXPECT_EQ(r.status, 1);
    ExpectResult(r, 1722);
    EXPECT_EQ(r.out, "Checking the NT Service web on deadhost\r\n"
                     "Failed to open the Service Control Manager for the NT Service web on "
                     "deadhost. Reason: The RPC server is unavailable.\r\n\r\n");
}

TEST_F(SentrelProwlet, BadUsage) {
    for (const char* args :
         {"check", "check --profile x --section y", "check --bogus 1", "plugins extra"}) {
        SCOPED_TRACE(args);
        CommandResult r = Run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("sentrel: ", 0), 0u) << r.err;
    }
    // A section name that does not fit the plug-in's buffer is refused, not cut.
    CommandResult r = Check(std::string(1100, 's'));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("SetInstanceName failed: 0x80070057"), std::string::npos) << r.err;
}

TEST_F(SentrelProwlet, RegisterTwiceUnregisterTwice) {
    CommandResult again = Run("register " + ShellQuote(testkit::PluginPath("prowlet").string()));
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "0x00000000\n");
    CommandResult once = Run("unregister " + ShellQuote(testkit::PluginPath("prowlet").string()));
    EXPECT_EQ(once.status, 0);
    EXPECT_EQ(once.out, "0x00000000\n");
    EXPECT_EQ(Run("plugins").out, "");
    // The value is gone: the second unregistration reports the platform's failure.
    CommandResult twice = Run("unregister " + ShellQuote(testkit::PluginPath("prowlet").string()));
    EXPECT_EQ(twice.status, 1);
    EXPECT_EQ(twice.out, "0x80070002\n");
    CommandResult check = Check("Router\\web");
    EXPECT_EQ(check.status, 2);
}

TEST_F(SentrelProwlet, ARegistrationFailureIsReportedAsFailure) {
    // The registry can be read but not written: its lock file cannot be opened for writing.
    const std::string lock = m_registry.path().string() + ".lock";
    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock);
    CommandResult r = Run("register " + ShellQuote(testkit::PluginPath("prowlet").string()));
    std::filesystem::remove(lock);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "0x800703F5\n"); // ERROR_CANTWRITE as an HRESULT
}

} // namespace
