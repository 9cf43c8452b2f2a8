#include "codec/encoder/lsp_quantiser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "codec/tables/lsp_quantiser_tables.h"
#include "codec/tables/builtin_table_set.h"

namespace g7231 {
namespace {

using Lsp = std::array<std::int16_t, kLpcOrder>;

TEST(LspQuantiser, MeanVectorCodesAsIndexZeroAndDecodesUnchanged) {
  Lsp lsp = kLspMean;
  EXPECT_EQ(quantise_lsp(kBuiltinTableSet, lsp, kLspMean), 0);
  Lsp out{};
  dequantise_lsp(kBuiltinTableSet, out, kLspMean, 0, 0);
  EXPECT_EQ(out, kLspMean);
}

// mean + codebook rows + 0.375 (prev - mean) codes as those rows (band 0 in the top byte) and decodes back
// to itself; prev is only read.
// A vector made of codebook rows plus the prediction from prev is coded as rows holding exactly those
// values (the first such row where rows repeat) and decoded back unchanged, whenever its frequencies keep
// the spacing the decoder enforces.
TEST(LspQuantiser, VectorOnCodebookRowsRoundTrips) {
  Lsp moved = kLspMean;
  for (std::size_t j = 0; j < kLpcOrder; ++j) moved[j] = static_cast<std::int16_t>(kLspMean[j] + 800 - 150 * j);
  const auto well_spaced = [](const Lsp& v) {
    if (v[0] < 384 || v[9] > 32256) return false;
    for (std::size_t j = 1; j < kLpcOrder; ++j) {
      if (v[j] - v[j - 1] < 256) return false;
    }
    return true;
  };

  int checked = 0;
  for (std::size_t k = 0; k < 256; ++k) {
    const std::size_t r0 = k;
    const std::size_t r1 = (k * 37 + 11) % 256;
    const std::size_t r2 = (k * 101 + 7) % 256;
    for (const Lsp& prev : {kLspMean, moved}) {
      Lsp lsp = kLspMean;
      for (std::size_t j = 0; j < 3; ++j) lsp[j] += kBuiltinTableSet.lsp_band0[r0][j];
      for (std::size_t j = 0; j < 3; ++j) lsp[3 + j] += kBuiltinTableSet.lsp_band1[r1][j];
      for (std::size_t j = 0; j < 4; ++j) lsp[6 + j] += kBuiltinTableSet.lsp_band2[r2][j];
      for (std::size_t j = 0; j < kLpcOrder; ++j) lsp[j] += ((prev[j] - kLspMean[j]) * kLspPredictor + 0x4000) >> 15;
      if (!well_spaced(lsp)) continue;
      const Lsp expected = lsp;
      const Lsp prev_before = prev;

      const std::int32_t index = quantise_lsp(kBuiltinTableSet, lsp, prev);
      EXPECT_EQ(prev, prev_before);
      EXPECT_EQ(kBuiltinTableSet.lsp_band0[static_cast<std::size_t>(index >> 16)], kBuiltinTableSet.lsp_band0[r0]) << std::hex << index;
      EXPECT_EQ(kBuiltinTableSet.lsp_band1[static_cast<std::size_t>((index >> 8) & 0xFF)], kBuiltinTableSet.lsp_band1[r1]);
      EXPECT_EQ(kBuiltinTableSet.lsp_band2[static_cast<std::size_t>(index & 0xFF)], kBuiltinTableSet.lsp_band2[r2]);
      for (std::size_t r = 0; r < static_cast<std::size_t>(index >> 16); ++r) {
        EXPECT_NE(kBuiltinTableSet.lsp_band0[r], kBuiltinTableSet.lsp_band0[r0]) << "an earlier equal row must win";
      }
      Lsp out{};
      dequantise_lsp(kBuiltinTableSet, out, prev, index, 0);
      EXPECT_EQ(out, expected) << std::hex << index;
      ++checked;
    }
  }
  EXPECT_GE(checked, 20);
}

// Row 0 is all zero and scores exactly 0 for a zero target; an all-zero row after it (should a set hold
// one) can only tie, and a tie keeps the earlier row.
TEST(LspBandSearch, ZeroTargetKeepsRowZero) {
  Lsp w;
  w.fill(20000);
  EXPECT_EQ(search_lsp_bands(kBuiltinTableSet, Lsp{}, w), 0);
}

TEST(LspWeights, InverseOfTheSmallerGapScaledToFullRange) {
  Lsp even;  // equal gaps of 2000: 32/2000 in Q15 is 524, scaled by 2^5
  for (std::size_t i = 0; i < kLpcOrder; ++i) even[i] = static_cast<std::int16_t>(1000 + 2000 * i);
  Lsp w;
  lsp_weights(w, even);
  for (std::int16_t v : w) EXPECT_EQ(v, 524 << 5);

  // Gaps of 32 or less, out-of-order pairs included, weigh 32767, so nothing is rescaled.
  lsp_weights(w, Lsp{1000, 2000, 2033, 4000, 4032, 6000, 7000, 6990, 9000, 10000});
  EXPECT_EQ(w, (Lsp{1048, 31775, 31775, 32767, 32767, 1048, 32767, 32767, 1048, 1048}));
}

}  // namespace
}  // namespace g7231
