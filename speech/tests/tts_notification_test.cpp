// TTSNotification in process: its interfaces, its instance files in both formats, and
// every log line it writes. The voice is the platform's real one, speaking into a spool
// folder of the test's own.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/comptr.h>
#include <winplat/sapi.h>
#include <winplat/winbase.h>

#include "recording_host.h"
#include "testkit.h"
#include "text.h"
#include "tts_notification.h"
#include "wav.h"

namespace fs = std::filesystem;
using testkit::RecordingHost;
using winplat::Bstr;
using winplat::ComPtr;

namespace {

constexpr char kClsid[] = "{44440FAF-3359-11D5-8075-00E0295E9283}";

std::string Le32(int32_t v) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    return b;
}

// A version 6 record: the class identifier in binary form, then rate, volume, length and
// message.
std::string Version6(int32_t rate, int32_t volume, int32_t length, const std::string& message) {
    std::string record = {'\xAF', '\x0F', '\x44', '\x44', '\x59', '\x33', '\xD5', '\x11',
                          '\x80', '\x75', '\x00', '\xE0', '\x29', '\x5E', '\x92', '\x83'};
    return record + Le32(rate) + Le32(volume) + Le32(length) + message;
}

class TTSNotificationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        ASSERT_EQ(sentrel::CreateComponent<TTSNotification>(nullptr, IID_ISentrelNotification,
                                                            m_plugin.PutVoid()),
                  S_OK);
    }
    void TearDown() override {
        m_plugin.Reset();
        EXPECT_EQ(host.References(), 0u) << "the plug-in kept a host reference";
        WinplatWaitForSpeech(INFINITE);
        CoUninitialize();
    }
    TTSNotification* Object() { return static_cast<TTSNotification*>(m_plugin.Get()); }
    void Init() { ASSERT_EQ(m_plugin->Initialize(&host), S_OK); }

    // Writes an instance file and returns its path as the host would pass it.
    std::string Instance(const std::string& name, const std::string& content) {
        testkit::WriteFile(dir / name, content);
        return testkit::ZPath(dir / name);
    }
    std::string Ini(const std::string& name, const std::string& body) {
        return Instance(name, "[TextSpeech\\" + name + "]\r\nCLSID=" + kClsid + "\r\n" + body);
    }
    HRESULT Notify(const std::string& path) {
        return m_plugin->Notify(Bstr(testkit::Utf16(path)).Get());
    }

    struct Loaded {
        HRESULT hr;
        int rate;
        int volume;
        std::string message;
    };
    Loaded Load(const std::string& path, int rate = 0, int volume = 0) {
        Loaded r{E_UNEXPECTED, rate, volume, {}};
        Bstr b(testkit::Utf16(path));
        r.hr = Object()->LoadSpeechInstance(b.Get(), &r.rate, &r.volume, r.message);
        return r;
    }
    HRESULT Save(const std::string& path, int rate, int volume, const std::string& message) {
        Bstr b(testkit::Utf16(path));
        return Object()->SaveSpeechInstance(b.Get(), rate, volume, message);
    }

    testkit::SpeechSpool spool;
    testkit::TempDir dir;
    RecordingHost host;
    ComPtr<ISentrelNotification> m_plugin;
};

// Interfaces and life cycle

