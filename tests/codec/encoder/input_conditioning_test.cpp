#include "codec/encoder/input_conditioning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

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
