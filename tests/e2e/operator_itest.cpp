// What an operator sees on the first steps and on ordinary mistakes: the cause of a refused
// instance file, warnings for instances that will do nothing, help for every command, the
// machine commands against a real supervisord, a registry that keeps passwords private.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "supervisord.h"
#include "testkit.h"
#include "udp_receiver.h"

using ::testing::HasSubstr;
using ::testing::Not;
using testkit::CommandResult;
using testkit::ShellQuote;
namespace fs = std::filesystem;

namespace {

constexpr char kSyslogClsid[] = "{69DD7B00-B669-11D4-804A-0001025EB176}";
constexpr char kSpeechClsid[] = "{44440FAF-3359-11D5-8075-00E0295E9283}";
constexpr char kLoadFailedLog[] =
    "SysLog::Notify Processing...\r\nSyslog::Notify:Failed to load instance data\r\n";

class Operator : public ::testing::Test {
protected:
    CommandResult Run(const std::string& args, const std::string& env = "") {
        return testkit::RunCommand(env + " SENTREL_SPEECH_OUTPUT=spool SENTREL_SPEECH_SPOOL=" +
                                   ShellQuote((dir / "spool").string()) + " " +
                                   testkit::HostPath().string() + " --registry " +
                                   ShellQuote(Registry().string()) + " " + args);
    }
    fs::path Registry() const { return dir / "registry.reg"; }
    void Register(const char* module) {
        CommandResult r = Run("register " + ShellQuote(testkit::PluginPath(module).string()));
        ASSERT_EQ(r.status, 0) << r.err;
    }
    void InitAndRegister() {
        ASSERT_EQ(Run("init").status, 0);
        Register("tellumo");
        Register("parlanza");
        Register("revocet");
    }
    // The instance folder, made on first use.
    fs::path Notify() {
        fs::create_directories(dir / "notify");
        return dir / "notify";
    }

