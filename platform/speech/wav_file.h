// Utterances as WAV files: 16-bit mono PCM behind the 44-byte RIFF header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winplat::speech {

// The whole file: header and samples, little-endian.
std::vector<uint8_t> WavImage(const std::vector<int16_t>& samples, uint32_t sampleRate);

// Writes the file under a temporary name in its folder and renames it into place, so a
// reader never sees half an utterance. False, with the reason in *pError, on failure.
bool WriteWavFile(const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate,
                  std::string* pError);

} // namespace winplat::speech
