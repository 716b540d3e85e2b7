// The speech voice speaking for real with espeak-ng, measured in the WAV files it writes.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include <winplat/comptr.h>
#include <winplat/sapi.h>
#include <winplat/utf.h>

#include "testkit.h"
#include "wav.h"

namespace {

using winplat::ComPtr;
namespace fs = std::filesystem;

const char16_t kSentence[] =
    u"The router in the front office stopped answering at ten past nine this morning.";
const char16_t kShort[] = u"Disk full.";
const char16_t kLong[] =
    u"The mail server has not answered for five minutes. The backup job on volume two failed "
    u"twice, and the printer on the second floor reports a paper jam in tray three. Please "
    u"check the uninterruptible power supply in the server room as well, its battery is weak.";

class VoiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }

    ComPtr<ISpVoice> NewVoice() {
        ComPtr<ISpVoice> voice;
        HRESULT hr = CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_INPROC_SERVER, IID_ISpVoice,
                                      voice.PutVoid());
        EXPECT_EQ(hr, S_OK);
        return voice;
    }

    // Speaks one text at a rate and volume and reads the WAV file it became.
    testkit::Wav SpeakToWav(const char16_t* text, LONG rate, USHORT volume) {
        ComPtr<ISpVoice> voice = NewVoice();
        EXPECT_EQ(voice->SetRate(rate), S_OK);
        EXPECT_EQ(voice->SetVolume(volume), S_OK);
        size_t before = spool.Files().size();
        EXPECT_EQ(voice->Speak(text, SPF_ASYNC, nullptr), S_OK);
        EXPECT_EQ(voice->WaitUntilDone(INFINITE), S_OK);
        std::vector<fs::path> files = spool.Files();
        if (files.size() != before + 1) {
            ADD_FAILURE() << "expected one new WAV file, found " << files.size() - before;
            return {};
        }
        return testkit::ReadWav(files.back());
    }

    // Waits for the speech thread to reach a state; the test's own time limit bounds it.
    static void WaitForState(ISpVoice* voice, DWORD state) {
        SPVOICESTATUS status{};
        while (voice->GetStatus(&status) == S_OK && !(status.dwRunningState & state))
            std::this_thread::yield();
    }

    testkit::SpeechSpool spool;
};

