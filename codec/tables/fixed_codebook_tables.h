// Constants of the fixed codebooks of both rates.
#pragma once

#include <array>
#include <cstdint>

namespace g7231 {

// Gain levels of the fixed-codebook excitation, in the excitation's own scale, rising by about 1.45 a step.
inline constexpr std::size_t kFcbGainLevels = 24;
inline constexpr std::array<std::int16_t, kFcbGainLevels> kFcbGainTable = {
    1, 2, 3, 4, 6, 9, 13, 18, 26, 38, 55, 80, 115, 166, 240, 348, 502, 726, 1050, 1517, 2193, 3170, 4582, 6623};

// Pulses per subframe at 6.3 kbit/s (also the comfort-noise excitation's).
inline constexpr std::array<std::int16_t, 4> kMpmlqPulseCount = {6, 5, 6, 5};

}  // namespace g7231
