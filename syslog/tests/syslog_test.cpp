// SysLog end to end in process: instance files on disk, a real UDP receiver on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <winplat/comptr.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>

#include "recording_host.h"
#include "supervisord.h" // UnusedPort
#include "syslog.h"
#include "syslog_transport.h"
#include "testkit.h"
#include "udp_receiver.h"

namespace fs = std::filesystem;
using testkit::RecordingHost;
using testkit::TempDir;
using testkit::UdpReceiver;
using winplat::Bstr;
using winplat::ComPtr;

namespace {

constexpr char kType[] = "{69DD7B00-B669-11D4-804A-0001025EB176}";

std::string IniFile(const std::string& name, const std::string& body) {
    return "[Syslog\\" + name + "]\r\nCLSID=" + kType + "\r\n" + body;
}

// A version 6 record: signature, port, N, address, M, message.
std::string Version6(int32_t port, int32_t n, const std::string& address, int32_t m,
                     const std::string& message) {
    auto le32 = [](int32_t v) {
        std::string b(4, '\0');
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
        return b;
    };
    std::string record = {'\x00', '\x7B', '\xDD', '\x69', '\x69', '\xB6', '\xD4', '\x11',
                          '\x80', '\x4A', '\x00', '\x01', '\x02', '\x5E', '\xB1', '\x76'};
    return record + le32(port) + le32(n) + address + le32(m) + message;
}

class SysLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(sentrel::CreateComponent<SysLog>(nullptr, IID_ISentrelNotification,
                                                   reinterpret_cast<void**>(m_plugin.Put())),
                  S_OK);
    }
    void TearDown() override {
        m_plugin.Reset();
        EXPECT_EQ(host.References(), 0u) << "the plug-in kept a host reference";
        WinplatSetACP(1252);
        CoUninitialize();
    }
    SysLog* Object() { return static_cast<SysLog*>(m_plugin.Get()); }

    // Writes an instance file and returns its platform path.
    std::string Instance(const std::string& name, const std::string& content) {
        testkit::WriteFile(dir / name, content);
        return testkit::ZPath(dir / name);
    }
    std::string Syslog(const std::string& name, const std::string& address,
                       const std::string& message, const std::string& port) {
        return Instance(name, IniFile(name, "Address=" + address + "\r\nMessage=" + message +
                                                "\r\nPort=" + port + "\r\n"));
    }
    HRESULT Notify(const std::string& path) {
        Bstr b(testkit::Utf16(path));
        return m_plugin->Notify(b.Get());
    }
    void Init() { ASSERT_EQ(m_plugin->Initialize(&host), S_OK); }

    TempDir dir;
    RecordingHost host;
    UdpReceiver receiver;
    ComPtr<ISentrelNotification> m_plugin;
};

TEST_F(SysLogTest, SendsExactlyTheExpandedLine) {
    Init();
    host.expand = [](std::u16string& text) {
        EXPECT_EQ(text, u"%H is %V");
        text = u"router-7 is down";
        return S_OK;
    };
    std::string path = Syslog("Router", "127.0.0.1", "%H is %V", std::to_string(receiver.port()));
    ASSERT_EQ(Notify(path), S_OK);
    EXPECT_EQ(receiver.Receive(), "router-7 is down");
    EXPECT_EQ(host.calls, (std::vector<std::string>{"SysLog::Notify Processing...\r\n",
                                                    "SysLog::Notify Processing... Complete.\r\n"}));
    EXPECT_EQ(host.levels, (std::vector<LONG>{1, 1}));
}

TEST_F(SysLogTest, ControlAndNonAsciiBytesBecomeBlanks) {
    Init();
    host.expand = [](std::u16string& text) {
        text = u"a\tb\nc\u00E9d\x7F"
               u"e\r";
        return S_OK;
    };
    std::string path = Syslog("R", "127.0.0.1", "x", std::to_string(receiver.port()));
    ASSERT_EQ(Notify(path), S_OK);
    EXPECT_EQ(receiver.Receive(), "a b c d e ");
}

TEST_F(SysLogTest, StoredAnsiTextIsSentAsStoredAfterCleaning) {
    Init();
    std::string path = Syslog("R", "127.0.0.1", "caf\xE9 ok\t!", std::to_string(receiver.port()));
    ASSERT_EQ(Notify(path), S_OK);
    EXPECT_EQ(receiver.Receive(), "caf  ok !");
}