TEST_F(VoiceTest, IsCreatedAsBuiltInClassAndAnswersItsInterfacesOnly) {
    ComPtr<ISpVoice> voice = NewVoice();
    ASSERT_TRUE(voice);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(voice->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(voice->QueryInterface(IID_IClassFactory, factory.PutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(factory);

    ComPtr<IUnknown> inner;
    EXPECT_EQ(CoCreateInstance(CLSID_SpVoice, unknown.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                               inner.PutVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(inner);
}

TEST_F(VoiceTest, SpeechBecomesOneWavFileInTheSpoolFolder) {
    testkit::Wav wav = SpeakToWav(kSentence, 0, 100);
    EXPECT_EQ(wav.sampleRate, 22050u);
    EXPECT_EQ(wav.channels, 1);
    EXPECT_GT(wav.Seconds(), 2.0); // fourteen words at 175 a minute
    EXPECT_LT(wav.Seconds(), 8.0);
    EXPECT_GT(wav.Peak(), 8000); // speech at full volume, not silence

    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 1u);
    char last[4096];
    ASSERT_GT(WinplatGetLastSpeechFile(last, sizeof last), 0u);
    EXPECT_EQ(fs::path(last), files[0]);
    // Nothing half-written is left beside it.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(spool.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(VoiceTest, HigherRateIsShorterAndTheEndsAreAboutThreeTimesApart) {
    const LONG rates[] = {-10, -5, 0, 5, 10};
    std::vector<double> seconds;
    for (LONG rate : rates)
        seconds.push_back(SpeakToWav(kSentence, rate, 100).Seconds());
    for (size_t i = 1; i < seconds.size(); ++i)
        EXPECT_LT(seconds[i], seconds[i - 1] * 0.85) << "rate " << rates[i];
    const double normal = seconds[2];
    EXPECT_GT(seconds[0] / normal, 2.5); // -10: about three times slower
    EXPECT_LT(seconds[0] / normal, 3.5);
    EXPECT_GT(normal / seconds[4], 2.5); // +10: about three times faster
    EXPECT_LT(normal / seconds[4], 3.5);
}

// Zero crossings a second: about twice the pitch of a voiced sound.
double CrossingsPerSecond(const testkit::Wav& wav) {
    size_t crossings = 0;
    for (size_t i = 1; i < wav.samples.size(); ++i)
        crossings += (wav.samples[i - 1] < 0) != (wav.samples[i] < 0);
    return wav.Seconds() > 0 ? crossings / wav.Seconds() : 0;
}

TEST_F(VoiceTest, SlowestRateIsAboutThreeTimesAsLongForAnyTextAtTheSamePitch) {
    // espeak-ng slows single letters and long words by different amounts on its own.
    const char16_t* texts[] = {u"A",     u"x", u"Z", u"Disk", u"Supercalifragilisticexpialidocious",
                               kSentence};
    for (const char16_t* text : texts) {
        const testkit::Wav normal = SpeakToWav(text, 0, 100);
        const testkit::Wav slowest = SpeakToWav(text, -10, 100);
        ASSERT_GT(normal.Seconds(), 0);
        const std::string shown = winplat::Utf8FromUtf16(text);
        EXPECT_NEAR(slowest.Seconds() / normal.Seconds(), 3.0, 0.3) << shown;
        EXPECT_GT(slowest.Peak(), normal.Peak() / 2) << shown; // speech, not silence
        // Stretched evenly in time, not padded with pauses nor played slower: as many zero
        // crossings a second as at the normal rate.
        EXPECT_NEAR(CrossingsPerSecond(slowest) / CrossingsPerSecond(normal), 1.0, 0.25) << shown;
    }
    // The steps below espeak-ng's slowest speed go on getting longer.
    double previous = 0;
    for (LONG rate : {-7L, -8L, -9L, -10L}) {
        const double seconds = SpeakToWav(kSentence, rate, 100).Seconds();
        EXPECT_GT(seconds, previous * 1.03) << "rate " << rate;
        previous = seconds;
    }
}

TEST_F(VoiceTest, LowerVolumeIsProportionallyLowerAmplitude) {
    const testkit::Wav full = SpeakToWav(kSentence, 0, 100);
    ASSERT_GT(full.Rms(), 0);
    struct Case {
        USHORT volume;
    } cases[] = {{75}, {50}, {10}};
    for (const Case& c : cases) {
        const testkit::Wav wav = SpeakToWav(kSentence, 0, c.volume);
        const double ratio = wav.Rms() / full.Rms();
        EXPECT_NEAR(ratio, c.volume / 100.0, 0.05 + c.volume / 1000.0) << "volume " << c.volume;
        EXPECT_NEAR(wav.Seconds(), full.Seconds(), full.Seconds() * 0.02);
    }
    // Silent, but still the whole utterance long.
    const testkit::Wav silent = SpeakToWav(kSentence, 0, 0);
    EXPECT_EQ(silent.Peak(), 0);
    EXPECT_NEAR(silent.Seconds(), full.Seconds(), full.Seconds() * 0.02);
}

TEST_F(VoiceTest, OutOfRangeValuesAreRefusedAndLeaveRateAndVolumeAsTheyWere) {
    const testkit::Wav reference = SpeakToWav(kSentence, 0, 100);
    ComPtr<ISpVoice> voice = NewVoice();
    for (LONG rate : {-11L, 11L, 25L, -1000L})
        EXPECT_EQ(voice->SetRate(rate), E_INVALIDARG) << rate;
    for (USHORT volume : {101, 200, 65535})
        EXPECT_EQ(voice->SetVolume(static_cast<USHORT>(volume)), E_INVALIDARG) << volume;
    LONG rate = 99;
    USHORT volume = 99;
    EXPECT_EQ(voice->GetRate(&rate), S_OK);
    EXPECT_EQ(voice->GetVolume(&volume), S_OK);
    EXPECT_EQ(rate, 0);
    EXPECT_EQ(volume, 100);

    ASSERT_EQ(voice->Speak(kSentence, SPF_ASYNC, nullptr), S_OK);
    ASSERT_EQ(voice->WaitUntilDone(INFINITE), S_OK);
    const testkit::Wav wav = testkit::ReadWav(spool.Files().back());
    EXPECT_NEAR(wav.Seconds(), reference.Seconds(), reference.Seconds() * 0.02);
    EXPECT_NEAR(wav.Rms(), reference.Rms(), reference.Rms() * 0.05);

    // The limits themselves are valid.
    EXPECT_EQ(voice->SetRate(-10), S_OK);
    EXPECT_EQ(voice->SetRate(10), S_OK);
    EXPECT_EQ(voice->SetVolume(0), S_OK);
    EXPECT_EQ(voice->SetVolume(100), S_OK);
}

TEST_F(VoiceTest, EachTextKeepsTheRateAndVolumeSetWhenItWasQueued) {
    ComPtr<ISpVoice> voice = NewVoice();
    ASSERT_EQ(voice->Pause(), S_OK); // nothing is spoken before both are queued
    ASSERT_EQ(voice->SetRate(10), S_OK);
    ASSERT_EQ(voice->SetVolume(30), S_OK);
    ASSERT_EQ(voice->Speak(kSentence, SPF_ASYNC, nullptr), S_OK);
    ASSERT_EQ(voice->SetRate(0), S_OK);
    ASSERT_EQ(voice->SetVolume(100), S_OK);
    ASSERT_EQ(voice->Speak(kSentence, SPF_ASYNC, nullptr), S_OK);
    ASSERT_EQ(voice->Resume(), S_OK);
    ASSERT_EQ(voice->WaitUntilDone(INFINITE), S_OK);

    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 2u);
    const testkit::Wav first = testkit::ReadWav(files[0]);
    const testkit::Wav second = testkit::ReadWav(files[1]);
    EXPECT_LT(first.Seconds() * 2.5, second.Seconds());
    EXPECT_NEAR(first.Rms() / second.Rms(), 0.3, 0.05);
}

TEST_F(VoiceTest, TextsAreSpokenInTheOrderTheyWereQueued) {
    ComPtr<ISpVoice> voice = NewVoice();
    const char16_t* texts[] = {kLong, kShort, kSentence};
    ULONG streams[3] = {};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(voice->Speak(texts[i], SPF_ASYNC, &streams[i]), S_OK);
    EXPECT_EQ(streams[0], 1u);
    EXPECT_EQ(streams[1], 2u);
    EXPECT_EQ(streams[2], 3u);
    ASSERT_EQ(voice->WaitUntilDone(INFINITE), S_OK);

    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 3u);
    const double longSeconds = testkit::ReadWav(files[0]).Seconds();
    const double shortSeconds = testkit::ReadWav(files[1]).Seconds();
    const double sentenceSeconds = testkit::ReadWav(files[2]).Seconds();
    EXPECT_GT(longSeconds, sentenceSeconds);
    EXPECT_GT(sentenceSeconds, shortSeconds);
}

TEST_F(VoiceTest, AsyncSpeakReturnsBeforeTheTextIsSpoken) {
    ComPtr<ISpVoice> voice = NewVoice();
    ASSERT_EQ(voice->Pause(), S_OK);
    // Were Speak to wait for the speech, it would never return while the voice is paused.
    ULONG stream = 0;
    ASSERT_EQ(voice->Speak(kSentence, SPF_ASYNC, &stream), S_OK);
    SPVOICESTATUS status{};
    ASSERT_EQ(voice->GetStatus(&status), S_OK);
    EXPECT_EQ(status.ulLastStreamQueued, stream);
    EXPECT_EQ(status.ulStreamsPending, 1u);
    EXPECT_FALSE(status.dwRunningState & SPRS_DONE);
    EXPECT_EQ(voice->WaitUntilDone(0), S_FALSE);
    EXPECT_FALSE(WinplatWaitForSpeech(0));
    EXPECT_TRUE(spool.Files().empty());

    ASSERT_EQ(voice->Resume(), S_OK);
    EXPECT_EQ(voice->WaitUntilDone(INFINITE), S_OK);
    EXPECT_EQ(spool.Files().size(), 1u);
    ASSERT_EQ(voice->GetStatus(&status), S_OK);
    EXPECT_EQ(status.dwRunningState, DWORD(SPRS_DONE));
    EXPECT_EQ(status.ulStreamsPending, 0u);
    EXPECT_EQ(status.ulCurrentStream, 0u);
}

TEST_F(VoiceTest, SpeakWithoutAsyncReturnsOnceTheTextWasSpoken) {
    ComPtr<ISpVoice> voice = NewVoice();
    ASSERT_EQ(voice->Speak(kSentence, SPF_DEFAULT, nullptr), S_OK);
    EXPECT_EQ(spool.Files().size(), 1u);
    SPVOICESTATUS status{};
    ASSERT_EQ(voice->GetStatus(&status), S_OK);
    EXPECT_EQ(status.dwRunningState, DWORD(SPRS_DONE));
}

TEST_F(VoiceTest, PurgeBeforeSpeakDropsWhatIsQueued) {
    ComPtr<ISpVoice> voice = NewVoice();
    ASSERT_EQ(voice->Pause(), S_OK);
    ASSERT_EQ(voice->Speak(kLong, SPF_ASYNC, nullptr), S_OK);
    ASSERT_EQ(voice->Speak(kSentence, SPF_ASYNC, nullptr), S_OK);
    ASSERT_EQ(voice->Speak(kShort, SPF_ASYNC | SPF_PURGEBEFORESPEAK, nullptr), S_OK);
    ASSERT_EQ(voice->Resume(), S_OK);
    ASSERT_EQ(voice->WaitUntilDone(INFINITE), S_OK);

    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_LT(testkit::ReadWav(files[0]).Seconds(), 2.0); // the short text alone
}

TEST_F(VoiceTest, PurgeStopsTheTextBeingSpokenAndTheVoiceSpeaksOnAfterwards) {
    ComPtr<ISpVoice> voice = NewVoice();
    ASSERT_EQ(voice->Pause(), S_OK);
    ASSERT_EQ(voice->Speak(kLong, SPF_ASYNC, nullptr), S_OK);
    // The speech thread has taken the text up and holds at its first sound.
    WaitForState(voice.Get(), SPRS_IS_SPEAKING);
    ASSERT_EQ(voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr), S_OK);
    ASSERT_EQ(voice->Resume(), S_OK);
    ASSERT_EQ(voice->WaitUntilDone(INFINITE), S_OK);
    EXPECT_TRUE(spool.Files().empty());

    ASSERT_EQ(voice->Speak(kSentence, SPF_ASYNC, nullptr), S_OK);
    ASSERT_EQ(voice->WaitUntilDone(INFINITE), S_OK);
    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(testkit::ReadWav(files[0]).Seconds(), 2.0);
}

TEST_F(VoiceTest, PurgeDropsOnlyTheTextsOfItsOwnVoice) {
    ComPtr<ISpVoice> first = NewVoice();
    ComPtr<ISpVoice> second = NewVoice();
    ASSERT_EQ(first->Pause(), S_OK);
    ASSERT_EQ(first->Speak(kShort, SPF_ASYNC, nullptr), S_OK);
    ASSERT_EQ(second->Speak(kSentence, SPF_ASYNC, nullptr), S_OK);
    ASSERT_EQ(second->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr), S_OK);
    ASSERT_EQ(first->Resume(), S_OK);
    EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_LT(testkit::ReadWav(files[0]).Seconds(), 2.0);
}

