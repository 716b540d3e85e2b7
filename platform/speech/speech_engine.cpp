#include "speech/speech_engine.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <strings.h>

#include <winplat/sapi.h>
#include <winplat/winerror.h>

#include "speech/speech_libraries.h"
#include "speech/time_stretch.h"
#include "speech/wav_file.h"
#include "system/system_internal.h"

namespace winplat::speech {

namespace {

constexpr int kNormalWordsPerMinute = 175; // espeak-ng's own normal speed
constexpr int kSlowestWordsPerMinute = 80; // espeak-ng's slowest speed
constexpr int kBufferMilliseconds = 100;   // samples arrive in pieces of this length

std::string DefaultSpoolFolder() {
    std::string folder = UserDataFolder();
    return folder.empty() ? "/tmp/sentrel-speech-" + std::to_string(getuid()) : folder + "/speech";
}

bool HasSomethingToSay(const std::string& text) {
    for (unsigned char c : text)
        if (c > ' ')
            return true;
    return false;
}

// The synthesis callback has no context argument; the engine is the process's one.
int OnEspeakSamples(short* wav, int numsamples, espeak_EVENT*) {
    return SpeechEngine::Instance().OnSamples(wav, numsamples);
}

} // namespace

OutputSettings ReadOutputSettings() {
    OutputSettings settings;
    const char* mode = std::getenv("SENTREL_SPEECH_OUTPUT");
    if (mode && strcasecmp(mode, "spool") == 0)
        settings.output = Output::Spool;
    const char* folder = std::getenv("SENTREL_SPEECH_SPOOL");
    settings.spoolFolder = folder && *folder ? folder : DefaultSpoolFolder();
    if (settings.spoolFolder.front() != '/') {
        std::error_code ec;
        settings.spoolFolder = (std::filesystem::current_path(ec) / settings.spoolFolder).string();
    }
    return settings;
}

EspeakRate EspeakRateFor(LONG rate) {
    const double wpm = kNormalWordsPerMinute * std::pow(3.0, rate / 10.0);
    if (wpm >= kSlowestWordsPerMinute)
        return {static_cast<int>(std::lround(wpm)), 1.0};
    // espeak-ng slows words and letters down by different amounts, and pauses lengthen
    // only what has pauses: time itself is stretched instead.
    return {kNormalWordsPerMinute, kNormalWordsPerMinute / wpm};
}

SpeechEngine& SpeechEngine::Instance() {
    static SpeechEngine engine;
    return engine;
}

SpeechEngine::~SpeechEngine() {
    Stop();
}

void SpeechEngine::Stop() {
    std::lock_guard life(m_lifeMutex);
    {
        std::lock_guard lock(m_mutex);
        m_bStopping = true;
        m_bAbort = true;
    }
    m_cvWork.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_bRunning = false;
}

HRESULT SpeechEngine::OpenVoice(ULONG* pVoice) {
    std::lock_guard life(m_lifeMutex);
    if (!m_bRunning) {
        {
            std::lock_guard lock(m_mutex);
            m_bStartDone = false;
            m_bStopping = false;
        }
        m_thread = std::thread([this] { Run(); });
        HRESULT hr;
        {
            std::unique_lock lock(m_mutex);
            m_cvDone.wait(lock, [this] { return m_bStartDone; });
            hr = m_hrStart;
        }
        if (FAILED(hr)) {
            m_thread.join(); // the thread ends after a failed start
            return hr;
        }
        m_bRunning = true;
    }
    std::lock_guard lock(m_mutex);
    ULONG voice = m_nextVoice++;
    m_voices[voice] = VoiceState{};
    *pVoice = voice;
    return S_OK;
}

void SpeechEngine::CloseVoice(ULONG voice) {
    std::lock_guard life(m_lifeMutex);
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_queue.begin(); it != m_queue.end();)
            it = it->voice == voice ? m_queue.erase(it) : it + 1;
        if (m_bSpeaking && m_current.voice == voice)
            m_bAbort = true;
        m_voices.erase(voice);
    }
    m_cvWork.notify_all();
    m_cvDone.notify_all();
}

ULONG SpeechEngine::Queue(Utterance utterance, bool bPurgeFirst) {
    ULONG stream;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_voices.find(utterance.voice);
        if (it == m_voices.end())
            return 0;
        if (bPurgeFirst) {
            for (auto q = m_queue.begin(); q != m_queue.end();) {
                if (q->voice == utterance.voice) {
                    q = m_queue.erase(q);
                    --it->second.pending;
                } else {
                    ++q;
                }
            }
            if (m_bSpeaking && m_current.voice == utterance.voice)
                m_bAbort = true;
        }
        stream = ++it->second.lastStream;
        ++it->second.pending;
        utterance.stream = stream;
        m_queue.push_back(std::move(utterance));
    }
    m_cvWork.notify_all();
    return stream;
}

