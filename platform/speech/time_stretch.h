// Slowing speech down by time, not by pitch: the samples are cut into overlapping windows
// that are laid out further apart, each placed where it best continues the last one.
#pragma once

#include <cstdint>
#include <vector>

namespace winplat::speech {

// The samples played factor times as long (factor >= 1), at the same pitch. A factor of 1
// or less gives them back as they are.
std::vector<int16_t> TimeStretch(const std::vector<int16_t>& samples, double factor,
                                 unsigned sampleRate);

} // namespace winplat::speech