TEST_F(VoiceTest, WaitForSpeechCoversEveryVoiceOfTheProcess) {
    ComPtr<ISpVoice> first = NewVoice();
    ComPtr<ISpVoice> second = NewVoice();
    ASSERT_EQ(first->Speak(kSentence, SPF_ASYNC, nullptr), S_OK);
    ASSERT_EQ(second->Speak(kShort, SPF_ASYNC, nullptr), S_OK);
    EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
    EXPECT_EQ(spool.Files().size(), 2u);
    EXPECT_EQ(first->WaitUntilDone(0), S_OK);
    EXPECT_EQ(second->WaitUntilDone(0), S_OK);
}

TEST_F(VoiceTest, ReleasingTheVoiceDropsWhatItHasNotSpoken) {
    ComPtr<ISpVoice> voice = NewVoice();
    ASSERT_EQ(voice->Pause(), S_OK);
    ASSERT_EQ(voice->Speak(kSentence, SPF_ASYNC, nullptr), S_OK);
    voice.Reset();
    EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
    EXPECT_TRUE(spool.Files().empty());
}

TEST_F(VoiceTest, BlankTextIsQueuedButLeavesNoFile) {
    ComPtr<ISpVoice> voice = NewVoice();
    ULONG stream = 0;
    ASSERT_EQ(voice->Speak(u" \t ", SPF_ASYNC, &stream), S_OK);
    EXPECT_EQ(stream, 1u);
    ASSERT_EQ(voice->WaitUntilDone(INFINITE), S_OK);
    EXPECT_TRUE(spool.Files().empty());
}