void SpeechEngine::Purge(ULONG voice) {
    {
        std::lock_guard lock(m_mutex);
        auto it = m_voices.find(voice);
        if (it == m_voices.end())
            return;
        for (auto q = m_queue.begin(); q != m_queue.end();) {
            if (q->voice == voice) {
                q = m_queue.erase(q);
                --it->second.pending;
            } else {
                ++q;
            }
        }
        if (m_bSpeaking && m_current.voice == voice)
            m_bAbort = true;
    }
    m_cvWork.notify_all();
    m_cvDone.notify_all();
}

bool SpeechEngine::Wait(ULONG voice, DWORD dwMilliseconds) {
    std::unique_lock lock(m_mutex);
    auto done = [this, voice] {
        if (voice == 0)
            return m_queue.empty() && !m_bSpeaking;
        auto it = m_voices.find(voice);
        return it == m_voices.end() || it->second.pending == 0;
    };
    if (dwMilliseconds == INFINITE) {
        m_cvDone.wait(lock, done);
        return true;
    }
    return m_cvDone.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), done);
}

void SpeechEngine::Pause(ULONG voice) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_voices.find(voice); it != m_voices.end())
        it->second.paused = true;
}

void SpeechEngine::Resume(ULONG voice) {
    {
        std::lock_guard lock(m_mutex);
        if (auto it = m_voices.find(voice); it != m_voices.end())
            it->second.paused = false;
    }
    m_cvWork.notify_all();
}

VoiceStatus SpeechEngine::Status(ULONG voice) {
    std::lock_guard lock(m_mutex);
    VoiceStatus status;
    if (auto it = m_voices.find(voice); it != m_voices.end()) {
        status.lastStreamQueued = it->second.lastStream;
        status.pending = it->second.pending;
    }
    if (m_bSpeaking && m_current.voice == voice)
        status.currentStream = m_current.stream;
    return status;
}

std::string SpeechEngine::LastFile() {
    std::lock_guard lock(m_mutex);
    return m_lastFile;
}

HRESULT SpeechEngine::InitializeOnThread() {
    std::string error;
    if (!m_pEspeak) {
        m_pEspeak = LoadEspeak(&error);
        if (!m_pEspeak) {
            std::fprintf(stderr, "speech: espeak-ng cannot be loaded: %s\n", error.c_str());
            return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
        }
    }
    // Without its data espeak-ng would end the process unless told not to.
    int sampleRate = m_pEspeak->Initialize(AUDIO_OUTPUT_SYNCHRONOUS, kBufferMilliseconds, nullptr,
                                           espeakINITIALIZE_DONT_EXIT);
    const char* name = std::getenv("SENTREL_SPEECH_VOICE");
    if (!name || !*name)
        name = "en";
    // A missing voice file shows only here: espeak-ng reports a sample rate regardless.
    if (sampleRate <= 0 || m_pEspeak->SetVoiceByName(name) != EE_OK) {
        std::fprintf(stderr, "speech: espeak-ng has no voice data for \"%s\"\n", name);
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    m_sampleRate = sampleRate;
    m_pEspeak->SetSynthCallback(&OnEspeakSamples);
    return S_OK;
}

void SpeechEngine::Run() {
    HRESULT hr = InitializeOnThread();
    {
        std::lock_guard lock(m_mutex);
        m_hrStart = hr;
        m_bStartDone = true;
    }
    m_cvDone.notify_all();
    if (FAILED(hr))
        return;

    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cvWork.wait(lock, [this] { return m_bStopping || !m_queue.empty(); });
        if (m_bStopping)
            break;
        Utterance utterance = std::move(m_queue.front());
        m_queue.pop_front();
        m_current = {utterance.voice, utterance.stream};
        m_bSpeaking = true;
        m_bAbort = false;
        lock.unlock();
        if (HoldWhilePaused())
            Speak(utterance);
        lock.lock();
        m_bSpeaking = false;
        if (auto it = m_voices.find(utterance.voice); it != m_voices.end())
            --it->second.pending;
        m_cvDone.notify_all();
    }
    lock.unlock();
    if (m_pDevice) {
        m_pAudio->Destroy(m_pDevice);
        m_pDevice = nullptr;
    }
}

bool SpeechEngine::HoldWhilePaused() {
    std::unique_lock lock(m_mutex);
    m_cvWork.wait(lock, [this] {
        if (m_bAbort || m_bStopping)
            return true;
        auto it = m_voices.find(m_current.voice);
        return it == m_voices.end() || !it->second.paused;
    });
    return !m_bAbort && !m_bStopping;
}

