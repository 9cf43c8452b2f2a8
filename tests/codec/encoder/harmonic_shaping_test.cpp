// Harmonic noise shaping: the lag and gain estimate and the shaping filter against a step-by-step model
// on random buffers, and built signals for the no-correlation, below-threshold and gain-cap outcomes.
#include "codec/encoder/harmonic_shaping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <random>

#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Buffer = std::array<std::int16_t, kPitchBufferLength>;
using Frame = std::array<std::int16_t, kFrameSamples>;

HarmonicWeighting model_estimate(const Buffer& b, std::size_t pos, std::int16_t olp) {
  const auto dot = [&](std::size_t u, std::size_t v) {
    std::int32_t acc = 0;
    for (std::size_t j = 0; j < 60; ++j) acc = mac32(acc, b[u + j], b[v + j]);
    return acc;
  };
  std::array<std::int32_t, 15> v{dot(pos, pos)};
  for (int i = 0; i < 7; ++i) {
    const std::size_t q = pos + 3 - static_cast<std::size_t>(olp + i);
    v[2 * i + 1] = dot(q, q);
    v[2 * i + 2] = dot(pos, q);
  }
  std::int32_t m = 0;
  for (std::int32_t x : v) m = abs32(x) > m ? abs32(x) : m;
  std::array<std::int16_t, 15> s;
  for (std::size_t n = 0; n < 15; ++n) s[n] = round32_to16(shl32(v[n], norm32(m)));
  int best = -1;
  std::int16_t mc = 1, me = 0x7FFF;
  for (int i = 0; i < 7; ++i) {
    const std::int16_t en = s[2 * i + 1], cr = s[2 * i + 2];
    if (cr <= 0) continue;
    const std::int16_t t = mult16_round(cr, cr);
    if (msu32(mult32_16x16(t, me), en, mc) > 0) { mc = t; me = en; best = i; }
  }
  if (best < 0) return {olp, 0};
  const std::int16_t k = s[2 * best + 2];
  std::int32_t a = mult32_16x16(s[0], me);
  a = sub32(add32(shr32(a, 2), shr32(a, 3)), mult32_16x16(k, k));
  std::int16_t gain = 0;
  if (a < 0) gain = k >= me ? 10240 : mult16_round(div16(k, me), 10240);
  return {static_cast<std::int16_t>(olp - 3 + best), gain};
}

std::int16_t random_olp(std::mt19937& rng) { return static_cast<std::int16_t>(std::uniform_int_distribution<int>(18, 142)(rng)); }

// A buffer repeating a random cycle of the given period, plus independent noise.
Buffer periodic(std::mt19937& rng, int period, int amp, int noise) {
  std::uniform_int_distribution<int> a(-amp, amp), n(-noise, noise);
  std::array<int, 150> cycle;
  for (int& v : cycle) v = a(rng);
  Buffer b;
  for (std::size_t k = 0; k < b.size(); ++k) b[k] = saturate16(cycle[k % static_cast<std::size_t>(period)] + n(rng));
  return b;
}

TEST(HarmonicShaping, EstimateAndFilterMatchModel) {
  std::mt19937 rng(4201);
  int shaped = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const std::int16_t olp = random_olp(rng);
    const int period = olp + std::uniform_int_distribution<int>(-5, 5)(rng);
    const int amp = 1 << std::uniform_int_distribution<int>(2, 14)(rng);
    const Buffer b = periodic(rng, period, amp, std::uniform_int_distribution<int>(0, 2 * amp)(rng));
    const Buffer raw = periodic(rng, period, 8000, 4000);
    for (std::size_t s = 0; s < kSubframes; ++s) {
      const HarmonicWeighting hw = estimate_harmonic_weighting(b, 145 + 60 * s, olp);
      const HarmonicWeighting want = model_estimate(b, 145 + 60 * s, olp);
      ASSERT_EQ(hw.lag, want.lag) << "trial " << trial << " subframe " << s;
      ASSERT_EQ(hw.gain, want.gain) << "trial " << trial << " subframe " << s;
      shaped += hw.gain > 0 && hw.gain < 10240;

      Frame out{};
      apply_harmonic_weighting(out, raw, 60 * s, hw);
      for (std::size_t i = 0; i < 60; ++i) {
        const std::size_t n = 145 + 60 * s + i;
        ASSERT_EQ(out[60 * s + i], round32_to16(msu32(deposit_high(raw[n]), hw.gain, raw[n - hw.lag])));
      }
    }
  }
  EXPECT_GT(shaped, 100);  // the gain formula itself was exercised, not only 0 and the cap
}

