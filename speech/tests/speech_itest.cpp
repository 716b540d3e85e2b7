// Parlanza's alerts spoken for real: espeak-ng writes each one as a WAV file, which the
// tests measure.
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <winplat/comptr.h>
#include <winplat/sapi.h>

#include "recording_host.h"
#include "testkit.h"
#include "tts_notification.h"
#include "wav.h"

namespace fs = std::filesystem;
using testkit::RecordingHost;
using winplat::Bstr;
using winplat::ComPtr;

namespace {

constexpr char kSentence[] =
    "The router in the front office stopped answering at ten past nine this morning.";

class ParlanzaSpeechTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        ASSERT_EQ(sentrel::CreateComponent<TTSNotification>(nullptr, IID_ISentrelNotification,
                                                            m_plugin.PutVoid()),
                  S_OK);
        ASSERT_EQ(m_plugin->Initialize(&host), S_OK);
    }
    void TearDown() override {
        WinplatWaitForSpeech(INFINITE);
        m_plugin->UnInitialize();
        m_plugin.Reset();
        CoUninitialize();
    }

    std::string Instance(const std::string& name, const std::string& rate,
                         const std::string& volume, const std::string& message) {
        testkit::WriteFile(dir / name, "[TextSpeech\\" + name +
                                           "]\r\nCLSID={44440FAF-3359-11D5-8075-00E0295E9283}"
                                           "\r\nSpeakRate=" +
                                           rate + "\r\nVolumnRate=" + volume + "\r\nMessage1=" +
                                           message + "\r\nNO_OF_MESSAGE_LINES=1\r\n");
        return testkit::ZPath(dir / name);
    }
    HRESULT Notify(const std::string& path) {
        return m_plugin->Notify(Bstr(testkit::Utf16(path)).Get());
    }
    // One alert, spoken to the end, as the WAV file it became.
    testkit::Wav Speak(const std::string& rate, const std::string& volume,
                       const std::string& message = kSentence) {
        size_t before = spool.Files().size();
        EXPECT_EQ(Notify(Instance("Alert", rate, volume, message)), S_OK);
        EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
        std::vector<fs::path> files = spool.Files();
        if (files.size() != before + 1) {
            ADD_FAILURE() << "expected one new WAV file, found " << files.size() - before;
            return {};
        }
        return testkit::ReadWav(files.back());
    }
    // A voice of the test's own, paused with a text at the head of the queue: the speech
    // thread holds until it is resumed, and everything queued after it waits.
    ComPtr<ISpVoice> HoldTheSpeechThread() {
        ComPtr<ISpVoice> gate;
        EXPECT_EQ(CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_INPROC_SERVER, IID_ISpVoice,
                                   gate.PutVoid()),
                  S_OK);
        EXPECT_EQ(gate->Pause(), S_OK);
        EXPECT_EQ(gate->Speak(u"Gate.", SPF_ASYNC, nullptr), S_OK);
        SPVOICESTATUS status{};
        while (gate->GetStatus(&status) == S_OK && !(status.dwRunningState & SPRS_IS_SPEAKING))
            std::this_thread::yield();
        return gate;
    }

    testkit::SpeechSpool spool;
    testkit::TempDir dir;
    RecordingHost host;
    ComPtr<ISentrelNotification> m_plugin;
};

TEST_F(ParlanzaSpeechTest, AnAlertBecomesAWavFileOfSpeech) {
    testkit::Wav wav = Speak("0", "100");
    EXPECT_EQ(wav.sampleRate, 22050u);
    EXPECT_GT(wav.Seconds(), 2.0);
    EXPECT_GT(wav.Peak(), 8000);
}

TEST_F(ParlanzaSpeechTest, TheExpandedTextIsWhatIsSpoken) {
    const double direct = Speak("0", "100").Seconds();
    host.expand = [](std::u16string& text) {
        EXPECT_EQ(text, u"%H");
        text = testkit::Utf16(kSentence);
        return S_OK;
    };
    const double expanded = Speak("0", "100", "%H").Seconds();
    EXPECT_NEAR(expanded, direct, direct * 0.02);
}

