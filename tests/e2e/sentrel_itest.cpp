// The sentrel host as a user runs it: a fresh registry, Tellumo registered, alerts sent
// to a UDP receiver on loopback.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "registry_probe.h"
#include "testkit.h"
#include "udp_receiver.h"

using testkit::CommandResult;
using testkit::RunCommand;
using testkit::ShellQuote;
namespace fs = std::filesystem;

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
    std::string path =
        Instance("Router alarms", "Address=127.0.0.1\r\nMessage=%HOST %H: %V\r\nPort=" +
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

// Names on disk are UTF-8; the plug-in reads and writes them in the code page.
TEST_F(SentrelHost, NonAsciiNamesAreUtf8OnDiskAndWorkInTheirCodePage) {
    const struct {
        const char* codePage;
        std::string name;    // UTF-8
        std::string section; // the name in the code page, as the file's text holds it
    } cases[] = {
        {"1252", "Caf\xC3\xA9 Raw", "Caf\xE9 Raw"},
        // Two kanji, the first with a trail byte 0x5C, which is no separator.
        {"932", "\xE8\xA1\xA8\xE7\xA4\xBA", "\x95\x5C\x8E\xA6"},
    };
    const std::string port = std::to_string(receiver.port());
    for (const auto& c : cases) {
        const std::string env = std::string("SENTREL_CODEPAGE=") + c.codePage + " ";
        const std::string host = env + testkit::HostPath().string() + " --registry " +
                                 ShellQuote((dir / "registry.reg").string()) + " ";
        CommandResult r =
            RunCommand(host + "apply SysLog --dir " + ShellQuote(dir.path().string()) + " --form " +
                       ShellQuote("origname=&instancename=" + c.name +
                                  "&address=127.0.0.1&message=hi+" + c.codePage + "&port=" + port));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(testkit::ReadFile(dir / c.name),
                  "[Syslog\\" + c.section +
                      "]\r\nCLSID={69DD7B00-B669-11D4-804A-0001025EB176}\r\nAddress=127.0.0.1\r\n"
                      "Message=hi " +
                      c.codePage + "\r\nPort=" + port + "\r\n");
        r = RunCommand(host + "notify SysLog " + ShellQuote((dir / c.name).string()));
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(receiver.Receive(), std::string("hi ") + c.codePage);
    }
    // A name the code page cannot write is refused before it reaches the plug-in as "??".
    CommandResult r = Run("notify SysLog " + ShellQuote((dir / cases[1].name).string()));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot be written in code page 1252"), std::string::npos) << r.err;
}

// Starts sentrel with the arguments, its output thrown away; returns its process id.
pid_t Spawn(const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        std::string host = testkit::HostPath().string();
        argv.push_back(host.data());
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(host.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// Kills each saver at a random moment of its run, many times over.
void KillSaversAtRandom(const std::vector<std::string>& args, int times,
                        const std::function<void()>& check) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay(0, 30000); // microseconds
    for (int i = 0; i < times; ++i) {
        pid_t pid = Spawn(args);
        ASSERT_GT(pid, 0);
        usleep(static_cast<useconds_t>(delay(random)));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        check();
    }
}

TEST_F(SentrelHost, KilledSavesLeaveNothingBrokenAndTheNextSaveClearsUp) {
    const fs::path notify = dir / "notify";
    fs::create_directory(notify);
    const std::string message(1500, 'm');
    auto file = [&](const std::string& port) {
        return "[Syslog\\Router]\r\nCLSID={69DD7B00-B669-11D4-804A-0001025EB176}\r\n"
               "Address=127.0.0.1\r\nMessage=" +
               message + "\r\nPort=" + port + "\r\n";
    };
    const std::string form = "origname=Router&address=127.0.0.1&message=" + message + "&port=";
    const std::vector<std::string> apply = {"--registry", (dir / "registry.reg").string(),
                                            "apply",      "SysLog",
                                            "--dir",      notify.string(),
                                            "--form",     form + "2"};
    ASSERT_EQ(Run("apply SysLog --dir " + ShellQuote(notify.string()) + " --form " +
                  ShellQuote("origname=&instancename=Router&address=127.0.0.1&message=" + message +
                             "&port=1"))
                  .status,
              0);
    // The instance is always the old file or the new one, whole.
    KillSaversAtRandom(apply, 100, [&] {
        const std::string now = testkit::ReadFile(notify / "Router");
        ASSERT_TRUE(now == file("1") || now == file("2")) << now.size();
    });
    // A leftover of a save killed at any time before, held by nobody.
    testkit::WriteFile(notify / "]pd0ABC.tmp", "[Syslog\\Router]\r\nCLSID=");
    ASSERT_EQ(Run("apply SysLog --dir " + ShellQuote(notify.string()) + " --form " +
                  ShellQuote(form + "3"))
                  .status,
              0);
    EXPECT_EQ(testkit::Listing(notify), std::vector<std::string>{"Router"});
    EXPECT_EQ(testkit::ReadFile(notify / "Router"), file("3"));

    // The registry: always readable, and its writers' leftovers go with the next change.
    const std::vector<std::string> reg = {"--registry", (dir / "registry.reg").string(), "register",
                                          testkit::PluginPath("parlanza").string()};
    const std::vector<std::string> unreg = {"--registry", (dir / "registry.reg").string(),
                                            "unregister", testkit::PluginPath("parlanza").string()};
    for (int round = 0; round < 2; ++round)
        KillSaversAtRandom(round == 0 ? reg : unreg, 40, [&] {
            CommandResult types = Run("types");
            ASSERT_EQ(types.status, 0) << types.err;
            ASSERT_NE(types.out.find("SysLog\t"), std::string::npos);
        });
    testkit::WriteFile(dir / ".registry.reg.a1B2c3", "Windows Registry Editor");
    ASSERT_EQ(Run("register " + ShellQuote(testkit::PluginPath("parlanza").string())).status, 0);
    std::vector<std::string> left;
    for (const std::string& name : testkit::Listing(dir.path()))
        if (name.rfind(".registry.reg", 0) == 0)
            left.push_back(name);
    EXPECT_TRUE(left.empty()) << left.front();
    EXPECT_NE(Run("types").out.find("TextSpeech\t"), std::string::npos);
}

TEST(SentrelRegistry, UnreadableRegistryIsReportedWithItsLineAndLeftAlone) {
    testkit::TempDir dir;
    std::string bad =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n"
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