TEST_F(VoiceTest, RefusesNullTextWithoutPurgeAndUnknownFlags) {
    ComPtr<ISpVoice> voice = NewVoice();
    EXPECT_EQ(voice->Speak(nullptr, SPF_ASYNC, nullptr), E_INVALIDARG);
    EXPECT_EQ(voice->Speak(kShort, 0x100, nullptr), E_INVALIDARG);
    SPVOICESTATUS status{};
    ASSERT_EQ(voice->GetStatus(&status), S_OK);
    EXPECT_EQ(status.ulLastStreamQueued, 0u); // nothing was queued
    EXPECT_EQ(voice->GetStatus(nullptr), E_POINTER);
}

TEST_F(VoiceTest, TextOutsideTheBasicPlaneIsSpoken) {
    // A surrogate pair and a lone surrogate must reach espeak-ng as valid UTF-8.
    testkit::Wav wav = SpeakToWav(u"Caf\u00e9 \U0001F600 ok \xD800 done", 0, 100);
    EXPECT_GT(wav.Seconds(), 0.5);
}

// Fresh processes: espeak-ng is set up once per process, the device probed once.
class VoiceProcessTest : public VoiceTest {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        VoiceTest::SetUp();
    }
};

HRESULT CreateAndDrop() {
    ComPtr<ISpVoice> voice;
    return CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_INPROC_SERVER, IID_ISpVoice,
                            voice.PutVoid());
}

