// The vector accumulations must equal their step-by-step saturating chains for every input: the fast
// path may only be taken where it cannot differ.
#include "fixedpoint/block_ops.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace {

std::int32_t chain(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  std::int32_t acc = 0;
  for (std::size_t i = 0; i < a.size(); ++i) acc = fx::mac32(acc, a[i], b[i]);
  return acc;
}

std::int32_t half_chain(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  std::int32_t acc = 0;
  for (std::size_t i = 0; i < a.size(); ++i) acc = fx::add32(acc, fx::shr32(fx::mult32_16x16(a[i], b[i]), 1));
  return acc;
}

TEST(BlockOps, BlocksEqualTheirSaturatingChains) {
  std::mt19937 rng(31);
  int saturated = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const std::size_t n = 1 + rng() % 180;
    // Amplitudes from tiny to full scale, so that both the plain and the saturating path run.
    const int amp = std::array{16, 300, 3000, 12000, 32767}[rng() % 5];
    std::uniform_int_distribution<int> d(-amp, amp);
    std::vector<std::int16_t> a(n);
    std::vector<std::int16_t> b(n);
    for (std::size_t i = 0; i < n; ++i) {
      a[i] = static_cast<std::int16_t>(d(rng));
      b[i] = rng() % 7 == 0 ? a[i] : static_cast<std::int16_t>(d(rng));  // correlated stretches
    }
    if (trial % 97 == 0) a[rng() % n] = b[0] = -32768;
    if (trial % 89 == 0) a[0] = b[0] = -32768;  // the one product mult32_16x16 saturates
    const std::int32_t expected = chain(a, b);
    saturated += expected == fx::kMax32 || expected == fx::kMin32;
    const std::int64_t sa = fx::sum_of_squares(a);
    const std::int64_t sb = fx::sum_of_squares(b);
    ASSERT_EQ(fx::mac32_block(a, b, sa, sb), expected) << "trial " << trial;
    ASSERT_EQ(fx::half_mac32_block(a, b, sa, sb), half_chain(a, b)) << "trial " << trial;
  }
  EXPECT_GT(saturated, 10);
}

// Every length (the vector steps and the tail), full-scale runs included: the pairs of (-32768)^2 fill a
// 32-bit lane to 2^31.
TEST(BlockOps, SumOfSquaresIsExact) {
  std::mt19937 rng(5);
  for (std::size_t n = 0; n <= 40; ++n) {
    for (const int fill : {-32768, 32767, 0}) {
      std::vector<std::int16_t> v(n);
      for (auto& x : v) x = fill == 0 ? static_cast<std::int16_t>(rng()) : static_cast<std::int16_t>(fill);
      std::int64_t expected = 0;
      for (const std::int16_t x : v) expected += std::int64_t{x} * x;
      ASSERT_EQ(fx::sum_of_squares(v), expected) << n << " " << fill;
    }
  }
}

TEST(BlockOps, LargestAbs32IsTheLargestSaturatingMagnitude) {
  const std::vector<std::vector<std::int32_t>> cases = {
      {}, {0}, {-5, 3}, {fx::kMin32}, {7, fx::kMin32, 9}, {fx::kMax32, -1}, {-fx::kMax32}};
  for (const auto& v : cases) {
    std::int32_t expected = 0;
    for (const std::int32_t x : v) expected = std::max(expected, fx::abs32(x));
    EXPECT_EQ(fx::largest_abs32(v), expected);
  }
}

// The plain rounding to 16 bits at its one saturation (from 0x7FFF8000 up), the extremes and a sweep.
TEST(BlockOps, PlainRoundingEqualsRound32To16) {
  std::vector<std::int32_t> cases = {fx::kMin32, fx::kMin32 + 1, -0x8001, -0x8000, -1, 0, 0x7FFF, 0x8000,
                                     0x7FFF7FFF, 0x7FFF8000, fx::kMax32};
  for (std::int64_t x = fx::kMin32; x <= fx::kMax32; x += 65521) cases.push_back(static_cast<std::int32_t>(x));
  for (const std::int32_t x : cases) ASSERT_EQ(fx::round32_to16_plain(x), fx::round32_to16(x)) << x;
}

TEST(BlockOps, ProductBoundIsCauchySchwarz) {
  // 4 sa sb <= limit^2
  EXPECT_TRUE(fx::products_within(1 << 15, 1 << 15, 1 << 16));
  EXPECT_FALSE(fx::products_within((1 << 15) + 1, 1 << 15, 1 << 16));
  EXPECT_FALSE(fx::products_within(std::int64_t{1} << 30, std::int64_t{1} << 30));  // (-32768)^2 twice
}

}  // namespace

namespace {

// The closed forms of three operator chains, on every extreme pairing and random values.
TEST(BlockOps, ClosedFormsEqualTheirChains) {
  const std::array<std::int16_t, 9> extremes = {-32768, -32767, -16384, -1, 0, 1, 16384, 32766, 32767};
  std::mt19937 rng(57);
  std::uniform_int_distribution<int> d16(-32768, 32767);
  std::vector<std::array<std::int16_t, 3>> cases;
  for (std::int16_t p : extremes) {
    for (std::int16_t b : extremes) {
      for (std::int16_t v : extremes) cases.push_back({p, b, v});
    }
  }
  for (int i = 0; i < 200000; ++i) {
    cases.push_back({static_cast<std::int16_t>(d16(rng)), static_cast<std::int16_t>(d16(rng)),
                     static_cast<std::int16_t>(d16(rng))});
  }
  for (const auto& [p, b, v] : cases) {
    ASSERT_EQ(fx::mac_round16(p, b, v), fx::round32_to16(fx::mac32(fx::deposit_high(p), b, v))) << p << " " << b << " " << v;
    ASSERT_EQ(fx::msu_round16(p, b, v), fx::round32_to16(fx::msu32(fx::deposit_high(p), b, v))) << p << " " << b << " " << v;
  }
  std::vector<std::int32_t> accs = {fx::kMin32, fx::kMin32 + 1, -(1 << 29) - 1, -(1 << 29), -0x2001, -0x2000, -1, 0,
                                    0x1FFF,     0x2000,         (1 << 29) - 0x2001, (1 << 29) - 0x2000, (1 << 29), fx::kMax32};
  std::uniform_int_distribution<std::int32_t> d32(fx::kMin32, fx::kMax32);
  for (int i = 0; i < 200000; ++i) accs.push_back(i % 2 ? d32(rng) : d32(rng) >> 2);
  for (std::int32_t acc : accs) ASSERT_EQ(fx::round16_shl2(acc), fx::round32_to16(fx::shl32(acc, 2))) << acc;
}

}  // namespace
