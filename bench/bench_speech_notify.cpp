// Parlanza's Notify against the length of the message (10 to 10,000 characters), beside the
// time espeak-ng takes to synthesise the same text, measured in the same run. Notify only
// queues the text on the platform's voice: it should return in well under a millisecond at
// every length, and the printed ratios (synthesis over Notify) stay far above 1.
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <winplat/comptr.h>
#include <winplat/sapi.h>

#include "quiet_host.h"
#include "ratio.h"
#include "recording_host.h"
#include "testkit.h"
#include "tts_notification.h"
#include "wav.h"

namespace {

constexpr int kLengths[] = {10, 100, 1000, 10000};

// Alert text of the given length in words, as lines of at most 100 characters joined by
// CR LF (an instance file keeps each line as a key of its own).
std::string AlertText(int length) {
    const std::string words = "the backup job on volume two failed and the mail server is "
                              "not answering on port twenty five ";
    std::string text;
    int column = 0;
    while (static_cast<int>(text.size()) < length) {
        if (column == 100 && static_cast<int>(text.size()) + 2 <= length) {
            text += "\r\n";
            column = 0;
            continue;
        }
        text += words[text.size() % words.size()];
        ++column;
    }
    return text;
}

winplat::ComPtr<ISpVoice> NewVoice() {
    winplat::ComPtr<ISpVoice> voice;
    CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_INPROC_SERVER, IID_ISpVoice, voice.PutVoid());
    return voice;
}

// Everything one process of the benchmark shares: a spool folder and the COM apartment.
struct Environment {
    Environment() { CoInitialize(nullptr); }
    ~Environment() { CoUninitialize(); }
    testkit::SpeechSpool spool;
    testkit::TempDir dir;
};
Environment& Env() {
    static Environment env;
    return env;
}

void BM_Notify(benchmark::State& state) {
    Environment& env = Env();
    const int length = static_cast<int>(state.range(0));
    TTSNotification* pObject = nullptr;
    winplat::ComPtr<ISentrelNotification> plugin;
    sentrel::CreateComponent<TTSNotification>(nullptr, IID_ISentrelNotification, plugin.PutVoid());
    pObject = static_cast<TTSNotification*>(plugin.Get());
    bench::QuietHost host;
    plugin->Initialize(&host);
    const std::string name = "Alert " + std::to_string(length);
    winplat::Bstr path(testkit::Utf16(testkit::ZPath(env.dir / name)));
    pObject->SaveSpeechInstance(path.Get(), 0, 100, AlertText(length));

    // A paused voice holds the speech thread, so that synthesis does not run beside the
    // measurement; each queued alert is purged again outside the timing.
    winplat::ComPtr<ISpVoice> gate = NewVoice();
    gate->Pause();
    gate->Speak(u"Hold.", SPF_ASYNC, nullptr);
    SPVOICESTATUS status{};
    while (gate->GetStatus(&status) == S_OK && !(status.dwRunningState & SPRS_IS_SPEAKING))
        std::this_thread::yield();

    for (auto _ : state) {
        if (plugin->Notify(path.Get()) != S_OK)
            state.SkipWithError("Notify failed");
        state.PauseTiming();
        plugin->Notify(nullptr);
        state.ResumeTiming();
    }
    gate->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
    gate->Resume();
    WinplatWaitForSpeech(INFINITE);
    plugin->UnInitialize();
}

void BM_Synthesize(benchmark::State& state) {
    Environment& env = Env();
    const std::u16string text = testkit::Utf16(AlertText(static_cast<int>(state.range(0))));
    winplat::ComPtr<ISpVoice> voice = NewVoice();
    for (auto _ : state) {
        // Spoken to the end into the spool folder: espeak-ng's work plus the WAV file.
        if (voice->Speak(text.c_str(), SPF_DEFAULT, nullptr) != S_OK)
            state.SkipWithError("Speak failed");
        state.PauseTiming();
        for (const auto& file : env.spool.Files())
            std::filesystem::remove(file);
        state.ResumeTiming();
    }
}

void Lengths(benchmark::internal::Benchmark* b) {
    for (int length : kLengths)
        b->Arg(length);
}
BENCHMARK(BM_Notify)->Apply(Lengths)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Synthesize)->Apply(Lengths)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    std::vector<bench::Ratio> ratios;
    for (int length : kLengths)
        ratios.push_back({"BM_Synthesize/" + std::to_string(length),
                          "BM_Notify/" + std::to_string(length), "> 10"});
    return bench::RunWithRatios(argc, argv, ratios);
}