[[noreturn]] void ExitWith(bool ok, const std::string& why) {
    if (!ok)
        std::fprintf(stderr, "%s\n", why.c_str());
    std::fflush(stderr);
    std::_Exit(ok ? 0 : 1);
}

TEST_F(VoiceProcessTest, CreationFailsWithoutEspeakLibraryAndSucceedsOnceItIsThere) {
    EXPECT_EXIT(
        {
            setenv("SENTREL_ESPEAK_LIBRARY", "/nonexistent/libespeak-ng.so.1", 1);
            HRESULT missing = CreateAndDrop();
            unsetenv("SENTREL_ESPEAK_LIBRARY");
            HRESULT present = CreateAndDrop();
            ExitWith(missing == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) && present == S_OK,
                     "missing " + std::to_string(missing) + " present " + std::to_string(present));
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(VoiceProcessTest, CreationFailsWithoutVoiceDataAndTheProcessGoesOn) {
    testkit::TempDir empty;
    EXPECT_EXIT(
        {
            setenv("ESPEAK_DATA_PATH", empty.path().c_str(), 1);
            HRESULT missing = CreateAndDrop();
            unsetenv("ESPEAK_DATA_PATH");
            HRESULT present = CreateAndDrop();
            ExitWith(missing == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) && present == S_OK,
                     "missing " + std::to_string(missing) + " present " + std::to_string(present));
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(VoiceProcessTest, UnknownVoiceNameFailsCreation) {
    EXPECT_EXIT(
        {
            setenv("SENTREL_SPEECH_VOICE", "no-such-voice", 1);
            HRESULT hr = CreateAndDrop();
            ExitWith(hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), std::to_string(hr));
        },
        ::testing::ExitedWithCode(0), "");
}

// The sound device is ALSA's file plug-in here: what is played lands in a raw file.
TEST_F(VoiceProcessTest, WithASoundDeviceSpeechIsPlayedAndNoFileIsWritten) {
    testkit::TempDir alsa;
    const fs::path played = alsa / "played.raw";
    testkit::WriteFile(alsa / "asound.conf", "pcm.!default {\n  type file\n  slave.pcm \"null\"\n"
                                             "  file \"" +
                                                 played.string() +
                                                 "\"\n  format \"raw\"\n}\n"
                                                 "pcm.null { type null }\n");
    const double reference = SpeakToWav(kShort, 0, 100).Seconds();
    EXPECT_EXIT(
        {
            unsetenv("SENTREL_SPEECH_OUTPUT"); // the device when there is one
            setenv("ALSA_CONFIG_PATH", (alsa / "asound.conf").c_str(), 1);
            setenv("PULSE_SERVER", "unix:/nonexistent/pulse", 1); // no sound server either
            HRESULT hr = S_OK;
            {
                ComPtr<ISpVoice> voice;
                hr = CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_INPROC_SERVER, IID_ISpVoice,
                                      voice.PutVoid());
                if (SUCCEEDED(hr)) {
                    voice->SetVolume(50);
                    voice->Speak(kShort, SPF_ASYNC, nullptr);
                    voice->WaitUntilDone(INFINITE);
                }
            }
            const std::string raw = testkit::ReadFile(played);
            const double seconds = raw.size() / 2 / 22050.0;
            ExitWith(hr == S_OK && spool.Files().size() == 1 && // only the reference
                         seconds > reference * 0.95 && seconds < reference * 1.05,
                     "hr " + std::to_string(hr) + ", " + std::to_string(spool.Files().size()) +
                         " files, played " + std::to_string(seconds) + " s of " +
                         std::to_string(reference));
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