TEST_F(SysLogTest, LongMessageIsCutTo959BytesWithAWarning) {
    Init();
    std::string message(1000, 'm');
    message[958] = 'X';
    message[959] = 'Y';
    std::string path = Syslog("R", "127.0.0.1", message, std::to_string(receiver.port()));
    ASSERT_EQ(Notify(path), S_OK);
    auto got = receiver.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->size(), 959u);
    EXPECT_EQ(got->back(), 'X');
    ASSERT_EQ(host.calls.size(), 3u);
    EXPECT_EQ(host.calls[1], "SysLog::Notify:Warning data truncated - message is > 959 characters "
                             "in length (1000 characters).\r\n");
}

TEST_F(SysLogTest, ExactlyAtTheLimitNoWarning) {
    Init();
    std::string path =
        Syslog("R", "127.0.0.1", std::string(959, 'a'), std::to_string(receiver.port()));
    ASSERT_EQ(Notify(path), S_OK);
    EXPECT_EQ(receiver.Receive()->size(), 959u);
    EXPECT_EQ(host.calls.size(), 2u);
}

TEST_F(SysLogTest, DoubleByteCharacterIsNeverSplitAtTheCut) {
    ASSERT_TRUE(WinplatSetACP(932));
    EXPECT_EQ(SysLog::CleanMessage(std::string(958, 'a') + "\x82\xA0" + "zz"),
              std::string(958, 'a'));
    EXPECT_EQ(SysLog::CleanMessage(std::string(957, 'a') + "\x83\x41" + "zz"),
              std::string(957, 'a') + " A");
}

TEST_F(SysLogTest, ExpansionFailureStillSendsTheTextFound) {
    Init();
    host.expand = [](std::u16string&) { return E_FAIL; };
    std::string path = Syslog("R", "127.0.0.1", "%H raw", std::to_string(receiver.port()));
    ASSERT_EQ(Notify(path), S_OK);
    EXPECT_EQ(receiver.Receive(), "%H raw");
}

struct FailureCase {
    const char* name;
    std::string content; // empty name: no file at all
    const char* log;
};

class SysLogFailureTest : public SysLogTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SysLogFailureTest, LogsAndFailsWithoutSending) {
    Init();
    const FailureCase& c = GetParam();
    std::string content = c.content;
    size_t at = content.find("PORT");
    if (at != std::string::npos)
        content.replace(at, 4, std::to_string(receiver.port()));
    std::string path =
        content == "<none>" ? testkit::ZPath(dir / "Missing") : Instance("Inst", content);
    EXPECT_EQ(Notify(path), E_FAIL);
    ASSERT_EQ(host.calls.size(), 2u) << host.Log();
    EXPECT_EQ(host.calls[0], "SysLog::Notify Processing...\r\n");
    EXPECT_EQ(host.calls[1], c.log);
    EXPECT_FALSE(receiver.Receive(200));
}

const std::string kLoadFailed = "Syslog::Notify:Failed to load instance data\r\n";
const std::string kSendFailed = "Syslog::SendTo failed\r\n";

