#include "codec/encoder/voice_activity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <tuple>

#include "codec/common/dsp_kernels.h"
#include "codec/tables/voice_activity_tables.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Frame = std::array<std::int16_t, kFrameSamples>;

auto fields(const VadState& v) {
  return std::tie(v.hangover, v.voice_count, v.prev_energy, v.noise_level, v.adapt_count, v.lag_history, v.noise_lpc);
}

std::int32_t ref_threshold(std::int32_t level) {
  const std::int32_t a = shl32(level, 13);
  const std::int16_t sh = norm32(a);
  const std::int16_t f = extract_high((shl32(a, sh) & 0x3f000000) << 1);
  const std::int16_t hi = kVadThresholdTable[static_cast<std::size_t>(sh)];
  const std::int16_t lo = kVadThresholdTable[static_cast<std::size_t>(sh - 1)];
  const std::int16_t q = extract_high(msu32(mac32(deposit_high(hi), f, lo), f, hi));
  return mult32_16x16(extract_low(shr32(level, 2)), q) >> 11;
}

// The detector with detection on, computed step by step.
std::int16_t ref_detect(const Frame& x, VadState& s, std::int16_t sine) {
  const std::int16_t m = std::min<std::int16_t>(145, *std::ranges::min_element(s.lag_history));
  int count = 0;
  for (std::int16_t p : s.lag_history) {
    for (std::int16_t k = 1, t = m; k <= 8; ++k, t = add16(t, m)) count += abs16(sub16(t, p)) <= 3;
  }
  s.adapt_count =
      static_cast<std::int16_t>(std::clamp(count == 4 || sine < 0 ? s.adapt_count + 2 : s.adapt_count - 1, 0, 6));
  std::int32_t energy = 0;
  for (int j = 0; j < 180; ++j) {
    std::int32_t acc = mult32_16x16(x[60 + j], 8192);
    for (int k = 0; k < 10; ++k) acc = msu32(acc, x[59 + j - k], s.noise_lpc[k]);
    energy = mac32(energy, round32_to16(acc), round32_to16(acc));
  }
  const std::int32_t e = mult32_32x16(energy, 2913);
  std::int32_t& n = s.noise_level;
  if (n > s.prev_energy) n = add32(sub32(s.prev_energy, shr32(s.prev_energy, 2)), shr32(n, 2));
  n = s.adapt_count == 0 ? add32(n, shr32(n, 5)) : sub32(n, shr32(n, 11));
  s.prev_energy = e;
  n = std::clamp(n, 128, 131071);
  if (e >= ref_threshold(n)) {
    ++s.voice_count;
    ++s.hangover;
  } else {
    s.voice_count = static_cast<std::int16_t>(std::max(0, s.voice_count - 1));
  }
  if (s.voice_count >= 2) s.hangover = 6;
  s.voice_count = std::min<std::int16_t>(s.voice_count, 3);
  const bool active = s.hangover != 0;
  if (active && s.voice_count == 0) --s.hangover;
  s.lag_history = {s.lag_history[2], s.lag_history[3], s.lag_history[2], s.lag_history[3]};
  return active;
}