TEST_F(TTSNotificationTest, AnswersItsFourInterfacesAndNoOther) {
    const IID* answered[] = {&IID_IUnknown, &IID_ISupportErrorInfo, &IID_ISentrelNotification,
                             &IID_ISentrelNotificationConfig, &IID_ISentrelNotificationWeb};
    for (const IID* iid : answered) {
        ComPtr<IUnknown> p;
        EXPECT_EQ(m_plugin->QueryInterface(*iid, p.PutVoid()), S_OK);
        EXPECT_TRUE(p);
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(m_plugin->QueryInterface(IID_IClassFactory, none.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(m_plugin->QueryInterface(IID_ISentrelNotifyHost, none.PutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(none);
}

TEST_F(TTSNotificationTest, SupportsErrorInfoForTheAlertAndDialogInterfacesOnly) {
    ComPtr<ISupportErrorInfo> info;
    ASSERT_EQ(m_plugin->QueryInterface(IID_ISupportErrorInfo, info.PutVoid()), S_OK);
    const struct {
        const IID* iid;
        HRESULT expected;
    } cases[] = {{&IID_ISentrelNotification, S_OK},
                 {&IID_ISentrelNotificationConfig, S_OK},
                 {&IID_ISentrelNotificationWeb, S_FALSE},
                 {&IID_IUnknown, S_FALSE},
                 {&IID_ISpVoice, S_FALSE}};
    for (const auto& c : cases)
        EXPECT_EQ(info->InterfaceSupportsErrorInfo(*c.iid), c.expected);
}

TEST_F(TTSNotificationTest, GetIconGivesTheModuleAndIcon202InitialisedOrNot) {
    ComPtr<ISentrelNotificationConfig> config;
    ASSERT_EQ(m_plugin->QueryInterface(IID_ISentrelNotificationConfig, config.PutVoid()), S_OK);
    for (int round = 0; round < 2; ++round) {
        HINSTANCE hInstance = nullptr;
        unsigned int id = 0;
        EXPECT_EQ(config->GetIcon(&hInstance, &id), S_OK);
        EXPECT_EQ(hInstance, sentrel::ComponentModule::GetModuleInstance());
        EXPECT_EQ(id, 202u);
        if (round == 0)
            Init();
    }
    // Both icon groups are in the module; 202 is the one reported.
    for (UINT icon : {TTS_ICON, TTS_SPEAKER_ICON})
        EXPECT_NE(FindResourceA(sentrel::ComponentModule::GetModuleInstance(),
                                MAKEINTRESOURCEA(icon), RT_GROUP_ICON),
                  nullptr);
}

TEST_F(TTSNotificationTest, InitializeTwiceQueriesTheHostOnce) {
    Init();
    EXPECT_EQ(m_plugin->Initialize(&host), S_OK);
    EXPECT_EQ(host.hostQueries, 1);
    EXPECT_EQ(host.References(), 1u);
    EXPECT_TRUE(Object()->Voice().IsCreated());
    EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
    EXPECT_EQ(host.References(), 0u);
    EXPECT_FALSE(Object()->Voice().IsCreated());
    // It can be initialised again.
    Init();
    EXPECT_EQ(host.hostQueries, 2);
}

TEST_F(TTSNotificationTest, InitializeWithoutAUsableHostFailsAndHoldsNothing) {
    EXPECT_EQ(m_plugin->Initialize(nullptr), E_FAIL);
    host.answerHost = false;
    EXPECT_EQ(m_plugin->Initialize(&host), E_FAIL);
    EXPECT_EQ(host.References(), 0u);
    EXPECT_FALSE(Object()->Voice().IsCreated());
    EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
    EXPECT_EQ(host.References(), 0u);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(TTSNotificationTest, UnInitializeOnAFreshObjectDoesNothing) {
    EXPECT_EQ(m_plugin->UnInitialize(), S_OK);
    EXPECT_EQ(host.References(), 0u);
}

TEST_F(TTSNotificationTest, DestroyedWhileInitialisedItLetsGoOfTheHost) {
    Init();
    EXPECT_EQ(host.References(), 1u);
    m_plugin.Reset();
    EXPECT_EQ(host.References(), 0u);
}

// The voice cannot be created: a process of its own, in which espeak-ng cannot be loaded.
TEST_F(TTSNotificationTest, InitializeReportsAMissingVoiceWithStrings105And106) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SENTREL_ESPEAK_LIBRARY", "/nonexistent/libespeak-ng.so.1", 1);
            const std::string expected =
                "CfgErr:  The Text To Speech notification plugin cannot connect to the "
                "Microsoft\nSpeech API (SAPI5).  This is a fatal error because the Text To "
                "Speech plugin cannot\noperate without the Microsoft Speech API component.\nThis "
                "is probably due to a failed installation of Microsoft SAPI5 component or "
                "possibly\nthe SAPI5 component has been uninstalled.  We have found that SAPI5 "
                "will not install\nif there are soundcard problems.  Not having a soundcard at "
                "all is the most obvious example.";
            std::string why;
            if (m_plugin->Initialize(&host) != E_FAIL)
                why += "Initialize did not fail; ";
            if (host.calls != std::vector<std::string>{expected})
                why += "log was \"" + host.Log() + "\"; ";
            if (host.References() != 0)
                why += "host still referenced; ";
            // Not marked initialised: the next Initialize tries again.
            if (m_plugin->Initialize(&host) != E_FAIL || host.hostQueries != 2)
                why += "second Initialize did not try again; ";
            // Without a voice nothing is spoken, and nothing is logged before Initialize.
            if (Notify(Ini("Alpha", "SpeakRate=0\r\nVolumnRate=100\r\nMessage1=x\r\n"
                                    "NO_OF_MESSAGE_LINES=1\r\n")) != S_OK ||
                host.calls.size() != 2)
                why += "Notify after the failure logged or failed; ";
            std::fprintf(stderr, "%s", why.c_str());
            std::fflush(stderr);
            std::_Exit(why.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The current file format

TEST_F(TTSNotificationTest, SaveWritesTheFileLineByLine) {
    std::string path = testkit::ZPath(dir / "Front desk");
    ASSERT_EQ(Save(path, 0, 100, "Front desk printer is down"), S_OK);
    EXPECT_EQ(testkit::ReadFile(dir / "Front desk"),
              "[TextSpeech\\Front desk]\r\n"
              "CLSID={44440FAF-3359-11D5-8075-00E0295E9283}\r\n"
              "SpeakRate=0\r\n"
              "VolumnRate=100\r\n"
              "Message1=Front desk printer is down\r\n"
              "NO_OF_MESSAGE_LINES=1\r\n");
}

TEST_F(TTSNotificationTest, MessageLinesRoundTrip) {
    const struct {
        std::string message;
        std::string lines; // the Message and count lines of the file
    } cases[] = {
        {"A\r\n\r\nB", "Message1=A\r\nMessage2=\r\nMessage3=B\r\nNO_OF_MESSAGE_LINES=3\r\n"},
        {"", "Message1=\r\nNO_OF_MESSAGE_LINES=1\r\n"},
        {"ends\r\n", "Message1=ends\r\nMessage2=\r\nNO_OF_MESSAGE_LINES=2\r\n"},
        {"\r\n", "Message1=\r\nMessage2=\r\nNO_OF_MESSAGE_LINES=2\r\n"},
        {"one", "Message1=one\r\nNO_OF_MESSAGE_LINES=1\r\n"},
    };
    for (const auto& c : cases) {
        std::string path = testkit::ZPath(dir / "Lines");
        ASSERT_EQ(Save(path, -3, 42, c.message), S_OK);
        EXPECT_EQ(testkit::ReadFile(dir / "Lines"),
                  std::string("[TextSpeech\\Lines]\r\nCLSID=") + kClsid +
                      "\r\nSpeakRate=-3\r\nVolumnRate=42\r\n" + c.lines)
            << c.message;
        Loaded back = Load(path);
        EXPECT_EQ(back.hr, S_OK);
        EXPECT_EQ(back.rate, -3);
        EXPECT_EQ(back.volume, 42);
        EXPECT_EQ(back.message, c.message);
    }
}

TEST_F(TTSNotificationTest, ALoneCarriageReturnOrLineFeedStaysInItsLine) {
    // A lone LF is written as CR LF by the text-mode file and read back as LF, so it is the
    // lone CR that shows the rule in the file.
    std::string path = testkit::ZPath(dir / "Lone");
    ASSERT_EQ(Save(path, 0, 100, "a\rb\r\nc"), S_OK);
    Loaded back = Load(path);
    EXPECT_EQ(back.hr, S_OK);
    EXPECT_EQ(back.message, "a\rb\r\nc");
}

TEST_F(TTSNotificationTest, MissingMiddleLineAddsNothing) {
    std::string path = Ini("Gap", "SpeakRate=0\r\nVolumnRate=100\r\nMessage1=X\r\nMessage3=Z\r\n"
                                  "NO_OF_MESSAGE_LINES=3\r\n");
    Loaded r = Load(path);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.message, "X\r\nZ");
}

TEST_F(TTSNotificationTest, MessageLinesFollowTheCountNotTheFile) {
    const struct {
        std::string body;
        std::string message;
    } cases[] = {
        // Lines beyond the count are ignored; the count's own line ends without CR LF.
        {"Message1=A\r\nMessage2=B\r\nMessage3=C\r\nNO_OF_MESSAGE_LINES=2\r\n", "A\r\nB"},
        // Lines missing at the end leave the CR LF of the last one present.
        {"Message1=A\r\nNO_OF_MESSAGE_LINES=3\r\n", "A\r\n"},
        {"Message1=A\r\nNO_OF_MESSAGE_LINES=0\r\n", ""},
        {"Message1=A\r\nNO_OF_MESSAGE_LINES=-4\r\n", ""},
        {"Message1=A\r\n", ""},
        // Lines in any order and key case; the first of two equal keys counts.
        {"message2=B\r\nMESSAGE1=A\r\nMessage1=again\r\nno_of_message_lines=2\r\n", "A\r\nB"},
        // Message01 is not line 1.
        {"Message01=zero\r\nMessage1=A\r\nNO_OF_MESSAGE_LINES=1\r\n", "A"},
        // A huge count costs only the lines present.
        {"Message1=A\r\nMessage2=B\r\nNO_OF_MESSAGE_LINES=2147483647\r\n", "A\r\nB\r\n"},
        {"Message1=A\r\nNO_OF_MESSAGE_LINES=99999999999\r\n", "A\r\n"},
    };
    for (const auto& c : cases) {
        Loaded r = Load(Ini("Count", "SpeakRate=0\r\n" + c.body));
        EXPECT_EQ(r.hr, S_OK) << c.body;
        EXPECT_EQ(r.message, c.message) << c.body;
    }
}

TEST_F(TTSNotificationTest, RateAndVolumeAreReadAsLeadingIntegers) {
    const struct {
        std::string body;
        HRESULT hr;
        int rate;
        int volume;
    } cases[] = {
        {"SpeakRate=25\r\nVolumnRate=-5\r\n", S_OK, 25, -5},
        {"SpeakRate= 7 fast\r\nVolumnRate=+80%\r\n", S_OK, 7, 80},
        {"SpeakRate=fast\r\nVolumnRate=\r\n", S_OK, 0, 0},
        {"SpeakRate=99999999999\r\nVolumnRate=-99999999999\r\n", S_OK, INT32_MAX, INT32_MIN},
        // One of the two keys is enough; the other reads 0.
        {"SpeakRate=4\r\n", S_OK, 4, 0},
        {"VolumnRate=60\r\n", S_OK, 0, 60},
        // Neither: the load fails, but both outputs were written.
        {"Message1=x\r\nNO_OF_MESSAGE_LINES=1\r\n", E_FAIL, 0, 0},
        // The keys are matched without regard to case.
        {"speakrate=3\r\nVOLUMNRATE=30\r\n", S_OK, 3, 30},
    };
    for (const auto& c : cases) {
        Loaded r = Load(Ini("Values", c.body), 11, 22);
        EXPECT_EQ(r.hr, c.hr) << c.body;
        EXPECT_EQ(r.rate, c.rate) << c.body;
        EXPECT_EQ(r.volume, c.volume) << c.body;
    }
}

TEST_F(TTSNotificationTest, WithoutRateAndVolumeTheMessageIsStillRead) {
    Loaded r = Load(Ini("NoKeys", "Message1=x\r\nNO_OF_MESSAGE_LINES=1\r\n"));
    EXPECT_EQ(r.hr, E_FAIL);
    EXPECT_EQ(r.message, "x");
}

TEST_F(TTSNotificationTest, TheClsidMustMatchExactlyAndTheSectionTheFileName) {
    const struct {
        std::string name;
        std::string content;
    } refused[] = {
        {"Lower", "[TextSpeech\\Lower]\r\nCLSID={44440faf-3359-11d5-8075-00e0295e9283}\r\n"
                  "SpeakRate=1\r\n"},
        {"NoBraces", "[TextSpeech\\NoBraces]\r\nCLSID=44440FAF-3359-11D5-8075-00E0295E9283\r\n"
                     "SpeakRate=1\r\n"},
        {"Missing", "[TextSpeech\\Missing]\r\nSpeakRate=1\r\n"},
        {"Other", "[TextSpeech\\Other]\r\nCLSID={69DD7B00-B669-11D4-804A-0001025EB176}\r\n"
                  "SpeakRate=1\r\n"},
        // Renamed by something other than the plug-in: the section no longer matches.
        {"Renamed", "[TextSpeech\\Original]\r\nCLSID={44440FAF-3359-11D5-8075-00E0295E9283}\r\n"
                    "SpeakRate=1\r\n"},
        {"Prefix", "[Syslog\\Prefix]\r\nCLSID={44440FAF-3359-11D5-8075-00E0295E9283}\r\n"
                   "SpeakRate=1\r\n"},
    };
    for (const auto& c : refused) {
        Loaded r = Load(Instance(c.name, c.content), 11, 22);
        EXPECT_EQ(r.hr, E_FAIL) << c.name;
        EXPECT_EQ(r.rate, 11) << c.name; // untouched
        EXPECT_EQ(r.volume, 22) << c.name;
    }
    // Section and key names are matched without regard to case.
    Loaded r = Load(Instance("Mixed", "[textspeech\\MIXED]\r\nclsid=" + std::string(kClsid) +
                                          "\r\nSpeakRate=2\r\n"));
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.rate, 2);
}

TEST_F(TTSNotificationTest, AFileThatCannotBeOpenedFailsWithOutputsUntouched) {
    Loaded r = Load(testkit::ZPath(dir / "absent"), 11, 22);
    EXPECT_EQ(r.hr, E_FAIL);
    EXPECT_EQ(r.rate, 11);
    EXPECT_EQ(r.volume, 22);
    EXPECT_EQ(r.message, "");
}

// The version 6 format

TEST_F(TTSNotificationTest, Version6RecordOf2500BytesIsMigrated) {
    // 2500 bytes in lines that each fit a line of the file.
    std::string message;
    for (int i = 0; i < 2500 - 4; ++i)
        message += i % 1000 == 999 ? '-' : static_cast<char>('a' + i % 26);
    message.insert(1200, "\r\n");
    message.insert(2000, "\r\n");
    const std::string record = Version6(-4, 65, 2500, message);
    std::string path = Instance("Old", record);
    Init();

    Loaded r = Load(path);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.rate, -4);
    EXPECT_EQ(r.volume, 65);
    EXPECT_EQ(r.message, message);
    // The old file is kept in the folder V6 under its name, the path holds the new format.
    EXPECT_EQ(testkit::ReadFile(dir / "V6" / "Old"), record);
    EXPECT_NE(testkit::ReadFile(dir / "Old").find("NO_OF_MESSAGE_LINES=3\r\n"), std::string::npos);
    Loaded again = Load(path);
    EXPECT_EQ(again.hr, S_OK);
    EXPECT_EQ(again.rate, -4);
    EXPECT_EQ(again.volume, 65);
    EXPECT_EQ(again.message, message);
    EXPECT_TRUE(host.calls.empty()); // nothing went wrong
}

TEST_F(TTSNotificationTest, Version6LineLongerThanAFileLineKeepsItsBackup) {
    // One line of 2500 bytes: Message1= and 2038 bytes fill the 2047 bytes a line holds.
    std::string message;
    for (int i = 0; i < 2500; ++i)
        message += static_cast<char>('a' + i % 26);
    const std::string record = Version6(-4, 65, 2500, message);
    std::string path = Instance("Old", record);
    Init();

    Loaded r = Load(path);
    EXPECT_EQ(r.hr, S_OK); // this alert still has the whole message
    EXPECT_EQ(r.message, message);
    // Nothing cut was written; the only copy is the backup, and the log says where.
    EXPECT_FALSE(fs::exists(dir / "Old"));
    EXPECT_EQ(testkit::ReadFile(dir / "V6" / "Old"), record);
    const std::string backup = testkit::ZPath(dir / "V6" / "Old");
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{
                  path,
                  " Notification - The value of Message1 is too long to save: 2500 bytes, at "
                  "most 2038 fit in a line of the file.",
                  "\r\n", path, " Text To Speach Notification - Failed saving file.", "\r\n", path,
                  "  Notification - Failed saving file to new notification format.", "\r\n", path,
                  " Notification - The Version 6 file is kept as " + backup + ".", "\r\n"}));
}

TEST_F(TTSNotificationTest, Version6MessageIsReadInPiecesOf1023Bytes) {
    // A NUL ends the piece it is in, not the message: the pieces are 1023, 1023 and 454
    // bytes, so a NUL at 10 drops bytes 10..1022 and one at 2100 bytes 2100..2499.
    std::string message(2500, 'x');
    for (int i = 0; i < 2500; ++i)
        message[i] = static_cast<char>('A' + (i / 1023));
    message[10] = '\0';
    message[2100] = '\0';
    Loaded r = Load(Instance("Pieces", Version6(1, 2, 2500, message)));
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.message, std::string(10, 'A') + std::string(1023, 'B') + std::string(54, 'C'));
}

TEST_F(TTSNotificationTest, Version6RecordsThatAreRefusedStayAsTheyWere) {
    std::string wrongSignature = Version6(1, 2, 3, "abc");
    wrongSignature[0] = 'X';
    const struct {
        std::string name;
        std::string bytes;
    } cases[] = {
        {"Empty", ""},
        {"Short", std::string("\xAF\x0F\x44", 3)},
        {"Wrong", wrongSignature},
        // The message breaks off before its length.
        {"Cut", Version6(1, 2, 2500, std::string(100, 'm'))},
        {"Huge", Version6(1, 2, INT32_MAX, "tiny")},
    };
    for (const auto& c : cases) {
        Loaded r = Load(Instance(c.name, c.bytes));
        EXPECT_EQ(r.hr, E_FAIL) << c.name;
        EXPECT_EQ(r.message, "") << c.name;
        EXPECT_EQ(testkit::ReadFile(dir / c.name), c.bytes) << c.name;
    }
    EXPECT_FALSE(fs::exists(dir / "V6"));
}

TEST_F(TTSNotificationTest, Version6RecordThatEndsEarlyKeepsWhatItHas) {
    const struct {
        std::string name;
        std::string bytes;
        int rate;
        int volume;
        std::string message;
    } cases[] = {
        {"SignatureOnly", Version6(0, 0, 0, "").substr(0, 16), 0, 0, ""},
        {"RateOnly", Version6(7, 0, 0, "").substr(0, 20), 7, 0, ""},
        {"NoLength", Version6(7, 55, 0, "").substr(0, 24), 7, 55, ""},
        {"NegativeLength", Version6(7, 55, -1, "ignored"), 7, 55, ""},
        {"Exact", Version6(-10, 100, 5, "hello"), -10, 100, "hello"},
    };
    for (const auto& c : cases) {
        Loaded r = Load(Instance(c.name, c.bytes), 11, 22);
        EXPECT_EQ(r.hr, S_OK) << c.name;
        EXPECT_EQ(r.rate, c.rate) << c.name;
        EXPECT_EQ(r.volume, c.volume) << c.name;
        EXPECT_EQ(r.message, c.message) << c.name;
        EXPECT_EQ(testkit::ReadFile(dir / "V6" / c.name), c.bytes) << c.name;
    }
}

// The log lines

TEST_F(TTSNotificationTest, NotifyLogsPreparingAndCompletedWithThePathAsGiven) {
    Init();
    // The path exactly as the host passes it, forward slash and all.
    std::string path = Ini("Desk", "SpeakRate=0\r\nVolumnRate=100\r\nMessage1=%H is down\r\n"
                                   "NO_OF_MESSAGE_LINES=1\r\n");
    std::string given = path.substr(0, 2) + "/" + path.substr(3);
    std::u16string seen;
    host.expand = [&](std::u16string& text) {
        seen = text;
        text = u"router-7 is down";
        return S_OK;
    };
    ASSERT_EQ(Notify(given), S_OK);
    EXPECT_EQ(seen, u"%H is down");
    EXPECT_EQ(host.calls, (std::vector<std::string>{given, " - Preparing to Speak", "\r\n", given,
                                                    " - Speaking has completed", "\r\n"}));
    EXPECT_EQ(host.levels, std::vector<LONG>(6, 1));
}

TEST_F(TTSNotificationTest, FailureLinesOfTheLoad) {
    Init();
    // Notify: the file cannot be loaded. Logged, S_OK, nothing expanded or spoken.
    std::string missing = testkit::ZPath(dir / "missing");
    ASSERT_EQ(Notify(missing), S_OK);
    EXPECT_EQ(host.calls, (std::vector<std::string>{
                              missing, " - Failed to load notification from disk.", "\r\n"}));
    EXPECT_EQ(host.expandCalls, 0);

    // The backup folder cannot be made: a file named V6 is in the way. The instance is
    // still rewritten in the new format and loads.
    host.calls.clear();
    testkit::WriteFile(dir / "V6", "in the way");
    std::string old = Instance("Old", Version6(2, 80, 5, "hello"));
    Loaded r = Load(old);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.message, "hello");
    EXPECT_EQ(
        host.calls,
        (std::vector<std::string>{
            old, " Notification - Failed to move Version 6 file to backup directory.", "\r\n"}));
    EXPECT_EQ(Load(old).hr, S_OK);
}