INSTANTIATE_TEST_SUITE_P(
    FailureTable, SysLogFailureTest,
    ::testing::Values(
        FailureCase{"MissingFile", "<none>", kLoadFailed.c_str()},
        FailureCase{"LowerCaseClsid",
                    "[Syslog\\Inst]\r\nCLSID={69dd7b00-b669-11d4-804a-0001025eb176}\r\n"
                    "Address=127.0.0.1\r\nMessage=m\r\nPort=PORT\r\n",
                    kLoadFailed.c_str()},
        FailureCase{"OtherType",
                    "[Syslog\\Inst]\r\nCLSID={F28C09E9-D135-4E93-AD37-73CCA41E8D2A}\r\n"
                    "Address=127.0.0.1\r\n",
                    kLoadFailed.c_str()},
        FailureCase{"NoSettings", IniFile("Inst", "Host=x\r\n"), kLoadFailed.c_str()},
        FailureCase{"RenamedOutside", IniFile("Old name", "Address=127.0.0.1\r\nPort=PORT\r\n"),
                    kLoadFailed.c_str()},
        FailureCase{"EmptyFile", "", kLoadFailed.c_str()},
        FailureCase{"BadSignature", std::string(40, 'x'), kLoadFailed.c_str()},
        FailureCase{"UnconvertibleAddress",
                    IniFile("Inst", "Address=router.example\r\nMessage=m\r\nPort=PORT\r\n"),
                    kSendFailed.c_str()},
        // Linux would deliver these to the local host; they name no receiver.
        FailureCase{"UnspecifiedAddress",
                    IniFile("Inst", "Address=0.0.0.0\r\nMessage=m\r\nPort=PORT\r\n"),
                    kSendFailed.c_str()},
        FailureCase{"AddressZero", IniFile("Inst", "Address=0\r\nMessage=m\r\nPort=PORT\r\n"),
                    kSendFailed.c_str()},
        FailureCase{"PortMissingGoesToZero", IniFile("Inst", "Address=127.0.0.1\r\nMessage=m\r\n"),
                    kSendFailed.c_str()},
        FailureCase{"PortBeyond65535IsNotWrapped",
                    IniFile("Inst", "Address=127.0.0.1\r\nMessage=m\r\nPort=70000\r\n"),
                    kSendFailed.c_str()},
        FailureCase{"NegativePort",
                    IniFile("Inst", "Address=127.0.0.1\r\nMessage=m\r\nPort=-1\r\n"),
                    kSendFailed.c_str()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SysLogTest, PortBeyond65535WouldHaveWrappedOntoAListener) {
    // 70000 wraps to 4464 in 16 bits; a receiver there must get nothing.
    Init();
    std::string path = Syslog("R", "127.0.0.1", "m", std::to_string(receiver.port() + 65536));
    EXPECT_EQ(Notify(path), E_FAIL);
    EXPECT_FALSE(receiver.Receive(200));
}

TEST_F(SysLogTest, NotifyBeforeInitializeFailsSilently) {
    std::string path = Syslog("R", "127.0.0.1", "m", std::to_string(receiver.port()));
    EXPECT_EQ(Notify(path), E_FAIL);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_FALSE(receiver.Receive(100));
}

TEST_F(SysLogTest, EmptyPathCannotBeLoaded) {
    Init();
    EXPECT_EQ(Notify(""), E_FAIL);
    EXPECT_EQ(host.Log(), "SysLog::Notify Processing...\r\n" + kLoadFailed);
}

TEST_F(SysLogTest, InitializeIsIdempotentAndQueriesTheHostOnce) {
    EXPECT_EQ(m_plugin->Initialize(&host), S_OK);
    EXPECT_EQ(m_plugin->Initialize(&host), S_OK);
    EXPECT_EQ(host.hostQueries, 1);
    EXPECT_EQ(host.References(), 1u);
    EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
    EXPECT_EQ(host.References(), 0u);
    EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
}

TEST_F(SysLogTest, InitializeRefusesNullAndHostsWithoutTheCallback) {
    EXPECT_EQ(m_plugin->Initialize(nullptr), E_FAIL);
    host.answerHost = false;
    EXPECT_EQ(m_plugin->Initialize(&host), E_FAIL);
    EXPECT_EQ(host.References(), 0u);
    EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
    std::string path = Syslog("R", "127.0.0.1", "m", std::to_string(receiver.port()));
    EXPECT_EQ(Notify(path), E_FAIL);
}

TEST_F(SysLogTest, ReinitialisedObjectSendsAgain) {
    Init();
    ASSERT_EQ(m_plugin->UnInitialize(), S_OK);
    Init();
    std::string path = Syslog("R", "127.0.0.1", "again", std::to_string(receiver.port()));
    ASSERT_EQ(Notify(path), S_OK);
    EXPECT_EQ(receiver.Receive(), "again");
}

TEST_F(SysLogTest, ReleasingAnInitialisedObjectGivesBackTheHost) {
    Init();
    m_plugin.Reset(); // destruction runs UnInitialize
    EXPECT_EQ(host.References(), 0u);
}

// Runs a check in a child process, where limits can be lowered without harming the rest.
#define EXPECT_IN_CHILD(check)                                                                     \
    EXPECT_EXIT(std::_Exit((check) ? 0 : 1), ::testing::ExitedWithCode(0), "")

TEST_F(SysLogTest, SocketThatCannotBeCreatedIsLogged) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers need descriptors of their own to check calls";
#endif
    // With no descriptor left the socket cannot be created.
    auto check = [this] {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        rlim_t before = limit.rlim_cur;
        limit.rlim_cur = 0;
        setrlimit(RLIMIT_NOFILE, &limit);
        HRESULT hr = m_plugin->Initialize(&host);
        limit.rlim_cur = before;
        setrlimit(RLIMIT_NOFILE, &limit);
        bool ok = hr == E_FAIL && host.Log() == "Syslog::Initialize:Failed to create socket\r\n" &&
                  host.References() == 0;
        if (!ok)
            std::fprintf(stderr, "hr=0x%08X log=[%s]\n", static_cast<unsigned>(hr),
                         host.Log().c_str());
        return ok;
    };
    EXPECT_IN_CHILD(check());
}

TEST_F(SysLogTest, LoadReadsSettingsAndOverwritesPresets) {
    struct Case {
        std::string body;
        LONG port;
        std::string address;
        std::string message;
    };
    const Case cases[] = {
        {"Address=10.1.2.3\r\nMessage=hello world\r\nPort=1514\r\n", 1514, "10.1.2.3",
         "hello world"},
        {"Port=  +42abc\r\n", 42, "", ""},
        {"Port=abc\r\nMessage=m\r\n", 0, "", "m"},
        {"Address=1.1.1.1\r\n", 0, "1.1.1.1", ""},
        {"port=-7\r\nADDRESS=a b \r\n", -7, "a b ", ""},
    };
    for (const Case& c : cases) {
        std::string path = Instance("Alpha", IniFile("Alpha", c.body));
        LONG port = 514;
        std::string address = "preset", message = "preset";
        Bstr b(testkit::Utf16(path));
        ASSERT_EQ(Object()->LoadSyslogInstance(b.Get(), port, address, message), S_OK) << c.body;
        EXPECT_EQ(port, c.port) << c.body;
        EXPECT_EQ(address, c.address) << c.body;
        EXPECT_EQ(message, c.message) << c.body;
    }
}

TEST_F(SysLogTest, SaveWritesTheExactFile) {
    Bstr path(testkit::Utf16(testkit::ZPath(dir / "Router alarms")));
    ASSERT_EQ(Object()->SaveSyslogInstance(path.Get(), -5, "10.0.0.1", "%H is %V"), S_OK);
    EXPECT_EQ(testkit::ReadFile(dir / "Router alarms"),
              std::string("[Syslog\\Router alarms]\r\nCLSID=") + kType +
                  "\r\nAddress=10.0.0.1\r\nMessage=%H is %V\r\nPort=-5\r\n");
}

TEST_F(SysLogTest, SaveFailureIsLoggedInThreePieces) {
    Init();
    std::string path = testkit::ZPath(dir / "no-such-folder" / "X");
    Bstr b(testkit::Utf16(path));
    EXPECT_EQ(Object()->SaveSyslogInstance(b.Get(), 514, "1.2.3.4", "m"), E_FAIL);
    EXPECT_EQ(host.calls, (std::vector<std::string>{
                              path, " Syslog Notification - Failed saving file.", "\r\n"}));
}

// Version 6 files.

TEST_F(SysLogTest, Version6FileIsMigratedInPlaceAndSent) {
    Init();
    std::string record = Version6(receiver.port(), 9, "127.0.0.1", 8, "old text");
    std::string path = Instance("Legacy.old", record);
    ASSERT_EQ(Notify(path), S_OK) << host.Log();
    EXPECT_EQ(receiver.Receive(), "old text");
    EXPECT_EQ(testkit::ReadFile(dir / "V6" / "Legacy"), record);
    EXPECT_EQ(testkit::ReadFile(dir / "Legacy.old"),
              std::string("[Syslog\\Legacy.old]\r\nCLSID=") + kType +
                  "\r\nAddress=127.0.0.1\r\nMessage=old text\r\nPort=" +
                  std::to_string(receiver.port()) + "\r\n");
    // The converted file is read as an INI file from now on.
    ASSERT_EQ(Notify(path), S_OK);
    EXPECT_EQ(receiver.Receive(), "old text");
}

TEST_F(SysLogTest, Version6RecordLimitsAndShortFiles) {
    struct Case {
        std::string name;
        std::string record;
        bool ok;
        LONG port;
        std::string address;
        std::string message;
    };
    std::string longMessage(2000, 'z');
    const Case cases[] = {
        {"N200", Version6(514, 200, std::string(200, 'a'), 1, "m"), false, 0, "", ""},
        {"NNegative", Version6(514, -1, "", 1, "m"), false, 0, "", ""},
        {"N127", Version6(600, 127, std::string(127, 'a'), 1, "m"), true, 600,
         std::string(127, 'a'), "m"},
        {"MessageCapped", Version6(1, 1, "a", 2000, longMessage), true, 1, "a",
         std::string(1023, 'z')},
        {"NulEndsText", Version6(1, 5, std::string("ab\0cd", 5), 4, std::string("x\0yz", 4)), true,
         1, "ab", "x"},
        {"NegativeMessageLengthReadsEmpty", Version6(3, 1, "c", -30000, "tail"), true, 3, "c", ""},
        {"EndsAfterSignature", Version6(0, 0, "", 0, "").substr(0, 16), true, 514, "", ""},
        {"EndsInsideMessage", Version6(2, 1, "b", 10, "half").substr(0, 16 + 4 + 4 + 1 + 4 + 4),
         true, 2, "b", "half"},
    };
    for (const Case& c : cases) {
        std::string path = Instance(c.name, c.record);
        LONG port = 514;
        std::string address, message;
        Bstr b(testkit::Utf16(path));
        EXPECT_EQ(Object()->ReadVersion6SyslogInstance(b.Get(), port, address, message), c.ok)
            << c.name;
        if (!c.ok)
            continue;
        EXPECT_EQ(port, c.port) << c.name;
        EXPECT_EQ(address, c.address) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
    }
}

TEST_F(SysLogTest, RejectedVersion6FileIsLeftUntouched) {
    Init();
    for (const std::string& record :
         {Version6(514, 200, "x", 1, "m"), std::string(), std::string("\x01\x02\x03", 3)}) {
        std::string path = Instance("Bad", record);
        EXPECT_EQ(Notify(path), E_FAIL);
        EXPECT_EQ(testkit::ReadFile(dir / "Bad"), record);
        EXPECT_FALSE(fs::exists(dir / "V6"));
    }
}

TEST_F(SysLogTest, BackupFailureIsLoggedAndTheFileStillConverted) {
    Init();
    testkit::WriteFile(dir / "V6", "a file where the folder should be");
    std::string path = Instance("Legacy", Version6(receiver.port(), 9, "127.0.0.1", 2, "hi"));
    ASSERT_EQ(Notify(path), S_OK);
    EXPECT_EQ(receiver.Receive(), "hi");
    ASSERT_GE(host.calls.size(), 4u);
    EXPECT_EQ(host.calls[1], path);
    EXPECT_EQ(host.calls[2], " Notification - Failed to move Version 6 file to backup directory.");
    EXPECT_EQ(host.calls[3], "\r\n");
    EXPECT_EQ(testkit::ReadFile(dir / "Legacy").substr(0, 16), "[Syslog\\Legacy]\r");
}

TEST_F(SysLogTest, Version6FileThatCannotBeRewrittenIsStillSent) {
    // No file may grow beyond 0 bytes: both the backup copy and the new file fail.
    Init();
    std::string path = Instance("Legacy", Version6(receiver.port(), 9, "127.0.0.1", 2, "hi"));
    auto check = [&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        rlim_t before = limit.rlim_cur;
        limit.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &limit);
        HRESULT hr = Notify(path);
        limit.rlim_cur = before; // the test framework reports through a file
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string expected =
            "SysLog::Notify Processing...\r\n" + path +
            " Notification - Failed to move Version 6 file to backup directory.\r\n" + path +
            " Syslog Notification - Failed saving file.\r\n" + path +
            " Notification - Failed saving file to new notification format.\r\n"
            "SysLog::Notify Processing... Complete.\r\n";
        bool ok = hr == S_OK && host.Log() == expected && receiver.Receive() == "hi";
        if (!ok)
            std::fprintf(stderr, "hr=0x%08X log=[%s]\n", static_cast<unsigned>(hr),
                         host.Log().c_str());
        return ok;
    };
    EXPECT_IN_CHILD(check());
}

