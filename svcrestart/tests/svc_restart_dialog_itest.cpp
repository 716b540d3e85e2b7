// Revocet's dialogs against a supervisord that the fixture starts on a loopback port: the
// service picker lists its programs, and one full flow from the settings dialog through
// the host browser and the picker to "sentrel notify" of the instance written.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/winreg.h>

#include "dialog_host.h"
#include "supervisord.h"

namespace {

using Lines = std::vector<std::string>;

std::vector<testkit::SupervisedProgram> Programs() {
    std::vector<testkit::SupervisedProgram> programs(4);
    programs[0].name = "idle";
    programs[1].name = "busy";
    programs[1].autostart = true;
    programs[2].name = "Slow";
    programs[2].autostart = true;
    programs[2].startsecs = 600; // stays STARTING for the whole test
    programs[3].name = "cache";
    programs[3].group = "web";
    return programs;
}

class RevocetDialogSupervisord : public testkit::DialogHostTest {
protected:
    RevocetDialogSupervisord() : DialogHostTest("revocet") {}

    static void SetUpTestSuite() { s_server = std::make_unique<testkit::Supervisord>(Programs()); }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override {
        DialogHostTest::SetUp();
        ASSERT_TRUE(s_server->WaitForState("busy", "RUNNING"));
        ASSERT_TRUE(s_server->WaitForState("Slow", "STARTING"));
        WinplatSetRegistryPath((dir / "reg.reg").c_str());
        s_server->Configure("PRN01");
        testkit::SetServiceManagerText("DOWNHOST", "Address", "127.0.0.1");
        testkit::SetServiceManagerNumber("DOWNHOST", "Port", testkit::UnusedPort());
    }
    void TearDown() override { WinplatSetRegistryPath(nullptr); }

    static bool Has(const testkit::DialogRun& run, const std::string& line) {
        return std::find(run.lines.begin(), run.lines.end(), line) != run.lines.end();
    }

    static std::unique_ptr<testkit::Supervisord> s_server;
};

std::unique_ptr<testkit::Supervisord> RevocetDialogSupervisord::s_server;

TEST_F(RevocetDialogSupervisord, ThePickerListsTheProgramsSortedWithTheirStates) {
    testkit::DialogRun run = Dialog("new ServiceRestart", {"type 202 PRN01", "click 205", "dump",
                                                           "key 213 down", "click 1", "dump"});
    EXPECT_TRUE(Has(run, "open 203 \"Select Service On PRN01\"")) << run.Text();
    EXPECT_TRUE(Has(run, "control 213 listview \"\" selected \"busy\\tbusy\\tRunning.\" items "
                         "\"busy\\tbusy\\tRunning.\" \"idle\\tidle\\tStopped.\" "
                         "\"Slow\\tSlow\\tStarting.\" \"web:cache\\tweb:cache\\tStopped.\""))
        << run.Text();
    EXPECT_TRUE(Has(run, "close 203 OK")) << run.Text();
    EXPECT_TRUE(Has(run, "control 203 edit \"idle\"")) << run.Text();
}

TEST_F(RevocetDialogSupervisord, ASupervisordThatDoesNotAnswerClosesThePickerAfterSayingWhy) {
    testkit::DialogRun run =
        Dialog("new ServiceRestart", {"type 202 DOWNHOST", "type 203 kept", "click 205", "dump"});
    const std::string cause = "The RPC server is unavailable.\\r\\n";
    Lines expected = {"log \"\"",
                      "log \" Failed to connect to Service Manager : Error Code \"",
                      "log \"1722\"",
                      "log \"" + cause + "\"",
                      "log \"\\r\\n\"",
                      "box \"Error\" \"" + cause + "\"",
                      "answer OK (default)",
                      "focus 205",
                      "close 203 Cancel"};
    auto at = std::find(run.lines.begin(), run.lines.end(), "log \"\"");
    ASSERT_NE(at, run.lines.end()) << run.Text();
    EXPECT_EQ(
        Lines(at, at + static_cast<long>(std::min<size_t>(expected.size(), run.lines.end() - at))),
        expected)
        << run.Text();
    EXPECT_TRUE(Has(run, "control 203 edit \"kept\"")) << run.Text();
}

TEST_F(RevocetDialogSupervisord, TheFullFlowWritesAnInstanceThatNotifyCarriesOut) {
    s_server->Ctl("stop idle");
    ASSERT_TRUE(s_server->WaitForState("idle", "STOPPED"));
    testkit::DialogRun run =
        Dialog("new ServiceRestart",
               {"type 201 Start idle", "click 204", "pick 212 PRN01", "click 1", "click 205",
                "pick 213 idle", "click 1", "pick 215 Start", "click 1"});
    ASSERT_EQ(run.status, 0) << run.Text();
    std::string z;
    for (char c : notifyZ)
        z += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(run.lines,
              (Lines{
                  "log \"" + z + "\\\\Default - Failed to load notification from disk.\\r\\n\"",
                  "open 202 \"New Service Restart Notification\"",
                  "focus 201",
                  "open 20024 \"Network Neighborhood\"",
                  "focus 212",
                  "close 20024 OK",
                  "open 203 \"Select Service On PRN01\"",
                  "focus 213",
                  "close 203 OK",
                  "close 202 OK",
                  "result 0x00000000 name \"Start idle\"",
              }))
        << run.Text();
    EXPECT_EQ(File("Start idle"), "[ServiceRestart\\Start idle]\r\n"
                                  "CLSID={F28C09E9-D135-4E93-AD37-73CCA41E8D2A}\r\n"
                                  "Host=PRN01\r\nService=idle\r\nCommand=Start\r\n");

    testkit::CommandResult done = testkit::RunCommand(
        testkit::HostPath().string() + " --registry " +
        testkit::ShellQuote((dir / "reg.reg").string()) + " notify ServiceRestart " +
        testkit::ShellQuote((notify / "Start idle").string()));
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.out, notifyZ + "\\Start idle" +
                            " - StartService Return OK - Service was started successfully.\r\n");
    EXPECT_TRUE(s_server->WaitForState("idle", "RUNNING"));
    s_server->Ctl("stop idle");
}

} // namespace
