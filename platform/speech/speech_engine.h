// The process's one speech thread. espeak-ng keeps all its state in globals and is not
// thread-safe, so every call into it is made on this thread; the voices only queue texts.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <winplat/winerror.h>

struct audio_object;

namespace winplat::speech {

struct EspeakLibrary;
struct AudioLibrary;

enum class Output {
    Auto,  // the sound device when there is one, else the spool folder
    Spool, // always a WAV file in the spool folder
};

// Where the text of one Speak call goes, decided on the caller's thread when it is queued.
struct OutputSettings {
    Output output = Output::Auto;
    std::string spoolFolder; // absolute POSIX path
};
OutputSettings ReadOutputSettings();

struct Utterance {
    ULONG voice = 0;
    ULONG stream = 0;
    std::string text; // UTF-8
    LONG rate = 0;
    USHORT volume = 100;
    OutputSettings settings;
};

// espeak-ng's speed for a rate of -10..10: each step multiplies the speed by the tenth root
// of 3. Below espeak-ng's slowest speed (80 words a minute) the text is spoken at the normal
// speed and its samples are stretched in time by the whole factor, so that -10 is three
// times as long as 0 for any text, a single letter as much as a sentence.
struct EspeakRate {
    int wordsPerMinute;
    double stretch; // 1: the samples as espeak-ng makes them
};
EspeakRate EspeakRateFor(LONG rate);

struct VoiceStatus {
    ULONG currentStream = 0;
    ULONG lastStreamQueued = 0;
    ULONG pending = 0; // texts queued or being spoken
};

class SpeechEngine {
public:
    static SpeechEngine& Instance();
    ~SpeechEngine();

    // Starts the speech thread and espeak-ng when they are not running yet and enters a new
    // voice. Fails when espeak-ng or its voice data cannot be loaded.
    HRESULT OpenVoice(ULONG* pVoice);
    // Drops what the voice has queued or is speaking and forgets it.
    void CloseVoice(ULONG voice);

    // Queues a text; with bPurgeFirst the voice's earlier texts are dropped first, in the
    // same step. Returns the text's stream number.
    ULONG Queue(Utterance utterance, bool bPurgeFirst);
    void Purge(ULONG voice);
    // Waits until the voice (0: every voice) has nothing queued or being spoken.
    bool Wait(ULONG voice, DWORD dwMilliseconds);
    void Pause(ULONG voice);
    void Resume(ULONG voice);
    VoiceStatus Status(ULONG voice);
    std::string LastFile();

    // espeak-ng's synthesis callback lands here (speech thread only); non-zero stops the
    // synthesis.
    int OnSamples(const short* wav, int numsamples);

private:
    struct VoiceState {
        ULONG lastStream = 0;
        ULONG pending = 0;
        bool paused = false;
    };
    struct Current {
        ULONG voice = 0;
        ULONG stream = 0;
    };
    // What the synthesis callback works with while one utterance is being spoken.
    struct Synthesis {
        const Utterance* utterance = nullptr;
        bool toDevice = false;
        bool collect = false; // samples gathered here rather than played as they come
        std::vector<int16_t> samples;
    };

    SpeechEngine() = default;
    void Run();
    HRESULT InitializeOnThread();
    void Speak(const Utterance& utterance);
    bool ProbeDevice();
    // Holds the thread while the current text's voice is paused; false when the text is to
    // be dropped.
    bool HoldWhilePaused();
    void WriteSpoolFile(const Utterance& utterance, const std::vector<int16_t>& samples);
    void Stop();

    std::mutex m_lifeMutex; // start of the thread, voices coming and going
    std::mutex m_mutex;     // everything below
    std::condition_variable m_cvWork;
    std::condition_variable m_cvDone;
    std::deque<Utterance> m_queue;
    std::map<ULONG, VoiceState> m_voices;
    Current m_current;
    bool m_bSpeaking = false;
    bool m_bStopping = false;
    std::atomic<bool> m_bAbort{false};
    ULONG m_nextVoice = 1;
    unsigned m_fileCount = 0;
    std::string m_lastFile;

    // Start-up handshake with the thread.
    bool m_bStartDone = false;
    HRESULT m_hrStart = S_OK;
    std::thread m_thread;
    bool m_bRunning = false;

    // Speech thread only.
    const EspeakLibrary* m_pEspeak = nullptr;
    const AudioLibrary* m_pAudio = nullptr;
    int m_sampleRate = 0;
    bool m_bDeviceProbed = false;
    audio_object* m_pDevice = nullptr;
    Synthesis* m_pSynthesis = nullptr;
};

} // namespace winplat::speech
