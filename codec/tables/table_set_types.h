// Shapes of the encoder's table set: the nine tables whose values are not fixed by a formula, and the
// TableSet that holds them with what the stages derive from them. The built-in values live in the
// swappable data unit codec/tables/table_set.h (kBuiltinTableSet, codec/tables/builtin_table_set.h);
// other sets are loaded from text files (codec/tables/table_set_file.h).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "fixedpoint/block_ops.h"

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

// The sum of squares of a gain entry's values, for the exactness bound of the pitch-gain search.
constexpr std::int64_t acb_entry_squares(const AcbGainEntry& entry) {
  std::int64_t sum = 0;
  for (const std::int16_t v : entry) sum += std::int64_t{v} * v;
  return sum;
}

// The sum of a pitch-gain entry's magnitudes, for the second exactness bound of the pitch-gain search.
constexpr std::int32_t acb_entry_magnitudes(const AcbGainEntry& entry) {
  return static_cast<std::int32_t>(fx::sum_of_magnitudes(entry));
}

// A pitch-gain table in blocks of eight entries, the layout the vector search reads: values 2p and 2p + 1
// of the block's entry k at 16 p + 2 k, so that one load holds one value pair of eight entries. Entries
// past the table's end are zero.
using AcbGainBlock = std::array<std::int16_t, 160>;
template <std::size_t Entries>
using AcbGainBlocks = std::array<AcbGainBlock, (Entries + 7) / 8>;

constexpr void fill_acb_gain_blocks(std::span<const AcbGainEntry> table, std::span<AcbGainBlock> blocks) {
  for (AcbGainBlock& b : blocks) b.fill(0);
  for (std::size_t e = 0; e < table.size(); ++e) {
    for (std::size_t i = 0; i < table[e].size(); ++i) blocks[e / 8][16 * (i / 2) + 2 * (e % 8) + i % 2] = table[e][i];
  }
}

// The largest magnitude in a codebook, for the exactness bound of the LSP band search.
template <std::size_t Width>
constexpr std::int32_t largest_entry(const LspCodebook<Width>& book) {
  std::int32_t m = 0;
  for (const auto& row : book) {
    for (const std::int16_t v : row) m = std::max(m, v < 0 ? -std::int32_t{v} : std::int32_t{v});
  }
  return m;
}

// An LSP codebook with every row padded to four values (a 3-value row followed by a zero), the layout the
// band search reads: one row per 64-bit lane, the same steps for every band.
using LspPaddedCodebook = std::array<std::array<std::int16_t, 4>, kLspCodebookRows>;

template <std::size_t Width>
constexpr void pad_lsp_rows(const LspCodebook<Width>& book, LspPaddedCodebook& padded) {
  static_assert(Width <= 4);
  for (std::size_t r = 0; r < kLspCodebookRows; ++r) {
    padded[r].fill(0);
    for (std::size_t j = 0; j < Width; ++j) padded[r][j] = book[r][j];
  }
}

// A read-only view of the nine tables of a set, wherever they are held.
struct TableSetView {
  std::span<const std::array<std::int16_t, 3>, kLspCodebookRows> lsp_band0;
  std::span<const std::array<std::int16_t, 3>, kLspCodebookRows> lsp_band1;
  std::span<const std::array<std::int16_t, 4>, kLspCodebookRows> lsp_band2;
  std::span<const AcbGainEntry, kAcbShortLagEntries> acb_gain85;
  std::span<const AcbGainEntry, kAcbEntries> acb_gain170;
  std::span<const std::int16_t, kAcbShortLagEntries> taming_gain85;
  std::span<const std::int16_t, kAcbEntries> taming_gain170;
  std::span<const std::int16_t, kAcbEntries> sharp_lag_offset;
  std::span<const std::int16_t, kAcbEntries> sharp_gain;
};