TEST(SysLogObject, AnswersItsThreeInterfacesOnly) {
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(sentrel::CreateComponent<SysLog>(nullptr, IID_IUnknown, unknown.PutVoid()), S_OK);
    for (const IID* iid : {&IID_ISentrelNotification, &IID_ISentrelNotificationConfig,
                           &IID_ISentrelNotificationWeb, &IID_IUnknown}) {
        ComPtr<IUnknown> p;
        EXPECT_EQ(unknown->QueryInterface(*iid, p.PutVoid()), S_OK);
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(unknown->QueryInterface(IID_ISupportErrorInfo, none.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(none.Get(), nullptr);
}

TEST(SysLogObject, IconIsTheSameInitialisedOrNot) {
    ComPtr<ISentrelNotificationConfig> config;
    ASSERT_EQ(
        sentrel::CreateComponent<SysLog>(nullptr, IID_ISentrelNotificationConfig, config.PutVoid()),
        S_OK);
    HINSTANCE h1 = nullptr, h2 = nullptr;
    unsigned id1 = 0, id2 = 0;
    EXPECT_EQ(config->GetIcon(&h1, &id1), S_OK);
    EXPECT_EQ(config->GetIcon(&h2, &id2), S_OK);
    EXPECT_EQ(id1, 201u);
    EXPECT_EQ(h1, h2);
    EXPECT_NE(FindResourceA(h1, MAKEINTRESOURCEA(201), RT_GROUP_ICON), nullptr);
}

} // namespace

// Formats, transports and the optional keys.

// A TCP listener on a loopback ephemeral port; a connection made to it completes in the
// kernel, so the test can accept it after Notify has returned.
class TcpListener {
public:
    TcpListener() {
        m_fd = ::socket(PF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::sockaddr_in address{};
        address.sin_family = PF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        ::socklen_t length = sizeof address;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<::sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(m_fd, 8), 0);
        ::getsockname(m_fd, reinterpret_cast<::sockaddr*>(&address), &length);
        m_port = ::ntohs(address.sin_port);
    }
    ~TcpListener() { ::close(m_fd); }
    int port() const { return m_port; }
    // Everything the next connection sends until it closes; nothing when none is waiting.
    std::optional<std::string> ReadConnection(int timeoutMs = 2000) {
        ::pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return std::nullopt;
        int fd = ::accept(m_fd, nullptr, nullptr);
        std::string bytes;
        char buffer[4096];
        ::ssize_t got;
        while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            bytes.append(buffer, static_cast<size_t>(got));
        ::close(fd);
        return bytes;
    }
    // Accepts one connection and closes it at once, as a receiver that speaks no TLS.
    void HangUpOnce() {
        m_hangUp = std::thread([this] {
            ::pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) == 1)
                ::close(::accept(m_fd, nullptr, nullptr));
        });
    }
    void Join() {
        if (m_hangUp.joinable())
            m_hangUp.join();
    }

private:
    int m_fd = -1;
    int m_port = 0;
    std::thread m_hangUp;
};

