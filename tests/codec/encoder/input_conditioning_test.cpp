#include "codec/encoder/input_conditioning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using Frame = std::array<std::int16_t, kFrameSamples>;

Frame constant_frame(std::int16_t v) {
  Frame f;
  f.fill(v);
  return f;
}

TEST(RemoveDc, ConstantInputStartsAtHalfAndDecaysBy127Over128) {
  std::int16_t prev_in = 0;
  std::int32_t prev_out = 0;
  Frame f = constant_frame(10000);
  remove_dc(f, prev_in, prev_out, true);

  EXPECT_EQ(f[0], 5000);
  EXPECT_EQ(prev_in, 10000);
  for (std::size_t n = 0; n < f.size(); ++n) {
    const double expected = 5000.0 * std::pow(127.0 / 128.0, static_cast<double>(n));
    EXPECT_NEAR(f[n], expected, 1.0) << "n = " << n;
    if (n > 0) {
      EXPECT_LE(f[n], f[n - 1]);
    }
  }

  // The state carries the decay on into the next frame, down to zero.
  for (int frame = 0; frame < 10; ++frame) {
    f = constant_frame(10000);
    remove_dc(f, prev_in, prev_out, true);
  }
  EXPECT_TRUE(std::ranges::all_of(f, [](std::int16_t v) { return v == 0; }));
}

TEST(RemoveDc, FirstSampleIsHalfRoundedUp) {
  for (const auto& [x, half] : {std::pair<std::int16_t, std::int16_t>{3, 2}, {-3, -1}, {1, 1}, {-1, 0},
                               {32767, 16384}, {-32768, -16384}}) {
    std::int16_t prev_in = 0;
    std::int32_t prev_out = 0;
    Frame f = constant_frame(x);
    remove_dc(f, prev_in, prev_out, true);
    EXPECT_EQ(f[0], half) << "x = " << x;
  }
}

// The filter's operator chain, sample by sample.
void stepwise_remove_dc(Frame& f, std::int16_t& prev_in, std::int32_t& prev_out) {
  for (std::int16_t& x : f) {
    const std::int32_t acc = fx::mac32(fx::mult32_16x16(x, 0x4000), prev_in, -16384);
    prev_in = x;
    prev_out = fx::add32(acc, fx::mult32_32x16(prev_out, 0x7F00));
    x = fx::round32_to16(prev_out);
  }
}

// Saturation of the state at either end, the rounding's saturation, and states on either side of the
// bound under which the frame is filtered without saturation checks.
TEST(RemoveDc, MatchesTheStepwiseFilterAtTheSaturationLimits) {
  constexpr std::int32_t kEdge = 0x7FFF8000 - (16384 << 16) - 128;  // the bound, for max |x| = 16384
  struct Case {
    std::int16_t prev_in;
    std::int32_t prev_out;
    std::int16_t a, b;  // the frame alternates a, b every 20 samples
  };
  for (const Case& c : {Case{-32768, 0, 32767, -32768}, Case{32767, fx::kMin32, -32768, 32767},
                        Case{0, fx::kMax32, 32767, 32767}, Case{0, fx::kMax32 - 0x8000, 0, 0},
                        Case{16384, kEdge - 1, 16384, 16384}, Case{16384, kEdge, 16384, 16384},
                        Case{-16384, -kEdge + 1, -16384, 16384}, Case{-16384, -kEdge, -16384, 16384}}) {
    Frame f;
    for (std::size_t n = 0; n < f.size(); ++n) f[n] = (n / 20) % 2 ? c.b : c.a;
    Frame want = f;
    std::int16_t in = c.prev_in, want_in = c.prev_in;
    std::int32_t out = c.prev_out, want_out = c.prev_out;
    remove_dc(f, in, out, true);
    stepwise_remove_dc(want, want_in, want_out);
    EXPECT_EQ(f, want) << c.prev_in << " " << c.prev_out << " " << c.a << " " << c.b;
    EXPECT_EQ(in, want_in);
    EXPECT_EQ(out, want_out);
  }
}