TEST_F(TTSNotificationTest, FailureLinesOfTheSave) {
    Init();
    // A folder whose temporary file name would not fit the platform's path limit: the
    // instance path fits, but no file can be saved beside it.
    fs::path deep = dir.path();
    while (testkit::ZPath(deep).size() < 250)
        deep /= std::string(std::min<size_t>(60, 250 - testkit::ZPath(deep).size()), 'd');
    fs::create_directories(deep);
    testkit::WriteFile(deep / "A", Version6(3, 70, 2, "hi"));
    std::string path = testkit::ZPath(deep / "A");

    Loaded r = Load(path);
    EXPECT_EQ(r.hr, S_OK); // the values read count, whatever the conversion met
    EXPECT_EQ(r.rate, 3);
    EXPECT_EQ(r.message, "hi");
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{
                  path, " Text To Speach Notification - Failed saving file.", "\r\n", path,
                  "  Notification - Failed saving file to new notification format.", "\r\n", path,
                  " Notification - The Version 6 file is kept as " +
                      testkit::ZPath(deep / "V6" / "A") + ".",
                  "\r\n"}));

    host.calls.clear();
    EXPECT_EQ(Save(path, 0, 100, "x"), E_FAIL);
    EXPECT_EQ(host.calls, (std::vector<std::string>{
                              path, " Text To Speach Notification - Failed saving file.", "\r\n"}));
}

