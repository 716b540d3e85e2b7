// The sentrel host as a user runs it: a fresh registry, Tellumo registered, alerts sent
// to a UDP receiver on loopback.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "registry_probe.h"
#include "testkit.h"
#include "udp_receiver.h"

using testkit::CommandResult;
using testkit::RunCommand;
using testkit::ShellQuote;

namespace {

class SentrelHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Run("init").status, 0);
        CommandResult reg = Run("register " + ShellQuote(testkit::PluginPath("tellumo").string()));
        ASSERT_EQ(reg.status, 0) << reg.err;
        ASSERT_EQ(reg.out, "0x00000000\n");
    }
    CommandResult Run(const std::string& args) {
        return RunCommand(testkit::HostPath().string() + " --registry " +
                          ShellQuote((dir / "registry.reg").string()) + " " + args);
    }
    std::string Instance(const std::string& name, const std::string& body) {
        testkit::WriteFile(dir / name, "[Syslog\\" + name +
                                           "]\r\nCLSID={69DD7B00-B669-11D4-804A-0001025EB176}\r\n" +
                                           body);
        return (dir / name).string();
    }

    testkit::TempDir dir;
    testkit::UdpReceiver receiver;
};

TEST_F(SentrelHost, ListsTheRegisteredType) {
    CommandResult types = Run("types");
    ASSERT_EQ(types.status, 0) << types.err;
    EXPECT_EQ(types.out,
              "SysLog\tSyslog\t{C89F80D2-B3F1-11D4-804A-0001025EB176}\tSend a Syslog message\n");
}

TEST_F(SentrelHost, NotifyExpandsVariablesLongestFirstAndLogsToStandardOutput) {
    std::string path = Instance("Router alarms", "Address=127.0.0.1\r\nMessage=%HOST %H: %V\r\nPort=" +
                                                     std::to_string(receiver.port()) + "\r\n");
    CommandResult r = Run("notify Syslog " + ShellQuote(path) +
                          " --var H=short --var HOST=router-7 --var V='link down'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "SysLog::Notify Processing...\r\nSysLog::Notify Processing... Complete.\r\n");
    EXPECT_EQ(receiver.Receive(), "router-7 short: link down");
}

TEST_F(SentrelHost, PlatformPathIsPassedVerbatim) {
    std::string path = Instance("Alpha", "Address=127.0.0.1\r\nMessage=plain\r\nPort=" +
                                             std::to_string(receiver.port()) + "\r\n");
    CommandResult r = Run("notify SYSLOG " + ShellQuote(testkit::ZPath(path)));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(receiver.Receive(), "plain");
}

TEST_F(SentrelHost, FailedExpansionSendsTheStoredText) {
    std::string path = Instance("Alpha", "Address=127.0.0.1\r\nMessage=%H down\r\nPort=" +
                                             std::to_string(receiver.port()) + "\r\n");
    CommandResult r = Run("notify syslog " + ShellQuote(path) + " --var H=x --expand-fails");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(receiver.Receive(), "%H down");
}

TEST_F(SentrelHost, PluginFailureExitsOneWithTheResult) {
    CommandResult r = Run("notify SysLog " + ShellQuote((dir / "missing").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "SysLog::Notify Processing...\r\nSyslog::Notify:Failed to load instance data\r\n");
    EXPECT_EQ(r.err.rfind("0x80004005\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("no such file"), std::string::npos) << r.err;
}

TEST_F(SentrelHost, UsageErrorsExitTwoWithOneLine) {
    const char* cases[] = {"",
                           "frobnicate",
                           "notify SysLog",
                           "notify NoSuchType /tmp/x",
                           "notify SysLog /tmp/x --var novalue",
                           "register /no/such/module.so",
                           "types extra"};
    for (const char* args : cases) {
        CommandResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.rfind("sentrel: ", 0), 0u) << args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
    }
}

TEST_F(SentrelHost, UnregisterRemovesTheType) {
    CommandResult r = Run("unregister " + ShellQuote(testkit::PluginPath("tellumo").string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0x00000000\n");
    EXPECT_EQ(Run("types").out, "");
    EXPECT_EQ(Run("notify SysLog /tmp/x").status, 2);
}

TEST(SentrelRegistry, UnreadableRegistryIsReportedWithItsLineAndLeftAlone) {
    testkit::TempDir dir;
    std::string bad = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n"
                      "this is not a value\r\n";
    testkit::WriteFile(dir / "registry.reg", bad);
    CommandResult r = RunCommand("SENTREL_REGISTRY=" + ShellQuote((dir / "registry.reg").string()) +
                                 " " + testkit::HostPath().string() + " init");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("registry.reg:4"), std::string::npos) << r.err;
    EXPECT_EQ(testkit::ReadFile(dir / "registry.reg"), bad);
}

TEST(SentrelHelp, DescribesEveryCommand) {
    CommandResult r = RunCommand(testkit::HostPath().string() + " --help");
    ASSERT_EQ(r.status, 0);
    for (const char* command : {"init", "register", "unregister", "types", "notify", "--registry"})
        EXPECT_NE(r.out.find(command), std::string::npos) << command;
}

} // namespace

namespace {

TEST(SentrelInit, InstallDirIsThePluginFolderAndTheHelpViewerIsRegistered) {
    testkit::TempDir dir;
    std::string registry = (dir / "registry.reg").string();
    std::string host = testkit::HostPath().string() + " --registry " + ShellQuote(registry);
    ASSERT_EQ(RunCommand(host + " init").status, 0);
    WinplatSetRegistryPath(registry.c_str());
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel", "INSTALLDIR"),
              testkit::ZPath(testkit::BuildDir() / "plugins"));
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT,
                                   "CLSID\\{adb880a6-d8ff-11cf-9377-00aa003b7a11}"));
    // An installation folder given by the operator wins.
    ASSERT_EQ(RunCommand(host + " init --install-dir /opt/sentrel").status, 0);
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel", "INSTALLDIR"),
              "Z:\\opt\\sentrel");
    WinplatSetRegistryPath(nullptr);
}

} // namespace