TEST(VoiceActivity, MatchesTheStepwiseDetectorOnRandomRuns) {
  std::mt19937 rng(7231);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int run = 0; run < 200; ++run) {
    VadState code;
    if (run % 3 != 0) {  // otherwise the initial state
      code.noise_level = uni(0, 1 << 18);
      code.prev_energy = uni(0, run % 2 ? 1 << 18 : 0x7fffffff);
      code.adapt_count = static_cast<std::int16_t>(uni(0, 6));
      code.voice_count = static_cast<std::int16_t>(uni(0, 3));
      code.hangover = static_cast<std::int16_t>(uni(0, 6));
    }
    for (auto& a : code.noise_lpc) a = static_cast<std::int16_t>(run % 4 == 1 ? 0 : uni(-3000, 3000));
    VadState ref = code;
    const int amplitude = 1 << uni(0, 14), period = uni(18, 60);
    for (int f = 0; f < 20; ++f) {
      Frame x;
      const int scale = uni(0, 3) == 0 ? amplitude * 8 : amplitude;
      for (auto& v : x) v = static_cast<std::int16_t>(std::clamp(uni(-scale, scale), -32768, 32767));
      // Lags near multiples of one period (within 3 or not), or scattered.
      for (std::size_t i = 2; i < 4; ++i) {
        code.lag_history[i] = static_cast<std::int16_t>(uni(0, 3) ? period * uni(1, 2) + uni(-4, 4) : uni(18, 145));
      }
      ref.lag_history = code.lag_history;
      const auto sine = static_cast<std::int16_t>(uni(0, 7) == 0 ? -2 : uni(0, 0x7fff));
      ASSERT_EQ(detect_voice_activity(x, code, sine, true), ref_detect(x, ref, sine)) << run << "/" << f;
      ASSERT_TRUE(fields(code) == fields(ref)) << run << "/" << f;
    }
  }
}

// Full-scale frames (the energy saturates, or the filter's sums would), levels on either side of the
// residual bound under which the energy is summed in 32 bits, and extreme filters, at every kernel level.
TEST(VoiceActivity, MatchesTheStepwiseDetectorAtTheEnergyLimitsOnEveryLevel) {
  using Filter = std::array<std::int16_t, 10>;
  for (const SimdLevel level : {SimdLevel::scalar, SimdLevel::sse41, SimdLevel::avx2, SimdLevel::avx512}) {
    if (!simd_level_available(level)) continue;
    for (const int amplitude : {32767, 19536, 19540, 2400, 1}) {
      for (const Filter& lpc : {Filter{}, Filter{-32768, 32767}, Filter{8192, -4096, 2048, -1024, 512}}) {
        Frame x;
        for (std::size_t n = 0; n < x.size(); ++n) x[n] = static_cast<std::int16_t>(n % 3 ? amplitude : -amplitude - (n % 2));
        VadState code;
        code.noise_lpc = lpc;
        VadState ref = code;
        ASSERT_EQ(detect_voice_activity(x, code, 0, true, dsp_kernels(level)), ref_detect(x, ref, 0));
        ASSERT_TRUE(fields(code) == fields(ref)) << simd_level_name(level) << " " << amplitude << " " << lpc[0];
      }
    }
  }
}

// Lags of any value, where the multiples of the shortest saturate or the differences do.
TEST(VoiceActivity, PitchStationarityMatchesTheStepwiseCountForAnyLags) {
  using Lags = std::array<std::int16_t, 4>;
  for (const Lags& lags : {Lags{0, 0, 0, 3}, Lags{-32768, 32767, 0, 3}, Lags{-5000, -10000, -15000, -20000},
                           Lags{-4096, -32768, -32765, 4}, Lags{18, 36, 57, 146}, Lags{145, 145, 290, 1163}}) {
    VadState code;
    code.lag_history = lags;
    VadState ref = code;
    ASSERT_EQ(detect_voice_activity(Frame{}, code, 0, true), ref_detect(Frame{}, ref, 0));
    EXPECT_EQ(code.adapt_count, ref.adapt_count) << lags[0] << " " << lags[1];
  }
}

TEST(VoiceActivity, DetectionOffIsAlwaysActiveAndTouchesNothing) {
  VadState s;
  s.noise_level = 5000;
  s.adapt_count = 3;
  s.lag_history = {40, 41, 80, 119};
  s.noise_lpc[0] = 1234;
  const VadState before = s;
  EXPECT_EQ(detect_voice_activity(Frame{}, s, -1, false), 1);
  EXPECT_TRUE(fields(s) == fields(before));
}