// A complete table set by value: the nine tables, and what the stages derive from them, filled in by
// derive() (at compile time for the built-in set, at load for a set read from a file). Encoders and
// decoders refer to an immutable set.
struct TableSet {
  LspCodebook<3> lsp_band0{};  // LSP residual codebooks of the three bands; row 0 all zero
  LspCodebook<3> lsp_band1{};
  LspCodebook<4> lsp_band2{};
  AcbGainTable<kAcbShortLagEntries> acb_gain85{};  // pitch-gain tables (6.3 kbit/s short lags; otherwise)
  AcbGainTable<kAcbEntries> acb_gain170{};
  std::array<std::int16_t, kAcbShortLagEntries> taming_gain85{};  // error amplification bounds (Q13)
  std::array<std::int16_t, kAcbEntries> taming_gain170{};
  std::array<std::int16_t, kAcbEntries> sharp_lag_offset{};  // 5.3 kbit/s sharpening lag correction, or 60
  std::array<std::int16_t, kAcbEntries> sharp_gain{};        // and its gain (Q15)

  // Derived: each pitch-gain entry's sum of squares and sum of magnitudes, each LSP codebook's largest
  // magnitude, the pitch-gain tables in blocks and the LSP codebooks with padded rows.
  std::array<std::int64_t, kAcbShortLagEntries> acb_squares85{};
  std::array<std::int64_t, kAcbEntries> acb_squares170{};
  std::array<std::int32_t, kAcbShortLagEntries> acb_magnitudes85{};
  std::array<std::int32_t, kAcbEntries> acb_magnitudes170{};
  std::array<std::int32_t, 3> lsp_largest{};
  AcbGainBlocks<kAcbShortLagEntries> acb_blocks85{};  // the pitch-gain tables in the search's layout
  AcbGainBlocks<kAcbEntries> acb_blocks170{};
  std::array<LspPaddedCodebook, 3> lsp_padded{};  // the LSP codebooks in the band search's layout

  // Fills in the derived members from the nine tables.
  constexpr void derive() {
    for (std::size_t e = 0; e < kAcbShortLagEntries; ++e) acb_squares85[e] = acb_entry_squares(acb_gain85[e]);
    for (std::size_t e = 0; e < kAcbEntries; ++e) acb_squares170[e] = acb_entry_squares(acb_gain170[e]);
    for (std::size_t e = 0; e < kAcbShortLagEntries; ++e) acb_magnitudes85[e] = acb_entry_magnitudes(acb_gain85[e]);
    for (std::size_t e = 0; e < kAcbEntries; ++e) acb_magnitudes170[e] = acb_entry_magnitudes(acb_gain170[e]);
    lsp_largest = {largest_entry(lsp_band0), largest_entry(lsp_band1), largest_entry(lsp_band2)};
    fill_acb_gain_blocks(acb_gain85, acb_blocks85);
    fill_acb_gain_blocks(acb_gain170, acb_blocks170);
    pad_lsp_rows(lsp_band0, lsp_padded[0]);
    pad_lsp_rows(lsp_band1, lsp_padded[1]);
    pad_lsp_rows(lsp_band2, lsp_padded[2]);
  }

  constexpr TableSetView view() const {
    return {lsp_band0,     lsp_band1,      lsp_band2,        acb_gain85, acb_gain170,
            taming_gain85, taming_gain170, sharp_lag_offset, sharp_gain};
  }

  bool operator==(const TableSet&) const = default;
};

// A set holding the tables of a view, derived members filled in.
constexpr TableSet table_set_of(const TableSetView& v) {
  TableSet s;
  for (std::size_t i = 0; i < kLspCodebookRows; ++i) {
    s.lsp_band0[i] = v.lsp_band0[i];
    s.lsp_band1[i] = v.lsp_band1[i];
    s.lsp_band2[i] = v.lsp_band2[i];
  }
  for (std::size_t i = 0; i < kAcbShortLagEntries; ++i) {
    s.acb_gain85[i] = v.acb_gain85[i];
    s.taming_gain85[i] = v.taming_gain85[i];
  }
  for (std::size_t i = 0; i < kAcbEntries; ++i) {
    s.acb_gain170[i] = v.acb_gain170[i];
    s.taming_gain170[i] = v.taming_gain170[i];
    s.sharp_lag_offset[i] = v.sharp_lag_offset[i];
    s.sharp_gain[i] = v.sharp_gain[i];
  }
  s.derive();
  return s;
}

}  // namespace g7231
