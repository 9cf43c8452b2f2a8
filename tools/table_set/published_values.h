// The values published for the standard's table set: a few rows and entries of each table, the
// positions where sharpening is off, and two sums. The validator compares a set with them; the training
// tool's placeholder set is built from them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "codec/tables/table_set_types.h"

namespace g7231::tables::published {

template <std::size_t Width>
using Rows = std::array<std::pair<std::size_t, std::array<std::int16_t, Width>>, 3>;

inline constexpr Rows<3> kLspBand0Rows = {{{1, {-270, -1372, -1032}}, {2, {-541, -1650, -1382}}, {255, {1693, 4793, 6012}}}};
inline constexpr Rows<3> kLspBand1Rows = {{{1, {-2114, -1302, 76}}, {2, {-2652, -1278, -1368}}, {255, {4035, 5334, 4912}}}};
inline constexpr Rows<4> kLspBand2Rows = {
    {{1, {601, 512, -542, 334}}, {2, {428, 1087, -484, -132}}, {255, {2923, 3517, 2567, 1318}}}};

// Entry 1 of each pitch-gain table, and the taps of its last entry.
inline constexpr AcbGainEntry kAcbGain85Entry1 = {800, 1496, 167, -256, -338, -39, -136, -1, -4, -6,
                                                  -73, -8,   -15, 12,   23,   2,   16,   30, 3,  -5};
inline constexpr AcbGainEntry kAcbGain170Entry1 = {776, 212, 715, 670, 809, -36, -2,  -31, -27, -39,
                                                   -10, -33, -9,  -31, -8,  -29, -38, -10, -35, -33};
inline constexpr std::array<std::int16_t, 5> kAcbGain85LastTaps = {5881, 9176, 8119, 3934, 3355};
inline constexpr std::array<std::int16_t, 5> kAcbGain170LastTaps = {5297, 8374, 8872, 7694, 6538};

using Four = std::array<std::int16_t, 4>;
inline constexpr Four kTaming85First = {1024, 1308, 1906, 2291};
inline constexpr Four kTaming85Last = {11425, 11670, 14629, 15255};
inline constexpr Four kTaming170First = {1024, 1591, 1678, 1891};
inline constexpr Four kTaming170Last = {13815, 14100, 14198, 18409};

inline constexpr std::array<std::size_t, 22> kSharpOffPositions = {0,   2,   32,  46,  63,  71,  89,  112,
                                                                   122, 124, 127, 132, 135, 144, 150, 152,
                                                                   155, 156, 160, 161, 164, 166};
inline constexpr std::array<std::int16_t, 8> kSharpOffsetsFirst = {60, 0, 60, 0, 1, 0, 0, 1};
inline constexpr Four kSharpOffsetsLast = {60, -2, -2, 0};
inline constexpr std::array<std::int16_t, 6> kSharpGainsFirst = {0, 2489, 0, 5217, 6171, 3953};
inline constexpr Four kSharpGainsLast = {0, 31253, 25144, 17998};
inline constexpr long kSharpOffsetSum = 1331;
inline constexpr long kSharpGainSum = 3273113;

}  // namespace g7231::tables::published
