// The encoder's table set: the tables whose values are not fixed by a formula and are set by this project
// (the LSP codebooks, the pitch-gain, taming and sharpening tables). Only their sizes, layouts, a few rows
// and some structural rules are known; decoders built against another set will not decode our bitstreams
// correctly. This file is the one unit to swap to install another set: replace it and rebuild.
//
// PLACEHOLDER SET, pending our trained set. It makes a coder that runs but codes poorly:
// - each LSP codebook holds only its zero first row and the three published rows (1, 2 and 255);
// - each pitch-gain table holds its zero entry 0, its published entry 1 and its last entry's published
//   taps with their derived values; every other entry is zero;
// - each taming table holds its published first four and last four values, the entries between them
//   interpolated linearly (rounded down), so that it is non-decreasing;
// - the sharpening tables hold the offset 60 (sharpening off, gain 0) at the 22 published positions and
//   their published first and last entries; every other entry has offset 0 and gain 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/tables/table_set_types.h"

namespace g7231 {

namespace table_set_detail {

// A codebook that is zero but for rows 1, 2 and 255.
template <std::size_t Width>
constexpr LspCodebook<Width> sparse_codebook(const std::array<std::int16_t, Width>& row1,
                                             const std::array<std::int16_t, Width>& row2,
                                             const std::array<std::int16_t, Width>& row255) {
  LspCodebook<Width> book{};
  book[1] = row1;
  book[2] = row2;
  book[255] = row255;
  return book;
}

template <std::size_t Entries>
constexpr AcbGainTable<Entries> sparse_gain_table(const AcbGainEntry& entry1, const std::array<std::int16_t, 5>& last) {
  AcbGainTable<Entries> table{};
  table[1] = entry1;
  table[Entries - 1] = acb_gain_entry(last);
  return table;
}

// Non-decreasing table from its first four and last four values, linear (rounded down) in between.
template <std::size_t Entries>
constexpr std::array<std::int16_t, Entries> interpolated_taming_table(const std::array<std::int16_t, 4>& first,
                                                                      const std::array<std::int16_t, 4>& last) {
  std::array<std::int16_t, Entries> table{};
  constexpr std::size_t lo = 3;
  constexpr std::size_t hi = Entries - 4;
  for (std::size_t i = 0; i < 4; ++i) {
    table[i] = first[i];
    table[hi + i] = last[i];
  }
  for (std::size_t i = lo + 1; i < hi; ++i) {
    const long span = static_cast<long>(last[0]) - first[3];
    table[i] = static_cast<std::int16_t>(first[3] + span * static_cast<long>(i - lo) / static_cast<long>(hi - lo));
  }
  return table;
}

// Sharpening tables: 60 (off) at the published positions, the published first and last entries, else 0.
struct SharpeningTables {
  std::array<std::int16_t, 170> lag_offset{};
  std::array<std::int16_t, 170> gain{};
};
constexpr SharpeningTables sparse_sharpening_tables() {
  SharpeningTables t{};
  constexpr std::array<std::size_t, 22> off = {0,   2,   32,  46,  63,  71,  89,  112, 122, 124, 127,
                                               132, 135, 144, 150, 152, 155, 156, 160, 161, 164, 166};
  for (std::size_t i : off) t.lag_offset[i] = 60;
  constexpr std::array<std::int16_t, 8> first_offsets = {60, 0, 60, 0, 1, 0, 0, 1};
  constexpr std::array<std::int16_t, 6> first_gains = {0, 2489, 0, 5217, 6171, 3953};
  constexpr std::array<std::int16_t, 4> last_offsets = {60, -2, -2, 0};
  constexpr std::array<std::int16_t, 4> last_gains = {0, 31253, 25144, 17998};
  for (std::size_t i = 0; i < first_offsets.size(); ++i) t.lag_offset[i] = first_offsets[i];
  for (std::size_t i = 0; i < first_gains.size(); ++i) t.gain[i] = first_gains[i];
  for (std::size_t i = 0; i < 4; ++i) {
    t.lag_offset[166 + i] = last_offsets[i];
    t.gain[166 + i] = last_gains[i];
  }
  return t;
}
inline constexpr SharpeningTables kSharpening = sparse_sharpening_tables();

}  // namespace table_set_detail

// LSP residual codebooks of the three bands (coefficients 0-2, 3-5, 6-9), 256 rows each, row 0 all zero.
inline constexpr LspCodebook<3> kLspBand0Codebook =
    table_set_detail::sparse_codebook<3>({-270, -1372, -1032}, {-541, -1650, -1382}, {1693, 4793, 6012});
inline constexpr LspCodebook<3> kLspBand1Codebook =
    table_set_detail::sparse_codebook<3>({-2114, -1302, 76}, {-2652, -1278, -1368}, {4035, 5334, 4912});
inline constexpr LspCodebook<4> kLspBand2Codebook =
    table_set_detail::sparse_codebook<4>({601, 512, -542, 334}, {428, 1087, -484, -132}, {2923, 3517, 2567, 1318});


// Pitch-gain tables of the five-tap long-term predictor: 85 entries (6.3 kbit/s, lags below 58) and 170
// entries (otherwise). Entry 0 is all zero (no prediction).
inline constexpr AcbGainTable<85> kAcbGainTable85 = table_set_detail::sparse_gain_table<85>(
    {800, 1496, 167, -256, -338, -39, -136, -1, -4, -6, -73, -8, -15, 12, 23, 2, 16, 30, 3, -5},
    {5881, 9176, 8119, 3934, 3355});
inline constexpr AcbGainTable<170> kAcbGainTable170 = table_set_detail::sparse_gain_table<170>(
    {776, 212, 715, 670, 809, -36, -2, -31, -27, -39, -10, -33, -9, -31, -8, -29, -38, -10, -35, -33},
    {5297, 8374, 8872, 7694, 6538});

// Amplification bound (Q13) of each pitch-gain entry, non-decreasing along the entry index.
inline constexpr std::array<std::int16_t, 85> kTamingGain85 =
    table_set_detail::interpolated_taming_table<85>({1024, 1308, 1906, 2291}, {11425, 11670, 14629, 15255});
inline constexpr std::array<std::int16_t, 170> kTamingGain170 =
    table_set_detail::interpolated_taming_table<170>({1024, 1591, 1678, 1891}, {13815, 14100, 14198, 18409});


// 5.3 kbit/s pitch sharpening, indexed by the subframe's 170-entry pitch-gain entry: a lag correction in
// -2..2, or 60 to switch sharpening off, and the sharpening gain (Q15).
inline constexpr std::array<std::int16_t, 170> kSharpLagOffset = table_set_detail::kSharpening.lag_offset;
inline constexpr std::array<std::int16_t, 170> kSharpGain = table_set_detail::kSharpening.gain;

}  // namespace g7231