std::string HostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

TEST_F(SysLogTest, Rfc5424OverUdpCarriesPriorityTimeHostTagAndProcess) {
    Init();
    host.expand = [](std::u16string& text) {
        text = u"router-7 is down";
        return S_OK;
    };
    std::string path = Syslog("R", "127.0.0.1", "%H is %V",
                              std::to_string(receiver.port()) +
                                  "\r\nFormat=rfc5424\r\nFacility=local3\r\nSeverity=alert\r\n"
                                  "Tag=alarms");
    ASSERT_EQ(Notify(path), S_OK);
    std::optional<std::string> got = receiver.Receive();
    ASSERT_TRUE(got);
    std::regex frame(
        "<153>1 \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}[+-]\\d\\d:\\d\\d (\\S+) "
        "alarms (\\d+) - - router-7 is down");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(*got, match, frame)) << *got;
    EXPECT_EQ(match[1], HostName());
    EXPECT_EQ(match[2], std::to_string(::getpid()));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"SysLog::Notify Processing...\r\n",
                                                    "SysLog::Notify Processing... Complete.\r\n"}));
}

TEST_F(SysLogTest, Rfc3164KeepsTheCleaningAndTheCutOfTheMessage) {
    Init();
    host.expand = [](std::u16string& text) {
        text = u"\u00E9\t" + std::u16string(998, u'x');
        return S_OK;
    };
    std::string path =
        Syslog("R", "127.0.0.1", "x", std::to_string(receiver.port()) + "\r\nFormat=RFC3164");
    ASSERT_EQ(Notify(path), S_OK);
    std::optional<std::string> got = receiver.Receive();
    ASSERT_TRUE(got);
    std::string shortHost = HostName().substr(0, HostName().find('.'));
    std::regex frame("<13>[A-Z][a-z]{2} [ 1-3]\\d \\d\\d:\\d\\d:\\d\\d (\\S+) Sentrel: (.*)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(*got, match, frame)) << got->substr(0, 80);
    EXPECT_EQ(match[1], shortHost);
    EXPECT_EQ(match[2], "  " + std::string(957, 'x'));
    EXPECT_EQ(host.calls[1], "SysLog::Notify:Warning data truncated - message is > 959 "
                             "characters in length (1000 characters).\r\n");
}

TEST_F(SysLogTest, AnOptionalKeyWithABadValueFailsTheAlertAsALoadFailure) {
    Init();
    for (const std::string key : {"Format=rfc3339", "Facility=local9", "Severity=loud",
                                  "Tag=two words", "Transport=carrier-pigeon", "Verify=perhaps"}) {
        host.calls.clear();
        std::string path =
            Syslog("R", "127.0.0.1", "m", std::to_string(receiver.port()) + "\r\n" + key);
        EXPECT_EQ(Notify(path), E_FAIL) << key;
        EXPECT_EQ(host.calls,
                  (std::vector<std::string>{"SysLog::Notify Processing...\r\n",
                                            "Syslog::Notify:Failed to load instance data\r\n"}))
            << key;
    }
    EXPECT_FALSE(receiver.Receive(200));
    // The web pages and the dialog still read the instance, to mend it.
    LONG port = 0;
    std::string address, message;
    Bstr b(testkit::Utf16(testkit::ZPath(dir / "R")));
    EXPECT_EQ(Object()->LoadSyslogInstance(b.Get(), port, address, message), S_OK);
    EXPECT_EQ(address, "127.0.0.1");
}

TEST_F(SysLogTest, TcpSendsOneOctetCountedMessagePerConnection) {
    Init();
    TcpListener listener;
    host.expand = [](std::u16string& text) {
        text = u"router-7 is down";
        return S_OK;
    };
    std::string path =
        Syslog("R", "127.0.0.1", "m", std::to_string(listener.port()) + "\r\nTransport=tcp");
    ASSERT_EQ(Notify(path), S_OK);
    ASSERT_EQ(Notify(path), S_OK);
    EXPECT_EQ(listener.ReadConnection(), "16 router-7 is down");
    EXPECT_EQ(listener.ReadConnection(), "16 router-7 is down");

    Syslog("R", "127.0.0.1", "m",
           std::to_string(listener.port()) + "\r\nTransport=TCP\r\nFormat=rfc5424");
    ASSERT_EQ(Notify(path), S_OK);
    std::optional<std::string> got = listener.ReadConnection();
    ASSERT_TRUE(got);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(*got, match,
                                 std::regex("(\\d+) (<13>1 .* Sentrel \\d+ - - "
                                            "router-7 is down)")))
        << *got;
    EXPECT_EQ(std::stoul(match[1]), match[2].length());
}

