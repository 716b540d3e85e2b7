// WSOLA (waveform-similarity overlap-add): output windows follow one another at a fixed hop;
// the input window for each is taken near where the stretch puts it, shifted within a small
// range to the place whose start looks most like the natural continuation of the window
// before, so that the voice keeps its pitch and no clicks or echoes appear.
#include "speech/time_stretch.h"

#include <algorithm>
#include <cmath>

namespace winplat::speech {

std::vector<int16_t> TimeStretch(const std::vector<int16_t>& samples, double factor,
                                 unsigned sampleRate) {
    if (factor <= 1.0 || samples.empty() || sampleRate == 0)
        return samples;
    const size_t window = std::max<size_t>(64, sampleRate / 50); // 20 ms
    const size_t hop = window / 2;                               // synthesis hop, 50% overlap
    const size_t search = std::max<size_t>(8, sampleRate / 200); // +-5 ms
    const size_t inputLength = samples.size();
    const size_t outputLength = static_cast<size_t>(std::llround(inputLength * factor));

    std::vector<float> hann(window);
    for (size_t i = 0; i < window; ++i)
        hann[i] = 0.5f - 0.5f * std::cos(2.0f * float(M_PI) * float(i) / float(window));

    auto at = [&](long long i) -> float {
        return i >= 0 && static_cast<size_t>(i) < inputLength ? float(samples[i]) : 0.0f;
    };

    std::vector<float> out(outputLength + window, 0.0f);
    std::vector<float> weight(outputLength + window, 0.0f);
    long long previous = 0; // where the last window was taken from
    for (size_t outStart = 0; outStart < outputLength; outStart += hop) {
        const long long nominal = std::llround(double(outStart) / factor);
        long long best = nominal;
        if (outStart > 0) {
            // The continuation of the last window one hop on is the shape to match.
            const long long natural = previous + static_cast<long long>(hop);
            double bestScore = -1e300;
            for (long long shift = -static_cast<long long>(search);
                 shift <= static_cast<long long>(search); ++shift) {
                const long long candidate = nominal + shift;
                if (candidate < 0)
                    continue;
                double score = 0;
                for (size_t i = 0; i < hop; i += 2)
                    score += double(at(candidate + i)) * at(natural + i);
                if (score > bestScore) {
                    bestScore = score;
                    best = candidate;
                }
            }
        }
        for (size_t i = 0; i < window && outStart + i < out.size(); ++i) {
            out[outStart + i] += hann[i] * at(best + static_cast<long long>(i));
            weight[outStart + i] += hann[i];
        }
        previous = best;
    }

    std::vector<int16_t> result(outputLength);
    for (size_t i = 0; i < outputLength; ++i) {
        const float w = weight[i] > 1e-3f ? weight[i] : 1.0f;
        const float v = out[i] / w;
        result[i] = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }
    return result;
}

} // namespace winplat::speech
