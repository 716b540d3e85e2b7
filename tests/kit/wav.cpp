#include "wav.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace testkit {

namespace {

uint32_t Le(const std::string& bytes, size_t at, int width) {
    if (at + width > bytes.size())
        throw std::runtime_error("WAV file cut short");
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

} // namespace

int Wav::Peak() const {
    int peak = 0;
    for (int16_t s : samples)
        peak = std::max(peak, std::abs(int(s)));
    return peak;
}

double Wav::Rms() const {
    if (samples.empty())
        return 0;
    double sum = 0;
    for (int16_t s : samples)
        sum += double(s) * s;
    return std::sqrt(sum / samples.size());
}

Wav ReadWav(const std::filesystem::path& path) {
    const std::string bytes = ReadFile(path);
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        throw std::runtime_error(path.string() + " is not a RIFF/WAVE file");
    if (Le(bytes, 4, 4) + 8 != bytes.size())
        throw std::runtime_error(path.string() + ": RIFF size does not match the file");
    Wav wav;
    bool haveFormat = false;
    bool haveData = false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::string tag = bytes.substr(at, 4);
        const uint32_t size = Le(bytes, at + 4, 4);
        const size_t body = at + 8;
        if (body + size > bytes.size())
            throw std::runtime_error(path.string() + ": chunk " + tag + " runs past the end");
        if (tag == "fmt ") {
            if (Le(bytes, body, 2) != 1)
                throw std::runtime_error(path.string() + ": not PCM");
            wav.channels = static_cast<uint16_t>(Le(bytes, body + 2, 2));
            wav.sampleRate = Le(bytes, body + 4, 4);
            wav.bitsPerSample = static_cast<uint16_t>(Le(bytes, body + 14, 2));
            if (wav.bitsPerSample != 16 || wav.channels == 0)
                throw std::runtime_error(path.string() + ": not 16-bit PCM");
            haveFormat = true;
        } else if (tag == "data") {
            if (!haveFormat)
                throw std::runtime_error(path.string() + ": data before format");
            const size_t frame = 2u * wav.channels;
            for (size_t i = 0; i + frame <= size; i += frame)
                wav.samples.push_back(static_cast<int16_t>(Le(bytes, body + i, 2)));
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    if (!haveData)
        throw std::runtime_error(path.string() + ": no data chunk");
    return wav;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name))
        m_old = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (m_old)
        setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

SpeechSpool::SpeechSpool()
    : m_folder("SENTREL_SPEECH_SPOOL", m_dir.path().c_str()),
      m_output("SENTREL_SPEECH_OUTPUT", "spool") {}

std::vector<std::filesystem::path> SpeechSpool::Files() const {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        if (entry.path().extension() == ".wav")
            files.push_back(entry.path());
    // Names carry the time and a number that grows with every file of the process.
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        auto number = [](const std::filesystem::path& p) {
            std::string stem = p.stem().string();
            return std::stoul(stem.substr(stem.rfind('-') + 1));
        };
        return number(a) < number(b);
    });
    return files;
}

} // namespace testkit
