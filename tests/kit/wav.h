// Reading the WAV files the speech voice writes, and measuring them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testkit.h"

namespace testkit {

struct Wav {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
    std::vector<int16_t> samples; // 16-bit PCM, first channel

    double Seconds() const { return sampleRate ? double(samples.size()) / sampleRate : 0; }
    int Peak() const;   // largest absolute sample
    double Rms() const; // root mean square over all samples
};

// Parses a 16-bit PCM RIFF/WAVE file (chunks in any order, unknown chunks skipped). Throws
// std::runtime_error, naming the problem, for anything else.
Wav ReadWav(const std::filesystem::path& path);

// Sets an environment variable (null: removes it) for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Sends the speech voice's output of this process into WAV files in a fresh folder, whatever
// sound device the machine has, for the life of the object.
class SpeechSpool {
public:
    SpeechSpool();
    const std::filesystem::path& path() const { return m_dir.path(); }
    // The finished WAV files, in the order they were written.
    std::vector<std::filesystem::path> Files() const;

private:
    TempDir m_dir;
    ScopedEnv m_folder;
    ScopedEnv m_output;
};

} // namespace testkit