// Any gain, at the full-scale extremes and around the 16-bit limits of -2g: the filter saturates either
// way as its operators do.
TEST(HarmonicShaping, FilterMatchesTheOperatorsAtEveryGain) {
  Buffer raw;
  constexpr std::array<std::int16_t, 7> kValues = {32767, -32768, 1, -1, 0, 16384, -16385};
  for (std::size_t n = 0; n < raw.size(); ++n) raw[n] = kValues[(n * n + n / 7) % kValues.size()];
  for (const std::int16_t gain : {-32768, -16384, -16383, -1, 0, 1, 10240, 16384, 16385, 32767}) {
    for (const std::int16_t lag : {18, 145}) {
      Frame out{};
      apply_harmonic_weighting(out, raw, 120, {lag, gain});
      for (std::size_t i = 0; i < 60; ++i) {
        const std::size_t n = 265 + i;
        ASSERT_EQ(out[120 + i], round32_to16(msu32(deposit_high(raw[n]), gain, raw[n - lag]))) << gain << " " << i;
      }
    }
  }
}

// Sums that scale to 0x7FFF8000 and up round to 32767; a correlation saturated at -2^31 leaves the
// largest magnitude at 2^31 - 1 and no shift.
TEST(HarmonicShaping, EstimateMatchesModelAtTheRoundingLimits) {
  constexpr std::size_t kPos = 205;
  constexpr std::int16_t kOlp = 100;
  const auto with_past_copy = [](std::initializer_list<std::int16_t> head) {
    Buffer b{};
    std::copy(head.begin(), head.end(), b.begin() + kPos);
    std::copy(head.begin(), head.end(), b.begin() + kPos - kOlp);
    return b;
  };
  Buffer opposed{};
  std::fill_n(opposed.begin() + kPos, 60, kMax16);
  std::fill_n(opposed.begin() + kPos - kOlp - 3, 66, kMin16);  // under all seven candidate segments
  const struct {
    const char* name;
    Buffer b;
  } kCases[] = {
      {"2 * 65535 scaled to 0x7FFF8000", with_past_copy({255, 22, 5, 1})},
      {"2 * 65534 scaled to 0x7FFF0000", with_past_copy({255, 22, 5})},
      {"correlation at -2^31", opposed},
  };
  for (const auto& c : kCases) {
    const HarmonicWeighting hw = estimate_harmonic_weighting(c.b, kPos, kOlp);
    const HarmonicWeighting want = model_estimate(c.b, kPos, kOlp);
    EXPECT_EQ(hw.lag, want.lag) << c.name;
    EXPECT_EQ(hw.gain, want.gain) << c.name;
  }
}

TEST(HarmonicShaping, NoPositiveCorrelationKeepsOlpAndCopiesTheSubframe) {
  // Only the subframe is non-zero: no candidate segment (lags 97..103) reaches into it.
  std::mt19937 rng(4202);
  Buffer b{};
  for (std::size_t j = 205; j < 265; ++j) b[j] = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-9000, 9000)(rng));
  const HarmonicWeighting hw = estimate_harmonic_weighting(b, 205, 100);
  EXPECT_EQ(hw.lag, 100);
  EXPECT_EQ(hw.gain, 0);
  Frame out{};
  apply_harmonic_weighting(out, b, 60, hw);
  EXPECT_TRUE(std::equal(out.begin() + 60, out.begin() + 120, b.begin() + 205));
}

TEST(HarmonicShaping, WeakCorrelationKeepsItsLagWithoutGain) {
  // The subframe is the past at lag olp + 2 plus twice as much independent noise: the normalised
  // correlation there is about 1/5, under the 0.375 threshold, yet the largest of the seven.
  std::mt19937 rng(4203);
  std::uniform_int_distribution<int> d(-3000, 3000);
  for (std::int16_t olp : {60, 100, 142}) {
    Buffer b;
    for (auto& v : b) v = static_cast<std::int16_t>(d(rng));
    for (std::size_t n = 265; n < 325; ++n) b[n] = static_cast<std::int16_t>(b[n - olp - 2] + 2 * d(rng));
    const HarmonicWeighting hw = estimate_harmonic_weighting(b, 265, olp);
    EXPECT_EQ(hw.lag, olp + 2);
    EXPECT_EQ(hw.gain, 0);
  }
}

TEST(HarmonicShaping, GainIsCappedWhenCorrelationReachesTheLaggedEnergy) {
  std::mt19937 rng(4204);
  for (std::int16_t olp : {18, 77, 142}) {
    Buffer b = periodic(rng, olp, 3000, 0);  // exactly periodic: correlation equals the lagged energy
    EXPECT_EQ(estimate_harmonic_weighting(b, 325, olp).gain, 10240);
    const Buffer past = b;  // the subframe becomes twice the past one lag back: correlation above the energy
    for (std::size_t n = 325; n < 385; ++n) b[n] = static_cast<std::int16_t>(2 * past[n - olp]);
    const HarmonicWeighting hw = estimate_harmonic_weighting(b, 325, olp);
    EXPECT_EQ(hw.lag, olp);
    EXPECT_EQ(hw.gain, 10240);
  }
}

}  // namespace
}  // namespace g7231