TEST(RemoveDc, WithoutTheFilterHalvesTowardMinusInfinityAndLeavesTheStateAlone) {
  std::int16_t prev_in = 1234;
  std::int32_t prev_out = -56789;
  Frame f{};
  const std::array<std::int16_t, 8> in = {-1, 1, 3, -3, 32767, -32768, 0, 2};
  const std::array<std::int16_t, 8> out = {-1, 0, 1, -2, 16383, -16384, 0, 1};
  std::ranges::copy(in, f.begin());
  remove_dc(f, prev_in, prev_out, false);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), f.begin()));
  EXPECT_EQ(prev_in, 1234);
  EXPECT_EQ(prev_out, -56789);
}

TEST(NormalizeBlock, Extremes) {
  std::vector<std::int16_t> zero(385, 0);
  EXPECT_EQ(normalize_block(zero), -3);
  EXPECT_TRUE(std::ranges::all_of(zero, [](std::int16_t v) { return v == 0; }));

  std::vector<std::int16_t> tiny = {0, 1, -1, 0, 1};
  EXPECT_EQ(normalize_block(tiny), 11);
  EXPECT_EQ(tiny, (std::vector<std::int16_t>{0, 2048, -2048, 0, 2048}));

  // -32768 counts as 32767: divide by 8, floored.
  std::vector<std::int16_t> full = {-32768, 7, -7, 32767, -1, 8};
  EXPECT_EQ(normalize_block(full), -3);
  EXPECT_EQ(full, (std::vector<std::int16_t>{-4096, 0, -1, 4095, -1, 1}));
}

TEST(NormalizeBlock, LargestMagnitudeEndsWithThreeBitsOfHeadroom) {
  std::mt19937 rng(7);
  for (int peak_bits = 0; peak_bits <= 15; ++peak_bits) {
    const int peak = peak_bits == 15 ? 32767 : 1 << peak_bits;
    std::uniform_int_distribution<int> dist(-peak, peak);
    std::vector<std::int16_t> block(180);
    for (auto& v : block) v = static_cast<std::int16_t>(dist(rng));
    block[17] = static_cast<std::int16_t>(peak_bits % 2 == 0 ? peak : -peak);
    const std::vector<std::int16_t> before = block;

    const std::int16_t e = normalize_block(block);
    int largest = 0;
    for (std::size_t n = 0; n < block.size(); ++n) {
      const std::int32_t expected = e >= 0 ? before[n] * (1 << e) : before[n] >> -e;  // floor for e < 0
      ASSERT_EQ(block[n], expected) << "peak " << peak << ", n = " << n;
      largest = std::max(largest, std::abs(int{block[n]}));
    }
    EXPECT_GE(largest, 2048) << "peak " << peak;
    EXPECT_LE(largest, 4096) << "peak " << peak;  // 4096 only from flooring a negative sample
  }
}

TEST(ShiftAnalysisHistory, DelaysTheFrameByOneSubframe) {
  std::array<std::int16_t, kAnalysisHistorySamples> history{};
  Frame f;
  std::iota(f.begin(), f.end(), std::int16_t{1});  // 1..240

  // First frame: 60 samples of the initial (zero) history, then the frame's first 180 samples.
  shift_analysis_history(history, f);
  for (std::size_t n = 0; n < 60; ++n) EXPECT_EQ(f[n], 0);
  for (std::size_t n = 60; n < 240; ++n) EXPECT_EQ(f[n], static_cast<std::int16_t>(n - 59));
  for (std::size_t n = 0; n < 120; ++n) EXPECT_EQ(history[n], static_cast<std::int16_t>(121 + n));

  // Next frame continues the same delayed signal.
  std::iota(f.begin(), f.end(), std::int16_t{241});  // 241..480
  shift_analysis_history(history, f);
  for (std::size_t n = 0; n < 240; ++n) EXPECT_EQ(f[n], static_cast<std::int16_t>(181 + n));
  for (std::size_t n = 0; n < 120; ++n) EXPECT_EQ(history[n], static_cast<std::int16_t>(361 + n));
}

}  // namespace
}  // namespace g7231