bool SpeechEngine::ProbeDevice() {
    if (m_bDeviceProbed)
        return m_pDevice != nullptr;
    m_bDeviceProbed = true;
    m_pAudio = LoadAudio();
    if (!m_pAudio)
        return false;
    const char* device = std::getenv("SENTREL_SPEECH_DEVICE");
    SetAlsaQuiet(true);
    m_pDevice =
        m_pAudio->CreateDevice(device && *device ? device : nullptr, "sentrel", "Sentrel speech");
    if (m_pDevice && m_pAudio->Open(m_pDevice, AUDIO_OBJECT_FORMAT_S16LE, m_sampleRate, 1) == 0) {
        m_pAudio->Close(m_pDevice);
    } else if (m_pDevice) {
        m_pAudio->Destroy(m_pDevice);
        m_pDevice = nullptr;
    }
    SetAlsaQuiet(false);
    return m_pDevice != nullptr;
}

void SpeechEngine::Speak(const Utterance& utterance) {
    if (!HasSomethingToSay(utterance.text))
        return;
    const EspeakRate rate = EspeakRateFor(utterance.rate);
    m_pEspeak->SetParameter(espeakRATE, rate.wordsPerMinute, 0);

    Synthesis synthesis;
    synthesis.utterance = &utterance;
    synthesis.toDevice = utterance.settings.output == Output::Auto && ProbeDevice() &&
                         m_pAudio->Open(m_pDevice, AUDIO_OBJECT_FORMAT_S16LE, m_sampleRate, 1) == 0;
    // A stretched text is stretched whole, then played.
    synthesis.collect = !synthesis.toDevice || rate.stretch > 1.0;
    m_pSynthesis = &synthesis;
    m_pEspeak->Synth(utterance.text.c_str(), utterance.text.size() + 1, 0, POS_CHARACTER, 0,
                     espeakCHARS_UTF8, nullptr, nullptr);
    m_pSynthesis = nullptr;
    if (rate.stretch > 1.0 && !(m_bAbort || m_bStopping))
        synthesis.samples =
            TimeStretch(synthesis.samples, rate.stretch, static_cast<unsigned>(m_sampleRate));
    if (synthesis.toDevice && synthesis.collect) {
        // In pieces, so that a purge or a stop is heard to take effect soon.
        const size_t piece = static_cast<size_t>(m_sampleRate) * kBufferMilliseconds / 1000;
        for (size_t at = 0; at < synthesis.samples.size() && !m_bAbort && !m_bStopping;
             at += piece) {
            if (!HoldWhilePaused())
                break;
            const size_t n = std::min(piece, synthesis.samples.size() - at);
            m_pAudio->Write(m_pDevice, synthesis.samples.data() + at, n * sizeof(int16_t));
        }
    }

    const bool aborted = m_bAbort || m_bStopping;
    if (synthesis.toDevice) {
        if (aborted)
            m_pAudio->Flush(m_pDevice);
        else
            m_pAudio->Drain(m_pDevice);
        m_pAudio->Close(m_pDevice);
    } else if (!aborted) {
        WriteSpoolFile(utterance, synthesis.samples);
    }
}

int SpeechEngine::OnSamples(const short* wav, int numsamples) {
    Synthesis* synthesis = m_pSynthesis;
    if (!synthesis || !wav)
        return 0;
    if (!HoldWhilePaused())
        return 1;
    const int volume = synthesis->utterance->volume;
    std::vector<int16_t> piece(wav, wav + numsamples);
    for (int16_t& s : piece)
        s = static_cast<int16_t>(s * volume / 100);
    if (!synthesis->collect) {
        if (!piece.empty())
            m_pAudio->Write(m_pDevice, piece.data(), piece.size() * sizeof(int16_t));
    } else {
        synthesis->samples.insert(synthesis->samples.end(), piece.begin(), piece.end());
    }
    return 0;
}

void SpeechEngine::WriteSpoolFile(const Utterance& utterance, const std::vector<int16_t>& samples) {
    const std::string& folder = utterance.settings.spoolFolder;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    unsigned number;
    {
        std::lock_guard lock(m_mutex);
        number = ++m_fileCount;
    }
    char name[96];
    std::snprintf(name, sizeof name, "speech-%s-%ld-%06u.wav", stamp, static_cast<long>(getpid()),
                  number);
    const std::string path = folder + "/" + name;
    std::string error;
    if (!WriteWavFile(path, samples, static_cast<uint32_t>(m_sampleRate), &error)) {
        // Nobody waits for an answer from this thread; standard error is the one place left.
        std::fprintf(stderr, "speech: %s\n", error.c_str());
        return;
    }
    std::lock_guard lock(m_mutex);
    m_lastFile = path;
}

} // namespace winplat::speech
