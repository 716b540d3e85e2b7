#include "speech/wav_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace winplat::speech {

namespace {

// Writes little-endian fields into a buffer sized beforehand.
class Writer {
public:
    explicit Writer(std::vector<uint8_t>& out) : m_out(out) {}
    void U16(uint16_t v) {
        m_out[m_at++] = static_cast<uint8_t>(v);
        m_out[m_at++] = static_cast<uint8_t>(v >> 8);
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void Tag(const char (&tag)[5]) {
        for (int i = 0; i < 4; ++i)
            m_out[m_at++] = static_cast<uint8_t>(tag[i]);
    }

private:
    std::vector<uint8_t>& m_out;
    size_t m_at = 0;
};

} // namespace

std::vector<uint8_t> WavImage(const std::vector<int16_t>& samples, uint32_t sampleRate) {
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    std::vector<uint8_t> out(44 + size_t(dataBytes));
    Writer w(out);
    w.Tag("RIFF");
    w.U32(36 + dataBytes);
    w.Tag("WAVE");
    w.Tag("fmt ");
    w.U32(16); // size of the format chunk
    w.U16(1);  // PCM
    w.U16(1);  // mono
    w.U32(sampleRate);
    w.U32(sampleRate * 2); // bytes per second
    w.U16(2);              // bytes per frame
    w.U16(16);             // bits per sample
    w.Tag("data");
    w.U32(dataBytes);
    for (int16_t s : samples)
        w.U16(static_cast<uint16_t>(s));
    return out;
}

bool WriteWavFile(const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate,
                  std::string* pError) {
    const std::vector<uint8_t> image = WavImage(samples, sampleRate);
    const std::string partial = path + ".part";
    int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *pError = "cannot create " + partial + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < image.size()) {
        ssize_t n = write(fd, image.data() + done, image.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *pError = "cannot write " + partial + ": " + std::strerror(errno);
            close(fd);
            unlink(partial.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 || std::rename(partial.c_str(), path.c_str()) != 0) {
        *pError = "cannot write " + path + ": " + std::strerror(errno);
        unlink(partial.c_str());
        return false;
    }
    return true;
}

} // namespace winplat::speech
