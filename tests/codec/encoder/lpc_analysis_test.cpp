#include "codec/encoder/lpc_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

#include "codec/tables/lpc_analysis_tables.h"

namespace g7231 {
namespace {

using Lpc = std::array<std::int16_t, kLpcOrder>;
using Corr = std::array<std::int16_t, kLpcOrder>;
using Frame = std::array<std::int16_t, kFrameSamples>;
using History = std::array<std::int16_t, kAnalysisHistorySamples>;
using FrameLpc = std::array<std::int16_t, kSubframes * kLpcOrder>;

template <class Range>
bool all_zero(const Range& r) {
  return std::ranges::all_of(r, [](auto v) { return v == 0; });
}

// ---- tables ----

TEST(LpcTables, HammingWindowMatchesItsFormula) {
  EXPECT_EQ(kLpcWindow[0], 2621);
  EXPECT_EQ(kLpcWindow[1], 2631);
  EXPECT_EQ(kLpcWindow[2], 2659);
  EXPECT_EQ(kLpcWindow[3], 2705);
  EXPECT_EQ(kLpcWindow[89], 32766);
  EXPECT_EQ(kLpcWindow[90], 32766);
  EXPECT_EQ(*std::ranges::max_element(kLpcWindow), 32766);
  for (std::size_t n = 0; n < kLpcWindowLength; ++n) {
    EXPECT_EQ(kLpcWindow[n], kLpcWindow[kLpcWindowLength - 1 - n]) << "n = " << n;
    const double c = std::cos(2.0 * std::numbers::pi * static_cast<double>(n) / 179.0);
    const double v = 32768.0 * (0.54 - 0.46 * c) + 0.5;
    EXPECT_EQ(kLpcWindow[n], static_cast<std::int16_t>(std::floor(v))) << "n = " << n;
    // No entry sits so close to a rounding boundary that the evaluation could tip it.
    EXPECT_GT(std::abs(v - std::round(v)), 1e-6) << "n = " << n;
  }
}

TEST(LpcTables, BinomialLagWindowMatchesItsProduct) {
  EXPECT_EQ(kLagWindow, (std::array<std::int16_t, 10>{32749, 32695, 32604, 32477, 32315, 32118, 31887, 31622,
                                                      31324, 30995}));
  double product = 1.0;
  for (int k = 1; k <= 10; ++k) {
    product *= (1798.0 - k + 1.0) / (1798.0 + k);
    const double v = 32768.0 * product;
    EXPECT_EQ(kLagWindow[k - 1], static_cast<std::int16_t>(std::floor(v))) << "lag " << k;
    EXPECT_GT(v - std::floor(v), 1e-6) << "lag " << k;
  }
}

// ---- Levinson-Durbin ----

// Autocorrelations of lags 1..10 from normalised values rho(1..10), at energy r0.
Corr corr_from(std::int16_t r0, const std::array<double, 11>& rho) {
  Corr c;
  for (std::size_t i = 0; i < kLpcOrder; ++i) c[i] = static_cast<std::int16_t>(std::lround(r0 * rho[i + 1]));
  return c;
}

TEST(LevinsonDurbin, FirstOrderProcessIsExact) {
  // rho(k) = 0.5^k: a_1 = 0.5, no further prediction, error 3/4 of the energy.
  const Corr corr = {8192, 4096, 2048, 1024, 512, 256, 128, 64, 32, 16};
  Lpc a;
  a.fill(-7);
  std::int16_t p2 = -7;
  EXPECT_EQ(levinson_durbin(a, corr, 16384, p2), 12288);
  EXPECT_EQ(a, (Lpc{4096, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(p2, 0);
}

TEST(LevinsonDurbin, RecoversASecondOrderPredictor) {
  // x(n) = 0.6 x(n-1) - 0.5 x(n-2): p2 is the negated second partial correlation, here +0.5.
  std::array<double, 11> rho;
  rho[0] = 1.0;
  rho[1] = 0.6 / 1.5;
  for (int k = 2; k <= 10; ++k) rho[k] = 0.6 * rho[k - 1] - 0.5 * rho[k - 2];
  Lpc a;
  std::int16_t p2 = 0;
  levinson_durbin(a, corr_from(30000, rho), 30000, p2);
  EXPECT_NEAR(a[0], 0.6 * 8192, 6);
  EXPECT_NEAR(a[1], -0.5 * 8192, 6);
  for (std::size_t i = 2; i < kLpcOrder; ++i) EXPECT_NEAR(a[i], 0, 6) << "a_" << i + 1;
  EXPECT_NEAR(p2, 16384, 60);
}

TEST(LevinsonDurbin, StopsEarlyWithoutDividing) {
  Lpc a;
  std::int16_t p2 = 0;

  // No energy (or a non-positive one) stops at the first stage, before any division.
  for (const Corr& corr : {Corr{}, Corr{100, -200, 300}}) {
    for (const std::int16_t energy : {std::int16_t{0}, std::int16_t{-5}}) {
      a.fill(99);
      p2 = 0;
      EXPECT_EQ(levinson_durbin(a, corr, energy, p2), energy);
      EXPECT_TRUE(all_zero(a));
      EXPECT_EQ(p2, 32767);
    }
  }

  // A stop at stage 1 also reports 32767.
  a.fill(99);
  EXPECT_EQ(levinson_durbin(a, Corr{0, 16384}, 16384, p2), 16384);
  EXPECT_TRUE(all_zero(a));
  EXPECT_EQ(p2, 32767);
}

TEST(LevinsonDurbin, LaterEarlyStopOverridesTheSecondStageValue) {
  Lpc a;
  std::int16_t p2 = 0;
  // x(n) = 0.5 x(n-2): stage 1 gives p2 = -0.5 and a_2 = 0.5, and the later stages add nothing.
  EXPECT_EQ(levinson_durbin(a, Corr{0, 8192, 0, 4096, 0, 2048, 0, 1024, 0, 512}, 16384, p2), 12288);
  EXPECT_EQ(p2, -16384);
  EXPECT_EQ(a, (Lpc{0, 4096, 0, 0, 0, 0, 0, 0, 0, 0}));

  // Stage 2 then meets a correlation as large as the remaining error: stop, p2 = 32767, the first two
  // stages' coefficients kept.
  a.fill(99);
  EXPECT_EQ(levinson_durbin(a, Corr{0, 8192, 12288}, 16384, p2), 12288);
  EXPECT_EQ(p2, 32767);
  EXPECT_EQ(a, (Lpc{0, 4096, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// ---- sinusoid detector ----

TEST(SineDetector, StrictSignedThresholdAndPlainShift) {
  EXPECT_EQ(push_sine_flag(0, 31130), 0);
  EXPECT_EQ(push_sine_flag(0, 31131), 1);
  EXPECT_EQ(push_sine_flag(0, -32768), 0);
  EXPECT_EQ(push_sine_flag(0x4001, 32767), static_cast<std::int16_t>(0x8003));
  EXPECT_EQ(push_sine_flag(static_cast<std::int16_t>(0x8000), 0), 0);  // the top bit falls out
}

TEST(SineDetector, FiresOnFourteenOfTheLastFifteenSubframes) {
  EXPECT_EQ(settle_sine_detector(0x7FFE), static_cast<std::int16_t>(0xFFFE));  // 14 of 15
  EXPECT_EQ(settle_sine_detector(0x7FFF), -1);                                   // 15 of 15
  EXPECT_EQ(settle_sine_detector(0x3FFE), 0x3FFE);                               // 13
  EXPECT_EQ(settle_sine_detector(static_cast<std::int16_t>(0xBFFC)), 0x3FFC);    // 12: cleared
}

// ---- block autocorrelation ----

TEST(AutocorrelateBlock, SilentBlock) {
  std::array<std::int16_t, kLpcWindowLength> block{};
  const BlockAutocorrelation acf = autocorrelate_block(block);
  EXPECT_TRUE(all_zero(acf.r));
  EXPECT_EQ(acf.exponent, 40);
}

TEST(AutocorrelateBlock, ThreePulses) {
  // Pulses at 80, 89 and 90 correlate at lags 1, 9 and 10 only; the values carry the scaling, the window,
  // the white-noise correction and the lag window.
  std::array<std::int16_t, kLpcWindowLength> block{};
  block[80] = 500;
  block[89] = 1000;
  block[90] = 1000;
  const BlockAutocorrelation acf = autocorrelate_block(block);
  EXPECT_EQ(acf.r, (std::array<std::int16_t, kAcfLags>{17497, 7808, 0, 0, 0, 0, 0, 0, 0, 3639, 3601}));
  EXPECT_EQ(acf.exponent, 9);
}

TEST(AutocorrelateBlock, ScalingTheBlockOnlyMovesTheExponent) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> dist(-700, 700);
  std::array<std::int16_t, kLpcWindowLength> block;
  for (auto& v : block) v = static_cast<std::int16_t>(dist(rng));
  block[40] = 1000;  // peak: the block and its doubles normalise to the same samples
  std::array<std::int16_t, kLpcWindowLength> doubled;
  std::ranges::transform(block, doubled.begin(), [](std::int16_t v) { return static_cast<std::int16_t>(2 * v); });

  const BlockAutocorrelation a = autocorrelate_block(block);
  const BlockAutocorrelation b = autocorrelate_block(doubled);
  EXPECT_EQ(a.r, b.r);
  EXPECT_EQ(a.exponent, b.exponent + 2);  // energy four times larger
  EXPECT_GE(a.r[0], 16384);
  for (std::size_t i = 1; i < kAcfLags; ++i) EXPECT_LT(std::abs(a.r[i]), a.r[0]);
}

// ---- whole-frame analysis ----

TEST(AnalyseLpc, SilenceFlagsEverySubframeAndFiresAfterFourFrames) {
  const History history{};
  const Frame frame{};
  CngState cng;
  std::int16_t detector = 0;
  FrameLpc lpc;
  const std::array<std::int16_t, 4> expected = {0x000F, 0x00FF, 0x0FFF, -1};
  for (int f = 0; f < 4; ++f) {
    lpc.fill(5);
    analyse_lpc(lpc, history, frame, detector, cng);
    EXPECT_TRUE(all_zero(lpc));
    EXPECT_EQ(detector, expected[f]) << "frame " << f;
  }
  EXPECT_TRUE(all_zero(cng.cng_acf_history));
  // An all-zero sum normalises like a tiny one: exponent 40 + 14 - 16.
  EXPECT_EQ(cng.cng_acf_exponents, (std::array<std::int16_t, 4>{38, 38, 38, 38}));
}

TEST(AnalyseLpc, DetectorFiresOnFourteenFlagsAfterASilentFrame) {
  const History history{};
  const Frame frame{};
  CngState cng;
  FrameLpc lpc;
  std::int16_t detector = 0x07FE;  // bits 1..10: ten flags that shift up into bits 5..14
  analyse_lpc(lpc, history, frame, detector, cng);
  EXPECT_EQ(detector, static_cast<std::int16_t>(0xFFEF));

  detector = 0x07FC;  // nine: 13 of 15
  analyse_lpc(lpc, history, frame, detector, cng);
  EXPECT_EQ(detector, 0x7FCF);
}

std::int16_t noise_sample(std::mt19937& rng) {
  return static_cast<std::int16_t>(std::uniform_int_distribution<int>(-3000, 3000)(rng));
}

TEST(AnalyseLpc, EachSubframeSeesTheBlockEndingWithIt) {
  std::mt19937 rng(11);
  CngState cng;
  FrameLpc lpc;

  // Signal only in the last subframe of the frame: only the last block sees it.
  {
    const History history{};
    Frame frame{};
    for (std::size_t n = 180; n < 240; ++n) frame[n] = noise_sample(rng);
    std::int16_t detector = 0;
    analyse_lpc(lpc, history, frame, detector, cng);
    EXPECT_TRUE(all_zero(std::span(lpc).first<30>()));
    EXPECT_FALSE(all_zero(std::span(lpc).last<10>()));
    EXPECT_EQ(detector, 0b1110);  // subframe 0 first, in the highest of the four bits
  }

  // Signal only in the history: the first two blocks reach back into it, the last two do not.
  {
    History history;
    for (auto& v : history) v = noise_sample(rng);
    const Frame frame{};
    std::int16_t detector = 0;
    analyse_lpc(lpc, history, frame, detector, cng);
    EXPECT_FALSE(all_zero(std::span(lpc).first<10>()));
    EXPECT_FALSE(all_zero(std::span(lpc).subspan<10, 10>()));
    EXPECT_TRUE(all_zero(std::span(lpc).last<20>()));
    EXPECT_EQ(detector, 0b0011);
  }
}

// The sinusoid detector after four frames of a signal, from a fresh state.
template <class Signal>
std::int16_t detector_after_four_frames(Signal next_sample) {
  History history{};
  CngState cng;
  FrameLpc lpc;
  std::int16_t detector = 0;
  for (int f = 0; f < 4; ++f) {
    Frame frame;
    for (auto& v : frame) v = next_sample();
    analyse_lpc(lpc, history, frame, detector, cng);
    std::copy(frame.end() - kAnalysisHistorySamples, frame.end(), history.begin());
  }
  return detector;
}

TEST(AnalyseLpc, SteadyToneFiresTheDetectorAndNoiseDoesNot) {
  int t = 0;
  EXPECT_LT(detector_after_four_frames([&t] {
              return static_cast<std::int16_t>(std::lround(8000 * std::sin(std::numbers::pi / 4 * t++)));  // 1 kHz
            }),
            0);
  std::mt19937 rng(5);
  EXPECT_EQ(detector_after_four_frames([&rng] { return noise_sample(rng); }), 0);
}

// ---- comfort-noise autocorrelation history ----

TEST(StoreFrameAutocorrelation, AgesTheHistoryAndStoresTheAlignedSum) {
  CngState cng;
  for (std::size_t i = 0; i < cng.cng_acf_history.size(); ++i) cng.cng_acf_history[i] = static_cast<std::int16_t>(i);
  cng.cng_acf_exponents = {100, 101, 102, 103};

  std::array<std::int16_t, kSubframes * kAcfLags> r{};
  for (std::size_t k = 0; k < kSubframes; ++k) {
    r[kAcfLags * k] = 16384;
    r[kAcfLags * k + 1] = 1000;
  }
  const std::array<std::int16_t, kSubframes> x = {10, 11, 12, 10};
  store_frame_autocorrelation(r, x, cng);

  for (std::size_t i = 11; i < 44; ++i) EXPECT_EQ(cng.cng_acf_history[i], static_cast<std::int16_t>(i - 11));
  EXPECT_EQ(cng.cng_acf_exponents[1], 100);
  EXPECT_EQ(cng.cng_acf_exponents[2], 101);
  EXPECT_EQ(cng.cng_acf_exponents[3], 102);

  // Scaled to 2^(24 - x): weights 2^14, 2^13, 2^12, 2^14 = 45056; sum of lag 0 = 0x2C000000, one spare bit,
  // so back down by 15.
  EXPECT_EQ(cng.cng_acf_history[0], 22528);
  EXPECT_EQ(cng.cng_acf_history[1], 1375);
  EXPECT_TRUE(all_zero(std::span(cng.cng_acf_history).subspan<2, 9>()));
  EXPECT_EQ(cng.cng_acf_exponents[0], 9);
}

TEST(StoreFrameAutocorrelation, SmallSumIsStoredUnshifted) {
  // Only subframe 0 (exponent 10) contributes; the others are shifted right by 16 to nothing.
  std::array<std::int16_t, kSubframes * kAcfLags> r{};
  r[0] = 1;
  r[1] = 1;
  for (std::size_t k = 1; k < kSubframes; ++k) r[kAcfLags * k] = 20000;
  const std::array<std::int16_t, kSubframes> x = {10, 40, 40, 40};

  CngState cng;
  store_frame_autocorrelation(r, x, cng);  // lag-0 sum 2^14: 16 sign bits, no shift
  EXPECT_EQ(cng.cng_acf_history[0], 16384);
  EXPECT_EQ(cng.cng_acf_history[1], 16384);
  EXPECT_EQ(cng.cng_acf_exponents[0], 24);

  r[0] = 2;  // lag-0 sum 2^15: one bit too many
  store_frame_autocorrelation(r, x, cng);
  EXPECT_EQ(cng.cng_acf_history[0], 16384);
  EXPECT_EQ(cng.cng_acf_history[1], 8192);
  EXPECT_EQ(cng.cng_acf_exponents[0], 23);
}

}  // namespace
}  // namespace g7231
