// Constants of the comfort-noise (SID) parameter coder.
#pragma once

#include <array>
#include <cstdint>

namespace g7231 {

// Averaging factor (Q15) for n = 1, 2, 3 residual energies: 998 / n. Entry 0 is unused.
inline constexpr std::array<std::int16_t, 4> kSidGainFactor = {273, 998, 499, 333};

// The SID gain is coded in three segments of levels: 0..32 in steps of 2, 32..96 in steps of 4 and
// 96..344 in steps of 8; these are the energies at which the segments start and the top of the last.
inline constexpr std::array<std::int32_t, 3> kSidGainSegmentBounds = {2048, 18432, 231233};
inline constexpr std::array<std::int16_t, 3> kSidGainSegmentBase = {0, 32, 96};

// A gain index within this many steps of the last transmitted one needs no new SID frame.
inline constexpr std::int16_t kSidGainThreshold = 3;

}  // namespace g7231