TEST(VoiceActivity, HangoverAfterSustainedSpeechAndAfterOneLoudFrame) {
  Frame loud;  // far above any threshold; silence is far below
  loud.fill(8000);
  VadState s;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(detect_voice_activity(loud, s, 0, true), 1);
  EXPECT_EQ(s.voice_count, 3);
  EXPECT_EQ(s.hangover, 6);
  const std::array<std::int16_t, 9> voice = {2, 1, 0, 0, 0, 0, 0, 0, 0}, hang = {6, 6, 5, 4, 3, 2, 1, 0, 0};
  for (std::size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(detect_voice_activity(Frame{}, s, 0, true), i < 8 ? 1 : 0) << "quiet frame " << i + 1;
    EXPECT_EQ(s.voice_count, voice[i]) << "quiet frame " << i + 1;
    EXPECT_EQ(s.hangover, hang[i]) << "quiet frame " << i + 1;
  }
  EXPECT_EQ(detect_voice_activity(loud, s, 0, true), 1);
  EXPECT_EQ(s.voice_count, 1);
  EXPECT_EQ(s.hangover, 1);
  EXPECT_EQ(detect_voice_activity(Frame{}, s, 0, true), 1);
  EXPECT_EQ(detect_voice_activity(Frame{}, s, 0, true), 0);
}

TEST(VoiceActivity, EnergyEqualToTheThresholdIsSpeech) {
  VadState base;
  base.noise_level = 5000;
  base.prev_energy = 0x7fffffff;
  base.adapt_count = 3;  // becomes 2: the level decays by 1/2048
  base.lag_history = {18, 100, 57, 131};
  const std::int32_t h = ref_threshold(5000 - (5000 >> 11));
  // With no noise filter the energy is 2 * sum(r^2) for samples 4r: find sums that land on h and h - 1.
  for (const std::int32_t want : {h, h - 1}) {
    std::int32_t sum = 0;
    while (mult32_32x16(2 * sum, 2913) < want) ++sum;
    ASSERT_EQ(mult32_32x16(2 * sum, 2913), want);
    Frame x{};
    for (std::size_t j = 60; sum > 0; ++j) {
      std::int32_t r = 1;
      while ((r + 1) * (r + 1) <= sum) ++r;
      x[j] = static_cast<std::int16_t>(4 * r);
      sum -= r * r;
    }
    VadState s = base;
    detect_voice_activity(x, s, 0, true);
    EXPECT_EQ(s.prev_energy, want);
    EXPECT_EQ(s.voice_count, want == h ? 1 : 0);
  }
}

TEST(VoiceActivity, StablePitchOrASinusoidHoldsTheNoiseLevel) {
  VadState s;
  for (const std::int16_t expected : {2, 4, 6, 6}) {
    s.lag_history = {40, 41, 80, 119};  // all within 3 of multiples of 40
    detect_voice_activity(Frame{}, s, 0, true);
    EXPECT_EQ(s.adapt_count, expected);
  }
  EXPECT_EQ(s.lag_history, (std::array<std::int16_t, 4>{80, 119, 80, 119}));
  EXPECT_EQ(s.noise_level, 128);      // lifted from 0 by the first frame, then only decaying
  s.lag_history = {40, 41, 80, 124};  // one lag off
  detect_voice_activity(Frame{}, s, 0, true);
  EXPECT_EQ(s.adapt_count, 5);
  s.lag_history = {40, 41, 80, 124};
  detect_voice_activity(Frame{}, s, -32768, true);  // the sinusoid detector has fired
  EXPECT_EQ(s.adapt_count, 6);

  s.noise_level = s.prev_energy = 0x7fffffff;
  s.adapt_count = 0;
  s.lag_history = {};  // before any pitch estimate: no stable pitch
  detect_voice_activity(Frame{}, s, 0, true);
  EXPECT_EQ(s.adapt_count, 0);
  EXPECT_EQ(s.noise_level, 131071);
}

}  // namespace
}  // namespace g7231
