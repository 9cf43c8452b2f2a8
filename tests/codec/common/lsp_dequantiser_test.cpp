// Inverse LSP quantisation: stabilisation of close or out-of-range frequencies, the fallback to the
// previous vector, and the erased path.
#include "codec/common/lsp_dequantiser.h"
#include "codec/tables/builtin_table_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "codec/tables/lsp_quantiser_tables.h"

namespace g7231 {
namespace {

using Lsp = std::array<std::int16_t, kLpcOrder>;

TEST(LspStabilisation, LeavesSpacedVectorsAloneAndRepairsCloseOnes) {
  const Lsp fallback{};
  Lsp edge;  // gaps of exactly the spacing, ends on the bounds
  for (std::size_t i = 0; i < kLpcOrder; ++i) edge[i] = static_cast<std::int16_t>(384 + 512 * i);
  edge[9] = 32256;
  Lsp v = edge;
  EXPECT_TRUE(stabilise_lsp(v, fallback, 512));
  EXPECT_EQ(v, edge);

  v = kLspMean;
  v[0] = 100;                                  // below the lowest bound
  v[4] = static_cast<std::int16_t>(v[3] + 253);  // within tolerance, still widened by half the shortfall
  v[6] = v[5];                                 // coincident
  v[9] = 32700;                                // above the highest bound
  Lsp expected = v;
  expected[0] = 384;
  expected[3] -= 1;
  expected[4] += 1;
  expected[5] -= 128;
  expected[6] += 128;
  expected[9] = 32256;
  EXPECT_TRUE(stabilise_lsp(v, fallback, 256));
  EXPECT_EQ(v, expected);
}

// Five frequencies 128 apart need exactly ten passes; 120 apart would need eleven.
TEST(LspStabilisation, GivesUpForTheFallbackAfterTenPasses) {
  for (const std::int16_t gap : {std::int16_t{128}, std::int16_t{120}}) {
    Lsp v;
    for (std::size_t i = 0; i < kLpcOrder; ++i) {
      v[i] = static_cast<std::int16_t>(i < 5 ? 5000 + gap * i : 5000 + gap * 4 + 3000 * (i - 4));
    }
    EXPECT_EQ(stabilise_lsp(v, kLspMean, 256), gap == 128);
    if (gap == 120) {
      EXPECT_EQ(v, kLspMean);
    }
    for (std::size_t j = 1; j < kLpcOrder; ++j) EXPECT_GE(v[j] - v[j - 1], 252);
  }
}

// A previous vector whose predicted share crowds the frequencies around 15000 cannot be repaired; its last
// deviation from the mean saturates, yet the decoder returns the caller's vector exactly.
TEST(LspDequantiser, UnrepairableVectorFallsBackToThePrevious) {
  Lsp prev;
  for (std::size_t j = 0; j < kLpcOrder; ++j) {
    prev[j] = static_cast<std::int16_t>(std::clamp(kLspMean[j] + (15000 - kLspMean[j]) * 8 / 3, -32768, 32767));
  }
  ASSERT_LT(prev[9] - kLspMean[9], -32768);
  Lsp out{};
  dequantise_lsp(kBuiltinTableSet, out, prev, 0, 0);
  EXPECT_EQ(out, prev);
}

// Erased: the index is ignored, the result is mean + 0.71875 (prev - mean), and the spacing is 512.
TEST(LspDequantiser, ErasedFrameIgnoresTheIndexAndLeansOnThePrevious) {
  Lsp prev = kLspMean;
  prev[1] = 3065;   // 4721 + round(-1656 * 0.71875) = 3531, 400 above coefficient 0
  prev[5] = 17495;  // 16495 + round(1000 * 0.71875) = 17214
  Lsp expected = kLspMean;
  expected[0] = 3131 - 56;
  expected[1] = 3531 + 56;
  expected[5] = 17214;
  for (const std::int32_t index : {0, 0x0102FF, 0xFFFFFF}) {
    Lsp out{};
    dequantise_lsp(kBuiltinTableSet, out, prev, index, 1);
    EXPECT_EQ(out, expected) << index;
  }
}

}  // namespace
}  // namespace g7231