TEST_F(SysLogTest, StreamThatCannotConnectIsASendFailure) {
    Init();
    for (const std::string transport : {"tcp", "tls"}) {
        host.calls.clear();
        std::string path =
            Syslog("R", "127.0.0.1", "m",
                   std::to_string(testkit::UnusedPort()) + "\r\nTransport=" + transport);
        EXPECT_EQ(Notify(path), E_FAIL) << transport;
        EXPECT_EQ(host.calls, (std::vector<std::string>{"SysLog::Notify Processing...\r\n",
                                                        "Syslog::SendTo failed\r\n"}))
            << transport;
        // An address that does not convert is refused before connecting.
        Syslog("R", "no.such.host", "m", "514\r\nTransport=" + transport);
        EXPECT_EQ(Notify(path), E_FAIL) << transport;
    }
    // The object goes on working.
    std::string path = Syslog("R", "127.0.0.1", "after", std::to_string(receiver.port()));
    EXPECT_EQ(Notify(path), S_OK);
    EXPECT_EQ(receiver.Receive(), "after");
}

TEST_F(SysLogTest, TlsToAReceiverThatSpeaksNoTlsFails) {
    Init();
    TcpListener listener;
    listener.HangUpOnce();
    std::string path =
        Syslog("R", "127.0.0.1", "m", std::to_string(listener.port()) + "\r\nTransport=tls");
    EXPECT_EQ(Notify(path), E_FAIL);
    listener.Join();
    EXPECT_EQ(host.calls.back(), "Syslog::SendTo failed\r\n");
    // A CA file that does not exist fails before connecting.
    Syslog("R", "127.0.0.1", "m",
           std::to_string(listener.port()) +
               "\r\nTransport=tls\r\nCAFile=" + testkit::ZPath(dir / "missing.pem"));
    EXPECT_EQ(Notify(path), E_FAIL);
    EXPECT_EQ(listener.ReadConnection(200), std::nullopt);
}

