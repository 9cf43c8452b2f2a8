#include "codec/encoder/formant_weighting.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "codec/tables/formant_weighting_tables.h"

namespace g7231 {
namespace {

using Frame = std::array<std::int16_t, kFrameSamples>;
using Coefs = std::array<std::int16_t, kSubframes * kWeightingCoefs>;
using Memory = std::array<std::int16_t, kLpcOrder>;

TEST(FormantWeighting, FactorsAndCoefficients) {
  EXPECT_EQ(kWeightingZeroFactors, (Memory{29491, 26542, 23888, 21499, 19349, 17414, 15673, 14106, 12695, 11425}));
  EXPECT_EQ(kWeightingPoleFactors, (Memory{16384, 8192, 4096, 2048, 1024, 512, 256, 128, 64, 32}));

  std::array<std::int16_t, kSubframes * kLpcOrder> lpc{};
  for (std::size_t j = 0; j < kLpcOrder; ++j) {
    lpc[j] = 8192;               // subframe 0: 1.0 in Q13
    lpc[kLpcOrder + j] = -8192;  // subframe 1: -1.0
  }
  Coefs coef;
  coef.fill(-1);
  weighting_filter_coefficients(coef, lpc);
  EXPECT_EQ(coef[0], 7373);  // 7372.75, rounded
  EXPECT_EQ(coef[9], 2856);  // 2856.25
  EXPECT_EQ(coef[10], 4096);
  EXPECT_EQ(coef[19], 8);
  EXPECT_EQ(coef[20], -7373);
  EXPECT_EQ(coef[39], -8);
  EXPECT_EQ(coef[40], 0);
}

TEST(FormantWeighting, ZeroCoefficientsPassTheSignalAndFillTheMemories) {
  Frame frame;
  for (std::size_t n = 0; n < kFrameSamples; ++n) frame[n] = static_cast<std::int16_t>((n * 7919) % 65536 - 32768);
  frame[238] = 32767;
  frame[239] = -32768;
  const Frame input = frame;
  Memory fir{}, iir{};
  apply_formant_weighting(frame, Coefs{}, fir, iir);
  EXPECT_EQ(frame, input);
  for (std::size_t j = 0; j < kLpcOrder; ++j) {
    EXPECT_EQ(fir[j], input[kFrameSamples - 1 - j]);  // most recent first
    EXPECT_EQ(iir[j], input[kFrameSamples - 1 - j]);
  }
}

// An impulse at the end of one call or subframe rings on through the memories, filtered with the
// coefficients of the subframe that each output belongs to.
TEST(FormantWeighting, MemoriesCarryAcrossSubframesAndCalls) {
  Coefs coef{};
  coef[kWeightingCoefs] = 4096;                  // subframe 1: y(n) = x(n) - 0.5 x(n-1)
  Memory fir{}, iir{};
  Frame frame{};
  frame[59] = 1000;
  frame[119] = 1000;
  frame[239] = 1000;
  apply_formant_weighting(frame, coef, fir, iir);
  EXPECT_EQ(frame[60], -500);
  EXPECT_EQ(frame[120], 0);

  coef[kWeightingCoefs] = 0;
  coef[kLpcOrder] = 4096;  // subframe 0 of the next call: y(n) = x(n) + 0.5 y(n-1)
  frame.fill(0);
  apply_formant_weighting(frame, coef, fir, iir);
  EXPECT_EQ(frame[0], 500);  // 500.5 and 250.5 truncate, 62.5 rounds up
  EXPECT_EQ(frame[1], 250);
  EXPECT_EQ(frame[3], 63);
}

// Full-scale input through large coefficients clips to the rail of the input's sign, never wraps.
TEST(FormantWeighting, FullScaleInputSaturatesWithoutWrapping) {
  Coefs boost{}, diff{};
  for (std::size_t s = 0; s < kSubframes; ++s) {
    diff[kWeightingCoefs * s] = 32767;  // y(n) = x(n) - 4 x(n-1)
    for (std::size_t j = 0; j < kLpcOrder; ++j) {
      boost[kWeightingCoefs * s + j] = -32768;
      boost[kWeightingCoefs * s + kLpcOrder + j] = 32767;
    }
  }
  for (const std::int16_t level : {std::int16_t{32767}, std::int16_t{-32768}}) {
    Frame frame;
    frame.fill(level);
    const Frame input = frame;
    Memory fir{}, iir{};
    apply_formant_weighting(frame, boost, fir, iir);
    EXPECT_EQ(frame, input);
  }
  Frame frame;
  for (std::size_t n = 0; n < kFrameSamples; ++n) frame[n] = n % 2 == 0 ? std::int16_t{32767} : std::int16_t{-32768};
  const Frame input = frame;
  Memory fir{}, iir{};
  apply_formant_weighting(frame, diff, fir, iir);
  EXPECT_EQ(frame, input);
}

}  // namespace
}  // namespace g7231
