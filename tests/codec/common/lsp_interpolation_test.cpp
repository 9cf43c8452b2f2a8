// LSP interpolation and LSP-to-LPC conversion: known vectors, agreement with a floating-point expansion of
// the LSP polynomials, frequencies outside the usual range, sums that clip, and the subframe blends.
#include "codec/common/lsp_interpolation.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <random>
#include <utility>

#include "codec/encoder/lsp_conversion.h"
#include "codec/tables/lsp_quantiser_tables.h"

namespace g7231 {
namespace {

using Vec = std::array<std::int16_t, kLpcOrder>;
constexpr Vec kFlatLsp{2979, 5958, 8936, 11915, 14894, 17873, 20852, 23831, 26809, 29788};

Vec to_lpc(Vec v) {
  lsp_to_lpc(v);
  return v;
}

// LPC coefficients (Q13, unrounded) of an LSP vector: A(z) = ((1 + z^-1) P(z) + (1 - z^-1) Q(z)) / 2 with
// P and Q the products of 1 - 2 cos(w) z^-1 + z^-2 over the even- and odd-indexed frequencies.
std::array<double, kLpcOrder> reference_lpc(const Vec& lsp) {
  std::array<double, kLpcOrder + 1> p{1.0};
  std::array<double, kLpcOrder + 1> q{1.0};
  const auto multiply = [](std::array<double, kLpcOrder + 1>& poly, double w) {
    const double c = -2.0 * std::cos(w);
    for (std::size_t i = poly.size() - 1; i >= 1; --i) poly[i] += c * poly[i - 1] + (i >= 2 ? poly[i - 2] : 0.0);
  };
  for (std::size_t k = 0; k < kLpcOrder / 2; ++k) {
    multiply(p, lsp[2 * k] * std::numbers::pi / 32768.0);
    multiply(q, lsp[2 * k + 1] * std::numbers::pi / 32768.0);
  }
  std::array<double, kLpcOrder> a{};
  for (std::size_t i = 1; i <= kLpcOrder; ++i) {
    a[i - 1] = -((p[i] + p[i - 1]) + (q[i] - q[i - 1])) / 2.0 * 8192.0;
  }
  return a;
}

TEST(LspToLpc, KnownVectors) {
  EXPECT_EQ(to_lpc(kFlatLsp), (Vec{0, -2, 0, -3, 0, -1, 0, 2, 0, 0}));
  EXPECT_EQ(to_lpc(kLspMean), (Vec{6798, -4183, 4180, -3778, 2915, -3231, 1891, -2172, 1428, -1052}));
}

TEST(LspToLpc, AgreesWithThePolynomialExpansionAndConvertsBack) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> jitter(-1000, 1000);
  for (int trial = 0; trial < 2000; ++trial) {
    Vec lsp{};
    for (std::size_t i = 0; i < kLpcOrder; ++i) lsp[i] = static_cast<std::int16_t>(kFlatLsp[i] + jitter(rng));
    const Vec lpc = to_lpc(lsp);
    const auto expected = reference_lpc(lsp);
    for (std::size_t i = 0; i < kLpcOrder; ++i) ASSERT_NEAR(lpc[i], expected[i], 6.0) << "trial " << trial;

    // Back within one grid step; the bandwidth expansion moves the roots slightly.
    Vec back{};
    lpc_to_lsp(back, lpc, Vec{});
    for (std::size_t i = 0; i < kLpcOrder; ++i) ASSERT_LE(std::abs(back[i] - lsp[i]), 128) << "trial " << trial;
  }
}

TEST(LspToLpc, NegativeFrequenciesReadTheCosineOfTheSameAngle) {
  // -x is read as 2 pi - x, whose cosine is that of x; -32768 is read as pi.
  Vec mirrored = kFlatLsp;
  mirrored[0] = -2979;
  mirrored[9] = -32768;
  Vec plain = kFlatLsp;
  plain[9] = 32767;
  const Vec a = to_lpc(mirrored);
  const Vec b = to_lpc(plain);
  for (std::size_t i = 0; i < kLpcOrder; ++i) EXPECT_NEAR(a[i], b[i], 2) << i;
}

// Frequencies bunched at one end make the polynomial sums leave the 32-bit range, where each step clips;
// alternating ends and clusters clip some coefficients only. The outputs the step-by-step operators give.
TEST(LspToLpc, SumsOutOfRangeClipAsTheStepsDo) {
  struct Case {
    const char* what;
    Vec lsp;
    Vec lpc;
  };
  const Case cases[] = {
      {"all zero", Vec{}, Vec{32767, -32767, 32767, -32767, 32767, -32767, 32767, -32767, 32767, -8192}},
      {"bunched low", Vec{100, 200, 300, 400, 500, 600, 700, 800, 900, 1000},
       Vec{32767, -32767, 32767, -32767, 32767, -32767, 32767, -32767, 32767, -8171}},
      {"bunched high", Vec{31800, 31900, 32000, 32100, 32200, 32300, 32400, 32500, 32600, 32700},
       Vec{-32767, -32767, -32767, -32767, -32767, 0, 0, 0, -32767, -8173}},
      {"all -32768", Vec{-32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768},
       Vec{-32767, -32767, -32767, -32767, -32767, 0, 0, 0, -32767, -8192}},
      {"alternating ends", Vec{0, 32767, 0, 32767, 0, 32767, 0, 32767, 0, 32767},
       Vec{0, -32767, 0, 0, 0, 0, 0, 32767, 0, 32767}},
      {"five bunched, five spread", Vec{10, 20, 30, 40, 50, 20000, 24000, 26000, 28000, 30000},
       Vec{10927, 19640, -32767, -32767, -32767, -32767, -32767, -32767, -1213, 4401}},
  };
  for (const Case& c : cases) EXPECT_EQ(to_lpc(c.lsp), c.lpc) << c.what;
}

// A fixed sweep of 100000 vectors (any 16-bit values, ascending ones, ones bunched at either end), hashed:
// the hash of the outputs the step-by-step operators give.
TEST(LspToLpc, SweepMatchesTheSteps) {
  std::mt19937 rng(99);
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (int trial = 0; trial < 100000; ++trial) {
    Vec v;
    for (std::size_t i = 0; i < kLpcOrder; ++i) {
      const std::uint32_t bits = rng();
      switch (trial % 4) {
        case 0: v[i] = static_cast<std::int16_t>(bits); break;
        case 1: v[i] = static_cast<std::int16_t>(bits % 4096 + 3000 * i); break;
        case 2: v[i] = static_cast<std::int16_t>(bits % 2048); break;
        default: v[i] = static_cast<std::int16_t>(32767 - bits % 2048); break;
      }
    }
    lsp_to_lpc(v);
    for (const std::int16_t x : v) {
      for (int b = 0; b < 2; ++b) hash = (hash ^ ((static_cast<std::uint16_t>(x) >> (8 * b)) & 0xFF)) * 0x100000001b3ull;
    }
  }
  EXPECT_EQ(hash, 15903602979387311505ull);
}

// A negative frequency in either vector (never an LSP, but a 16-bit value) takes the saturating steps.
TEST(InterpolateLsp, NegativeFrequenciesBlendAsTheStepsDo) {
  const Vec prev{-32768, 5958, 8936, 11915, 14894, 17873, 20852, 23831, 26809, 32767};
  const Vec cur{2979, -100, 8936, 11915, 14894, 17873, 20852, 23831, 26809, 29788};
  std::array<std::int16_t, kSubframes * kLpcOrder> lpc{};
  interpolate_lsp(lpc, cur, prev);
  EXPECT_EQ(lpc, (std::array<std::int16_t, kSubframes * kLpcOrder>{
                     -12967, -23781, -32767, -32767, -32767, -32767, -32767, -32767, -26972, -13481,
                     -5962,  -10660, -16841, -19363, -23926, -23103, -23857, -19066, -15029, -7424,
                     112,    523,    -753,   -894,   -3308,  -3498,  -5363,  -4442,  -4242,  -2049,
                     1300,   2186,   2381,   1815,   678,    -679,   -1818,  -2379,  -2188,  -1300}));
}

TEST(InterpolateLsp, SubframesBlendTowardsTheCurrentVector) {
  for (const auto& [prev, cur] : {std::pair{kLspMean, kFlatLsp}, std::pair{kFlatLsp, kLspMean}}) {
    std::array<std::int16_t, kSubframes * kLpcOrder> lpc{};
    interpolate_lsp(lpc, cur, prev);
    for (std::size_t s = 0; s < kSubframes; ++s) {
      // Subframe s takes (3 - s)/4 of prev and (s + 1)/4 of cur, rounded half up.
      Vec blend{};
      for (std::size_t j = 0; j < kLpcOrder; ++j) {
        const int sum = static_cast<int>(3 - s) * prev[j] + static_cast<int>(s + 1) * cur[j];
        blend[j] = static_cast<std::int16_t>((sum + 2) >> 2);
      }
      const Vec expected = to_lpc(blend);
      for (std::size_t j = 0; j < kLpcOrder; ++j) EXPECT_EQ(lpc[s * kLpcOrder + j], expected[j]) << s << "," << j;
    }
    for (std::size_t j = 0; j < kLpcOrder; ++j) EXPECT_EQ(lpc[3 * kLpcOrder + j], to_lpc(cur)[j]);
  }
}

}  // namespace
}  // namespace g7231