TEST(SyslogStreamTest, ASilentReceiverCannotHoldTheAlertPastTheDeadline) {
    TcpListener listener; // accepts in the kernel, never answers the handshake
    SyslogStreamTarget target;
    target.nAddress = ::htonl(INADDR_LOOPBACK);
    target.nPort = static_cast<uint16_t>(listener.port());
    target.bTls = true;
    EXPECT_FALSE(SendSyslogStream(target, "5 hello", 300));
}

TEST_F(SysLogTest, SaveKeepsTheOptionalKeysOfTheInstanceItReplaces) {
    Instance("Router alarms", IniFile("Router alarms", "Verify=no\r\nAddress=1.1.1.1\r\n"
                                                       "Extra=dropped\r\nformat=rfc5424\r\n"
                                                       "Format=ignored-duplicate\r\n"
                                                       "facility=local3\r\nSEVERITY=alert\r\n"
                                                       "Tag=alarms\r\nTransport=tls\r\n"
                                                       "CAFile=Z:\\etc\\ca %&+\"<\xE9.pem\r\n"
                                                       "ServerName=logs.example\r\nPort=1\r\n"));
    Bstr path(testkit::Utf16(testkit::ZPath(dir / "Router alarms")));
    ASSERT_EQ(Object()->SaveSyslogInstance(path.Get(), 514, "10.0.0.1", "%H is %V"), S_OK);
    const std::string expected = std::string("[Syslog\\Router alarms]\r\nCLSID=") + kType +
                                 "\r\nAddress=10.0.0.1\r\nMessage=%H is %V\r\nPort=514\r\n"
                                 "Format=rfc5424\r\nFacility=local3\r\nSeverity=alert\r\n"
                                 "Tag=alarms\r\nTransport=tls\r\nCAFile=Z:\\etc\\ca %&+\"<\xE9"
                                 ".pem\r\nServerName=logs.example\r\nVerify=no\r\n";
    EXPECT_EQ(testkit::ReadFile(dir / "Router alarms"), expected);
    // Saving again changes nothing more.
    ASSERT_EQ(Object()->SaveSyslogInstance(path.Get(), 514, "10.0.0.1", "%H is %V"), S_OK);
    EXPECT_EQ(testkit::ReadFile(dir / "Router alarms"), expected);
}