TEST_F(TTSNotificationTest, WithoutAHostNothingIsLogged) {
    testkit::WriteFile(dir / "V6", "in the way");
    std::string old = Instance("Old", Version6(2, 80, 5, "hello"));
    EXPECT_EQ(Load(old).hr, S_OK);
    EXPECT_EQ(Notify(testkit::ZPath(dir / "missing")), S_OK);
    EXPECT_EQ(Notify(old), S_OK);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(host.expandCalls, 0);
}

TEST_F(TTSNotificationTest, FailedExpansionIsReturnedAndNothingMoreIsLogged) {
    Init();
    std::string path = Ini("Desk", "SpeakRate=0\r\nVolumnRate=100\r\nMessage1=%H\r\n"
                                   "NO_OF_MESSAGE_LINES=1\r\n");
    host.expand = [](std::u16string&) { return HRESULT(0x80070005); };
    EXPECT_EQ(Notify(path), HRESULT(0x80070005));
    EXPECT_EQ(host.calls, (std::vector<std::string>{path, " - Preparing to Speak", "\r\n"}));
    EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
    EXPECT_TRUE(spool.Files().empty());
}

TEST_F(TTSNotificationTest, AnEmptyPathPurgesWithoutHostOrLog) {
    for (BSTR path : {static_cast<BSTR>(nullptr), Bstr(u"").Detach()}) {
        EXPECT_EQ(m_plugin->Notify(path), S_OK);
        SysFreeString(path);
    }
    // The voice came into being on demand, before any Initialize.
    EXPECT_TRUE(Object()->Voice().IsCreated());
    EXPECT_TRUE(host.calls.empty());
    // Initialize keeps that one voice rather than making a second.
    Init();
    EXPECT_TRUE(Object()->Voice().IsCreated());
    EXPECT_EQ(m_plugin->Notify(nullptr), S_OK);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
    EXPECT_TRUE(spool.Files().empty()); // a blank leaves no file
}

TEST_F(TTSNotificationTest, NotifyBeforeInitializeNeitherSpeaksNorLogs) {
    std::string path = Ini("Desk", "SpeakRate=0\r\nVolumnRate=100\r\nMessage1=hello\r\n"
                                   "NO_OF_MESSAGE_LINES=1\r\n");
    EXPECT_EQ(Notify(path), S_OK);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(host.expandCalls, 0);
    EXPECT_FALSE(Object()->Voice().IsCreated());
    EXPECT_TRUE(spool.Files().empty());
}

} // namespace