TEST_F(ParlanzaSpeechTest, HigherRateIsMeasurablyShorter) {
    const double normal = Speak("0", "100").Seconds();
    const double fast = Speak("10", "100").Seconds();
    const double faster = Speak("5", "100").Seconds();
    const double slow = Speak("-10", "100").Seconds();
    EXPECT_LT(faster, normal * 0.8);
    EXPECT_LT(fast, faster * 0.8);
    EXPECT_GT(normal / fast, 2.5);
    EXPECT_GT(slow / normal, 2.5);
}

TEST_F(ParlanzaSpeechTest, LowerVolumeIsMeasurablyLowerAmplitude) {
    const testkit::Wav full = Speak("0", "100");
    const testkit::Wav low = Speak("0", "30");
    EXPECT_NEAR(low.Rms() / full.Rms(), 0.3, 0.05);
    EXPECT_LT(low.Peak(), full.Peak() * 0.4);
    // Volume 0 (also what a file without VolumnRate gives): the whole utterance, silent.
    const testkit::Wav silent = Speak("0", "0");
    EXPECT_EQ(silent.Peak(), 0);
    EXPECT_NEAR(silent.Seconds(), full.Seconds(), full.Seconds() * 0.02);
}

TEST_F(ParlanzaSpeechTest, OutOfRangeValuesSpeakAtNormalSpeedAndFullVolume) {
    const testkit::Wav reference = Speak("0", "100");
    const struct {
        const char* rate;
        const char* volume;
    } cases[] = {{"25", "-5"}, {"-11", "101"}, {"11", "1000"}, {"-2147483648", "-1"}};
    for (const auto& c : cases) {
        const testkit::Wav wav = Speak(c.rate, c.volume);
        EXPECT_NEAR(wav.Seconds(), reference.Seconds(), reference.Seconds() * 0.02)
            << c.rate << " " << c.volume;
        EXPECT_NEAR(wav.Rms(), reference.Rms(), reference.Rms() * 0.05)
            << c.rate << " " << c.volume;
    }
}

TEST_F(ParlanzaSpeechTest, NotifyReturnsBeforeTheSpeechEnds) {
    ComPtr<ISpVoice> gate = HoldTheSpeechThread();
    // Were Notify to wait for the voice, it would not return while the thread is held.
    ASSERT_EQ(Notify(Instance("Alert", "0", "100", kSentence)), S_OK);
    EXPECT_EQ(host.calls.back(), "\r\n");
    EXPECT_EQ(host.calls[host.calls.size() - 2], " - Speaking has completed");
    EXPECT_FALSE(WinplatWaitForSpeech(0));
    EXPECT_TRUE(spool.Files().empty());

    ASSERT_EQ(gate->Resume(), S_OK);
    EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 2u); // the gate's text, then the alert
    EXPECT_GT(testkit::ReadWav(files[1]).Seconds(), 2.0);
}

TEST_F(ParlanzaSpeechTest, AnEmptyPathPurgesWhatIsQueued) {
    ComPtr<ISpVoice> gate = HoldTheSpeechThread();
    ASSERT_EQ(Notify(Instance("First", "0", "100", kSentence)), S_OK);
    ASSERT_EQ(Notify(Instance("Second", "0", "100", "Second alert.")), S_OK);
    host.calls.clear();
    ASSERT_EQ(m_plugin->Notify(nullptr), S_OK);
    EXPECT_TRUE(host.calls.empty());

    ASSERT_EQ(gate->Resume(), S_OK);
    EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 1u); // the gate's own text alone
    EXPECT_LT(testkit::ReadWav(files[0]).Seconds(), 1.5);

    // The voice speaks on after the purge.
    EXPECT_GT(Speak("0", "100").Seconds(), 2.0);
}

TEST_F(ParlanzaSpeechTest, AlertsAreSpokenInOrderEachAtItsOwnRate) {
    ComPtr<ISpVoice> gate = HoldTheSpeechThread();
    ASSERT_EQ(Notify(Instance("Fast", "10", "100", kSentence)), S_OK);
    ASSERT_EQ(Notify(Instance("Normal", "0", "100", kSentence)), S_OK);
    ASSERT_EQ(gate->Resume(), S_OK);
    EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_GT(testkit::ReadWav(files[2]).Seconds(), testkit::ReadWav(files[1]).Seconds() * 2.5);
}

} // namespace
