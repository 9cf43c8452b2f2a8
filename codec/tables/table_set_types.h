// Shapes of the encoder's table set: the nine tables whose values are not fixed by a formula. Their values
// live in the swappable data unit codec/tables/table_set.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/common/constants.h"

namespace g7231 {

inline constexpr std::size_t kLspCodebookRows = 256;

// A split-VQ codebook of LSP residuals: 256 rows of one band's width; row 0 is all zero.
template <std::size_t Width>
using LspCodebook = std::array<std::array<std::int16_t, Width>, kLspCodebookRows>;

// A pitch-gain table entry: five tap gains b0..b4 (Q14, tap t weighing the excitation lag + 2 - t samples
// back), then -b_t*b_t/16384 for t = 0..4, then -b_t*b_u/16384 for (t, u) = (1,0), (2,0), (2,1), (3,0),
// (3,1), (3,2), (4,0), (4,1), (4,2), (4,3), each derived value within one unit of the formula.
using AcbGainEntry = std::array<std::int16_t, 20>;
template <std::size_t Entries>
using AcbGainTable = std::array<AcbGainEntry, Entries>;

inline constexpr std::size_t kAcbShortLagEntries = 85;   // 6.3 kbit/s, lags below 58
inline constexpr std::size_t kAcbEntries = 170;          // otherwise
inline constexpr std::int16_t kSharpOff = 60;            // sharpening lag offset that switches it off

// Which pitch-gain (and taming) table a lag uses: the 85-entry tables only at 6.3 kbit/s for lags below 58,
// the 170-entry tables otherwise.
constexpr bool uses_short_lag_tables(bool low_rate, std::int16_t lag) { return !low_rate && lag < kShortLagLimit; }

// The tap pairs of an entry's cross terms, in storage order.
inline constexpr std::array<std::array<std::size_t, 2>, 10> kAcbTapPairs = {
    {{1, 0}, {2, 0}, {2, 1}, {3, 0}, {3, 1}, {3, 2}, {4, 0}, {4, 1}, {4, 2}, {4, 3}}};

// An entry from its five taps, the fifteen derived values truncated toward zero.
constexpr AcbGainEntry acb_gain_entry(const std::array<std::int16_t, 5>& b) {
  AcbGainEntry e{};
  for (std::size_t t = 0; t < 5; ++t) {
    e[t] = b[t];
    e[5 + t] = static_cast<std::int16_t>(-(b[t] * b[t]) / 16384);
  }
  for (std::size_t p = 0; p < kAcbTapPairs.size(); ++p) {
    e[10 + p] = static_cast<std::int16_t>(-(b[kAcbTapPairs[p][0]] * b[kAcbTapPairs[p][1]]) / 16384);
  }
  return e;
}

}  // namespace g7231
