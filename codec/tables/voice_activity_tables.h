// Constants of the voice activity detector.
#pragma once

#include <array>
#include <cstdint>

namespace g7231 {

// Threshold factor by noise-level octave: equal for the lowest levels, then about 1 dB (x1.122) a step,
// so that the factor falls as the noise rises.
inline constexpr std::array<std::int16_t, 11> kVadThresholdTable = {9170,  9170,  9170,  9170,  10289, 11544,
                                                                    12953, 14533, 16306, 18296, 20529};

}  // namespace g7231