    testkit::TempDir dir;
};

// A file an operator might have written by hand, and the cause the host must name.
struct BrokenFile {
    const char* name;
    const char* file; // the instance file's name; nullptr: none is written
    std::string bytes;
    std::string cause;
    // The file reads, but what it holds cannot be sent.
    bool bSendFails = false;
};

std::string Syslog(const std::string& section, const std::string& body,
                   const std::string& clsid = kSyslogClsid) {
    return "[Syslog\\" + section + "]\r\nCLSID=" + clsid + "\r\n" + body;
}

class BrokenInstance : public Operator, public ::testing::WithParamInterface<BrokenFile> {};

TEST_P(BrokenInstance, NotifyNamesThePathAndTheCause) {
    InitAndRegister();
    const BrokenFile& c = GetParam();
    fs::path path = Notify() / "Router";
    if (c.bytes.size())
        testkit::WriteFile(path, c.bytes);
    else if (c.file)
        testkit::WriteFile(path, "");
    CommandResult r = Run("notify SysLog " + ShellQuote(path.string()));
    EXPECT_EQ(r.status, 1);
    // Standard output stays the plug-in's log.
    EXPECT_EQ(r.out, c.bSendFails ? "SysLog::Notify Processing...\r\nSyslog::SendTo failed\r\n"
                                  : kLoadFailedLog);
    EXPECT_THAT(r.err, HasSubstr("0x80004005\n"));
    EXPECT_THAT(r.err,
                HasSubstr("instance file " + testkit::ZPath(path) + " (" + path.string() + "):\n"));
    EXPECT_THAT(r.err, HasSubstr(c.cause)) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Causes, BrokenInstance,
    ::testing::Values(
        BrokenFile{"Missing", nullptr, "", "sentrel:   no such file\n"},
        BrokenFile{"Empty", "Router", "",
                   "the file is empty: it needs the section [Syslog\\Router]"},
        BrokenFile{"ByteOrderMark", "Router",
                   "\xEF\xBB\xBF" + Syslog("Router", "Address=127.0.0.1\r\nPort=9\r\n"),
                   "line 1: the file starts with a UTF-8 byte-order mark"},
        BrokenFile{"BlanksAroundEquals", "Router",
                   Syslog("Router", "Address = 127.0.0.1\r\nMessage=m\r\nPort=9\r\n"),
                   "line 3: blanks around \"=\" in \"Address = 127.0.0.1\": the key is read as "
                   "\"Address \"",
                   true},
        BrokenFile{
            "LowerCaseClsid", "Router",
            Syslog("Router", "Address=127.0.0.1\r\nPort=9\r\n",
                   "{69dd7b00-b669-11d4-804a-0001025eb176}"),
            "line 2: the CLSID must be in upper case: {69DD7B00-B669-11D4-804A-0001025EB176}"},
        BrokenFile{"RenamedFile", "Router", Syslog("Old router", "Address=127.0.0.1\r\nPort=9\r\n"),
                   "section [Syslog\\Old router] on line 1 found, expected [Syslog\\Router]"},
        BrokenFile{"ClsidOfAnotherType", "Router",
                   Syslog("Router", "Address=127.0.0.1\r\nPort=9\r\n", kSpeechClsid),
                   "(that of a TextSpeech instance) differs from this type's " +
                       std::string(kSyslogClsid)},
        BrokenFile{"MisspeltKeys", "Router", Syslog("Router", "Adress=127.0.0.1\r\nMesage=m\r\n"),
                   "line 3: unknown key \"Adress\"; did you mean \"Address\"?"},
        BrokenFile{"NoneOfTheKeys", "Router", Syslog("Router", "Adress=127.0.0.1\r\n"),
                   "none of the keys Address, Message, Port in [Syslog\\Router]"},
        BrokenFile{"OldRecordWithABadLength", "Router",
                   std::string("\x00\x7B\xDD\x69\x69\xB6\xD4\x11\x80\x4A\x00\x01\x02\x5E\xB1\x76"
                               "\x02\x02\x00\x00\xC8\x00\x00\x00",
                               24) +
                       "127.0.0.1",
                   "an older binary record whose lengths do not hold"},
        BrokenFile{"NoSection", "Router", "Address=127.0.0.1\r\nPort=9\r\n",
                   "no section header: the file needs [Syslog\\Router] before its keys"},
        BrokenFile{"HostNameForAddress", "Router",
                   Syslog("Router", "Address=router.example\r\nMessage=m\r\nPort=9\r\n"),
                   "Address \"router.example\" is not a dotted IPv4 address", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Operator, MissingFolderIsNamed) {
    InitAndRegister();
    CommandResult r = Run("notify SysLog " + ShellQuote((dir / "nowhere" / "Router").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no such file: the folder " + (dir / "nowhere").string() +
                                 "/ does not exist"));
}

TEST_F(Operator, WorkingInstanceGetsNoDiagnosis) {
    InitAndRegister();
    testkit::UdpReceiver receiver;
    fs::path path = Notify() / "Router";
    testkit::WriteFile(path, Syslog("Router", "Address=127.0.0.1\r\nMessage=up\r\nPort=" +
                                                  std::to_string(receiver.port()) + "\r\n"));
    CommandResult r = Run("notify SysLog " + ShellQuote(path.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(receiver.Receive(), "up");
}

std::string Speech(const std::string& name, const std::string& body) {
    return "[TextSpeech\\" + name + "]\r\nCLSID=" + kSpeechClsid + "\r\n" + body;
}

TEST_F(Operator, SilentOrEmptySpeechInstancesAreWarnedAbout) {
    InitAndRegister();
    struct Case {
        const char* body;
        const char* warning;
    } cases[] = {
        {"SpeakRate=0\r\nVolumnRate=0\r\nMessage1=hello\r\nNO_OF_MESSAGE_LINES=1\r\n",
         "line 4: warning: VolumnRate=0: the alert will be silent"},
        {"SpeakRate=0\r\nVolumeRate=100\r\nMessage1=hello\r\nNO_OF_MESSAGE_LINES=1\r\n",
         "warning: no VolumnRate: the alert will be silent"},
        {"SpeakRate=0\r\nVolumeRate=100\r\nMessage1=hello\r\nNO_OF_MESSAGE_LINES=1\r\n",
         "line 4: unknown key \"VolumeRate\"; did you mean \"VolumnRate\"?"},
        {"SpeakRate=0\r\nVolumnRate=100\r\nNO_OF_MESSAGE_LINES=0\r\n",
         "line 5: warning: NO_OF_MESSAGE_LINES=0 and no message line to go with it: nothing "
         "will be spoken"},
        {"SpeakRate=0\r\nVolumnRate=100\r\nMessage1=hello\r\n",
         "warning: no NO_OF_MESSAGE_LINES: nothing will be spoken"},
    };
    for (const Case& c : cases) {
        fs::path path = Notify() / "Desk";
        testkit::WriteFile(path, Speech("Desk", c.body));
        CommandResult r = Run("notify TextSpeech " + ShellQuote(path.string()));
        EXPECT_EQ(r.status, 0) << c.body << r.err;
        EXPECT_EQ(r.out, testkit::ZPath(path) + " - Preparing to Speak\r\n" + testkit::ZPath(path) +
                             " - Speaking has completed\r\n");
        EXPECT_THAT(r.err, HasSubstr(c.warning)) << c.body;
    }
}

TEST_F(Operator, SpokenAlertSaysWhereTheWavWent) {
    InitAndRegister();
    fs::path path = Notify() / "Desk";
    testkit::WriteFile(path, Speech("Desk", "SpeakRate=0\r\nVolumnRate=100\r\nMessage1=printer "
                                            "down\r\nNO_OF_MESSAGE_LINES=1\r\n"));
    CommandResult r = Run("notify TextSpeech " + ShellQuote(path.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string prefix = "sentrel: the alert was spoken into the WAV file ";
    size_t at = r.err.find(prefix);
    ASSERT_NE(at, std::string::npos) << r.err;
    std::string wav = r.err.substr(at + prefix.size(), r.err.find('\n', at) - at - prefix.size());
    EXPECT_EQ(fs::path(wav).parent_path(), dir / "spool");
    EXPECT_GT(fs::file_size(wav), 44u);
    EXPECT_THAT(r.err, Not(HasSubstr("warning")));
}

TEST_F(Operator, ApplyWarnsAboutTheSilentInstanceItWrote) {
    InitAndRegister();
    CommandResult r = Run("apply TextSpeech --dir " + ShellQuote(Notify().string()) +
                          " --form 'origname=&instancename=Front+desk&speakrate=0&volumerate=0"
                          "&message=hello'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("instance file " + testkit::ZPath(Notify() / "Front desk")));
    EXPECT_THAT(r.err, HasSubstr("warning: VolumnRate=0: the alert will be silent"));
}

TEST_F(Operator, ApplyIntoAMissingFolderNamesIt) {
    InitAndRegister();
    fs::path gone = Notify() / "gone";
    CommandResult r = Run("apply SysLog --dir " + ShellQuote(testkit::ZPath(gone)) +
                          " --form 'origname=&instancename=x&port=9&address=127.0.0.1&message=m'");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no such folder " + gone.string()));
}

TEST_F(Operator, PageEditOfABrokenFileNamesTheCause) {
    InitAndRegister();
    fs::path path = Notify() / "Router";
    testkit::WriteFile(path, Syslog("Elsewhere", "Address=127.0.0.1\r\nPort=9\r\n"));
    CommandResult r = Run("page edit SysLog " + ShellQuote(path.string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("expected [Syslog\\Router]"));
}

TEST_F(Operator, ServiceManagerFailureNamesTheUrlAndTheKey) {
    InitAndRegister();
    int port = testkit::UnusedPort();
    ASSERT_EQ(Run("machine add PRN01 --address 127.0.0.1 --port " + std::to_string(port)).status,
              0);
    fs::path path = Notify() / "Restart";
    testkit::WriteFile(path, "[ServiceRestart\\Restart]\r\nCLSID={F28C09E9-D135-4E93-AD37-"
                             "73CCA41E8D2A}\r\nHost=%H\r\nService=web\r\nCommand=Start\r\n");
    CommandResult r = Run("notify ServiceRestart " + ShellQuote(path.string()) + " --var H=PRN01");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("Failed to connect to Service Manager"));
    EXPECT_THAT(r.err, HasSubstr("service manager of machine \"PRN01\": supervisord "
                                 "http://127.0.0.1:" +
                                 std::to_string(port) + "/RPC2\n"));
    EXPECT_THAT(r.err, HasSubstr("configured by HKEY_LOCAL_MACHINE\\Software\\Calvaro\\Sentrel\\"
                                 "ServiceManager\\Machines\\PRN01\n"));
    EXPECT_THAT(r.err, Not(HasSubstr("warning")));

    // A machine nobody configured: the defaults, and the key that would configure it.
    r = Run("notify ServiceRestart " + ShellQuote(path.string()) + " --var H=nosuch.invalid");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("http://nosuch.invalid:9001/RPC2"));
    EXPECT_THAT(r.err, HasSubstr("Machines\\nosuch.invalid (no such key: built-in defaults)"));
}

TEST_F(Operator, CommandThatStopsIsWarnedAbout) {
    InitAndRegister();
    fs::path path = Notify() / "Restart";
    testkit::WriteFile(path,
                       "[ServiceRestart\\Restart]\r\nCLSID={F28C09E9-D135-4E93-AD37-"
                       "73CCA41E8D2A}\r\nHost=nosuch.invalid\r\nService=web\r\nCommand=start\r\n");
    CommandResult r = Run("notify ServiceRestart " + ShellQuote(path.string()));
    EXPECT_THAT(r.err, HasSubstr("line 5: warning: Command=start stops the service"));

    // Start and Stop, spelt so, are what they say.
    for (const char* command : {"Start", "Stop"}) {
        testkit::WriteFile(path,
                           std::string("[ServiceRestart\\Restart]\r\nCLSID={F28C09E9-D135-4E93-"
                                       "AD37-73CCA41E8D2A}\r\nHost=nosuch.invalid\r\nService="
                                       "web\r\nCommand=") +
                               command + "\r\n");
        r = Run("notify ServiceRestart " + ShellQuote(path.string()));
        EXPECT_THAT(r.err, Not(HasSubstr("warning"))) << command;
    }
}

// The first steps.

TEST_F(Operator, RegisterBeforeInitWarnsThatTheHostKeysAreMissing) {
    CommandResult r = Run("register " + ShellQuote(testkit::PluginPath("tellumo").string()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0x00000000\n");
    EXPECT_THAT(r.err, HasSubstr("warning: the host's keys (HKEY_LOCAL_MACHINE\\Software\\Calvaro\\"
                                 "Sentrel\\Notification) are missing"));
    EXPECT_THAT(r.err, HasSubstr("run sentrel init"));
}

TEST_F(Operator, RegisterSaysWhatItRegistered) {
    ASSERT_EQ(Run("init").status, 0);
    CommandResult types = Run("types");
    EXPECT_EQ(types.status, 0);
    EXPECT_EQ(types.out, "");
    EXPECT_THAT(types.err, HasSubstr("no notification type is registered"));

    std::string module = testkit::PluginPath("parlanza").string();
    for (int again = 0; again < 2; ++again) {
        CommandResult r = Run("register " + ShellQuote(module));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "0x00000000\n");
        EXPECT_EQ(r.err, "sentrel: registered notification type TextSpeech (TextSpeech) from " +
                             module + "\n")
            << "registration " << again;
    }
    CommandResult r = Run("unregister " + ShellQuote(module));
    EXPECT_EQ(r.err, "sentrel: unregistered notification type TextSpeech (TextSpeech) of " +
                         module + "\n");
    EXPECT_EQ(Run("types").out, "");
}

TEST_F(Operator, BrokenRegistryIsReportedWithPathAndLineByEveryCommand) {
    const std::string bad = "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\Software]\r\nthis is not a value\r\n";
    testkit::WriteFile(Registry(), bad);
    std::string module = ShellQuote(testkit::PluginPath("tellumo").string());
    std::string notify = ShellQuote(Notify().string());
    for (const std::string& args : std::vector<std::string>{
             "init", "register " + module, "unregister " + module, "types",
             "notify SysLog " + notify + "/x", "page new SysLog --dir " + notify,
             "page edit SysLog " + notify + "/x", "apply SysLog --dir " + notify + " --form a=b",
             "web --dir " + notify + " --listen 127.0.0.1:0", "machine list", "machine add X",
             "machine test X", "machine remove X"}) {
        CommandResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_THAT(r.err, HasSubstr(Registry().string() + ":4: ")) << args;
        EXPECT_EQ(r.out, "") << args;
    }
    EXPECT_EQ(testkit::ReadFile(Registry()), bad);
}

TEST_F(Operator, EveryCommandAnswersHelp) {
    for (const char* command : {"init", "register", "unregister", "types", "notify", "web", "page",
                                "apply", "dialog", "machine"})
        for (const char* flag : {"--help", "-h"}) {
            CommandResult r = Run(std::string(command) + " " + flag);
            EXPECT_EQ(r.status, 0) << command << flag;
            EXPECT_EQ(r.out.rfind(std::string("usage: sentrel [--registry FILE] ") + command, 0),
                      0u)
                << command << flag << ": " << r.out;
            EXPECT_EQ(r.err, "") << command << flag;
        }
    // The help of one command does not run it, and a value that reads "-h" is a value.
    CommandResult r = Run("notify SysLog /nonexistent --var H=-h --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("usage: sentrel [--registry FILE] notify TYPE PATH"));
    EXPECT_THAT(Run("notify SysLog /x --var -h").out, Not(HasSubstr("usage:")));

    CommandResult receiver =
        testkit::RunCommand((testkit::BuildDir() / "bin" / "syslog-receiver").string() + " --help");
    EXPECT_EQ(receiver.status, 0);
    EXPECT_EQ(receiver.out.rfind("usage: syslog-receiver ", 0), 0u) << receiver.out;
}

TEST_F(Operator, WebSaysWhyItCannotListen) {
    InitAndRegister();
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(fd, 1), 0);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    std::string listenAt = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    CommandResult r = Run("web --dir " + ShellQuote(Notify().string()) + " --listen " + listenAt);
    close(fd);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "sentrel: web: cannot listen on " + listenAt +
                         ": address in use (another program listens there); try --listen "
                         "127.0.0.1:0 for a free port\n");
}

// Machines.

testkit::SupervisedProgram Program(const std::string& name, bool autostart = false) {
    testkit::SupervisedProgram program;
    program.name = name;
    program.autostart = autostart;
    return program;
}

class Machines : public Operator {
protected:
    std::string PasswordFile(const std::string& password) {
        fs::path file = dir / "password";
        testkit::WriteFile(file, password + "\n");
        return ShellQuote(file.string());
    }
    unsigned Mode() const {
        struct stat st {};
        stat(Registry().c_str(), &st);
        return st.st_mode & 07777;
    }
};

TEST_F(Machines, AddListTestRemoveAgainstSupervisord) {
    testkit::Supervisord supervisord({Program("webcache"), Program("worker", true)}, "operator",
                                     "pa&ss \"w<rd");
    ASSERT_TRUE(supervisord.WaitForState("worker", "RUNNING"));
    std::string port = std::to_string(supervisord.port());

    CommandResult add = Run("machine add localhost --address 127.0.0.1 --port " + port +
                            " --user operator --password-file " + PasswordFile("pa&ss \"w<rd"));
    ASSERT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(add.out, "localhost\tsupervisord\thttp://127.0.0.1:" + port +
                           "/RPC2\toperator\tpassword set\n");
    EXPECT_EQ(Mode(), 0600u);

    CommandResult test = Run("machine test localhost");
    ASSERT_EQ(test.status, 0) << test.err;
    EXPECT_EQ(test.out, "webcache\tstopped\nworker\trunning\n");
    EXPECT_THAT(test.err, HasSubstr("answers: 2 services"));

    // More saves: another machine, a simulated one, and the first one removed.
    ASSERT_EQ(Run("machine add PRN01 --backend simulated --simulation-file " +
                  ShellQuote((dir / "services.sim").string()))
                  .status,
              0);
    ASSERT_EQ(Run("machine add PRN02 --port 9002 --user u --password-file " +
                  PasswordFile("second secret"))
                  .status,
              0);
    EXPECT_EQ(Mode(), 0600u);
    CommandResult list = Run("machine list");
    EXPECT_EQ(list.out, "localhost\tsupervisord\thttp://127.0.0.1:" + port +
                            "/RPC2\toperator\tpassword set\n"
                            "PRN01\tsimulated\t" +
                            (dir / "services.sim").string() +
                            "\t-\tno password\n"
                            "PRN02\tsupervisord\thttp://PRN02:9002/RPC2\tu\tpassword set\n");
    for (const CommandResult& r : {add, test, list}) {
        EXPECT_THAT(r.out + r.err, Not(HasSubstr("pa&ss"))) << "a password was printed";
        EXPECT_THAT(r.out + r.err, Not(HasSubstr("second secret"))) << "a password was printed";
    }

    CommandResult removed = Run("machine remove PRN02");
    EXPECT_EQ(removed.status, 0);
    EXPECT_EQ(Mode(), 0600u);
    EXPECT_THAT(testkit::ReadFile(Registry()), Not(HasSubstr("second secret")));
    EXPECT_EQ(Run("machine remove PRN02").status, 1);
    EXPECT_THAT(Run("machine list").out, Not(HasSubstr("PRN02")));
}

TEST_F(Machines, TestSaysWhyItCannotConnect) {
    testkit::Supervisord supervisord({Program("webcache")}, "operator", "right");
    std::string port = std::to_string(supervisord.port());
    ASSERT_EQ(Run("machine add localhost --port " + port + " --user operator --password-file " +
                  PasswordFile("wrong"))
                  .status,
              0);
    CommandResult r = Run("machine test localhost");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("cannot reach the service manager of localhost: supervisord "
                                 "http://127.0.0.1:" +
                                 port + "/RPC2: Access is denied (5)"));
    EXPECT_THAT(r.err, HasSubstr("refused the credentials"));
    EXPECT_THAT(r.err, Not(HasSubstr("wrong")));

    int unused = testkit::UnusedPort();
    ASSERT_EQ(Run("machine add localhost --port " + std::to_string(unused)).status, 0);
    r = Run("machine test localhost");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("(1722)"));
    EXPECT_THAT(r.err, HasSubstr("nothing answers there"));
}

TEST_F(Machines, ThisMachinesNameIsKeptAsLocalhost) {
    char name[256] = {};
    ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
    CommandResult r = Run(std::string("machine add ") + ShellQuote(name) + " --port 9444");
    ASSERT_EQ(r.status, 0);
    EXPECT_THAT(r.err,
                HasSubstr("\"" + std::string(name) + "\" is this machine: kept as localhost"));
    EXPECT_EQ(r.out, "localhost\tsupervisord\thttp://127.0.0.1:9444/RPC2\t-\tno password\n");
}

TEST_F(Machines, WorldReadableRegistryIsMadePrivateWhenAPasswordGoesIn) {
    ASSERT_EQ(Run("init").status, 0);
    ASSERT_EQ(chmod(Registry().c_str(), 0644), 0);
    ASSERT_EQ(Run("machine add PRN01 --port 9001").status, 0);
    EXPECT_EQ(Mode(), 0644u); // no password, the owner's choice stands
    CommandResult r = Run("machine add PRN01 --password-file " + PasswordFile("s3cret"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(Mode(), 0600u);
    EXPECT_THAT(r.err, HasSubstr("was readable by others"));
}

TEST_F(Machines, BadOptionsAreRefused) {
    for (const char* args : {"machine", "machine frob", "machine add", "machine add X --port 0",
                             "machine add X --port 70000", "machine add X --backend wmi",
                             "machine add X --password-file /nonexistent", "machine add X --port",
                             "machine list extra", "machine remove", "machine test",
                             "machine add 'x\\y'", "machine add a/b", "machine test 'x\\y'"}) {
        CommandResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.rfind("sentrel: ", 0), 0u) << args << r.err;
    }
}

} // namespace
