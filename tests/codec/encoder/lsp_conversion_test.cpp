// LPC-to-LSP conversion: its generated tables, the root search on known filters, the placing of a root
// between two grid points, and the fallback when the search comes up short.
#include "codec/encoder/lsp_conversion.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "codec/tables/cosine_table.h"
#include "codec/tables/lsp_conversion_tables.h"

namespace g7231 {
namespace {

using Vec = std::array<std::int16_t, kLpcOrder>;

TEST(LspConversionTables, CosineTableFollowsItsFormula) {
  EXPECT_EQ(kCosineTable[0], 16384);
  EXPECT_EQ(kCosineTable[1], 16383);
  EXPECT_EQ(kCosineTable[2], 16379);
  EXPECT_EQ(kCosineTable[3], 16373);
  EXPECT_EQ(kCosineTable[128], 0);
  EXPECT_EQ(kCosineTable[256], -16384);
  for (std::size_t i = 0; i < kCosineTableSize; ++i) {
    const double x = 2.0 * std::numbers::pi * static_cast<double>(i) / 512.0;
    EXPECT_EQ(kCosineTable[i], std::lround(16384.0 * std::cos(x))) << "entry " << i;
  }
}

TEST(LspConversionTables, BandwidthExpansionFollowsItsFormula) {
  EXPECT_EQ(kBandwidthExpansion, (Vec{32571, 32376, 32182, 31989, 31797, 31606, 31416, 31228, 31040, 30854}));
  for (std::size_t i = 0; i < kLpcOrder; ++i) {
    EXPECT_EQ(kBandwidthExpansion[i], std::lround(32768.0 * std::pow(0.994, static_cast<double>(i + 1))));
  }
}

TEST(LpcToLsp, KnownFilters) {
  const Vec unused_fallback{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Vec lsp{};

  // A(z) = 1: the roots split the band into 11 equal parts.
  lpc_to_lsp(lsp, Vec{}, unused_fallback);
  EXPECT_EQ(lsp, (Vec{2979, 5958, 8936, 11915, 14894, 17873, 20852, 23831, 26809, 29788}));

  // The filter of the long-term mean LSP vector comes back close to that vector.
  lpc_to_lsp(lsp, Vec{6798, -4183, 4180, -3778, 2915, -3231, 1891, -2172, 1428, -1052}, unused_fallback);
  EXPECT_EQ(lsp, (Vec{3112, 4751, 7699, 10812, 13869, 16510, 19745, 22277, 25478, 27754}));
}

TEST(LpcToLsp, RootIsPlacedByLinearInterpolation) {
  // Halfway between grid points 9 and 10.
  EXPECT_EQ(locate_lsp_root(-1000, 1000, 10), 9 * 128 + 64);
  EXPECT_EQ(locate_lsp_root(3000, -1000, 10), 9 * 128 + 96);
  // A value of exactly 0 counts as positive: after a negative value the root sits on the grid point
  // itself, before a negative value on the previous one.
  EXPECT_EQ(locate_lsp_root(-123456, 0, 10), 10 * 128);
  EXPECT_EQ(locate_lsp_root(0, -123456, 10), 9 * 128);
}

TEST(LpcToLsp, FallsBackWhenTheFilterHasTooFewRoots) {
  // A zero outside the unit circle (A(z) = 1 - 2 z^-1) leaves the search short; the output may be the
  // fallback vector itself, and it is kept whole.
  Vec v{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  lpc_to_lsp(v, Vec{16384, 0, 0, 0, 0, 0, 0, 0, 0, 0}, v);
  EXPECT_EQ(v, (Vec{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  Vec saturated{};
  saturated.fill(32767);
  lpc_to_lsp(v, saturated, v);
  EXPECT_EQ(v, (Vec{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  // With all 10 roots found the same call replaces it.
  lpc_to_lsp(v, Vec{}, v);
  EXPECT_EQ(v, (Vec{2979, 5958, 8936, 11915, 14894, 17873, 20852, 23831, 26809, 29788}));
}

// Filters whose search meets grid values where the saturating evaluation chain clips: the roots (or the
// fallback) are those of the operator-by-operator chain, whichever way the values are computed.
TEST(LpcToLsp, SaturatingEvaluationsDecideAsTheChainDoes) {
  const Vec fallback{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  struct Case {
    Vec lpc;
    Vec lsp;
  };
  const Case cases[] = {
      // A clipped value places the second root.
      {{248, 4455, -1737, 287, 2777, 1707, -4959, -435, 5936, -1387},
       {1424, 5371, 7730, 13447, 13654, 15857, 22954, 23452, 29904, 30518}},
      {{-4269, -97, -961, 4082, 4902, 4432, 2645, -1483, 41, -1698},
       {732, 5932, 11487, 12794, 14998, 18340, 21527, 24274, 30023, 30144}},
      // Clipped values leave the search short of ten roots.
      {{8577, 10216, -14994, -3836, 18548, -8176, -15203, 6091, 2973, -5766}, fallback},
  };
  for (const Case& c : cases) {
    Vec lsp{};
    lpc_to_lsp(lsp, c.lpc, fallback);
    EXPECT_EQ(lsp, c.lsp);
  }
}

}  // namespace
}  // namespace g7231