TEST_F(SysLogTest, SaveTakesNoKeysFromAFileThatIsNoSyslogInstanceOfThatName) {
    struct Case {
        const char* what;
        std::string content;
    };
    const std::string keys = "Address=1.1.1.1\r\nFormat=rfc5424\r\nTransport=tcp\r\n";
    for (const Case& c : std::vector<Case>{
             {"another type",
              "[Syslog\\R]\r\nCLSID={00000000-0000-0000-0000-000000000000}\r\n" + keys},
             {"lower-case type",
              "[Syslog\\R]\r\nCLSID={69dd7b00-b669-11d4-804a-0001025eb176}\r\n" + keys},
             {"renamed outside", IniFile("Old name", keys)},
             {"version 6 record", Version6(514, 7, "1.1.1.1", 1, "m")},
         }) {
        Instance("R", c.content);
        Bstr path(testkit::Utf16(testkit::ZPath(dir / "R")));
        ASSERT_EQ(Object()->SaveSyslogInstance(path.Get(), 514, "10.0.0.1", "m"), S_OK) << c.what;
        EXPECT_EQ(testkit::ReadFile(dir / "R"), IniFile("R", "Address=10.0.0.1\r\nMessage=m\r\n"
                                                             "Port=514\r\n"))
            << c.what;
    }
}

TEST_F(SysLogTest, ARenamedInstanceTakesTheKeysOfTheOneItCameFrom) {
    const std::string keys = "Format=rfc3164\r\nTransport=tcp\r\n";
    Instance("Old", IniFile("Old", "Address=1.1.1.1\r\n" + keys));
    Bstr oldPath(testkit::Utf16(testkit::ZPath(dir / "Old")));
    Bstr newPath(testkit::Utf16(testkit::ZPath(dir / "New")));
    ASSERT_EQ(Object()->SaveSyslogInstance(newPath.Get(), 514, "10.0.0.1", "m", oldPath.Get()),
              S_OK);
    EXPECT_EQ(testkit::ReadFile(dir / "New"),
              IniFile("New", "Address=10.0.0.1\r\nMessage=m\r\nPort=514\r\n" + keys));
    EXPECT_EQ(testkit::ReadFile(dir / "Old"), IniFile("Old", "Address=1.1.1.1\r\n" + keys));
    // Without naming the old instance, a new name starts without them.
    Bstr otherPath(testkit::Utf16(testkit::ZPath(dir / "Other")));
    ASSERT_EQ(Object()->SaveSyslogInstance(otherPath.Get(), 514, "10.0.0.1", "m"), S_OK);
    EXPECT_EQ(testkit::ReadFile(dir / "Other"),
              IniFile("Other", "Address=10.0.0.1\r\nMessage=m\r\nPort=514\r\n"));
}
