#include "codec/common/comfort_noise_excitation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "codec/tables/builtin_table_set.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Frame = std::array<std::int16_t, kFrameSamples>;
using History = std::array<std::int16_t, kHistorySamples>;

std::int16_t lcg(std::int16_t seed) {
  return static_cast<std::int16_t>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(seed)) * 521 + 259) & 0xFFFF);
}

std::int16_t lcg_after(std::int16_t seed, int steps) {
  while (steps-- > 0) seed = lcg(seed);
  return seed;
}

// The drawn parameters that the frame records: two lags, then lag offset and gain entry per subframe.
std::array<std::int16_t, 10> drawn(const FrameParams& p) {
  std::array<std::int16_t, 10> d = {p.olp_lag[0], p.olp_lag[1]};
  for (std::size_t s = 0; s < kSubframes; ++s) {
    d[2 + 2 * s] = p.sub[s].lag_delta;
    d[3 + 2 * s] = p.sub[s].acb_gain_index;
  }
  return d;
}

TEST(SidGain, DecodesThreeSegmentsOfLevels) {
  for (std::int16_t i = 0; i < 64; ++i) {
    const int level = i < 16 ? 2 * i : i < 32 ? 32 + 4 * (i - 16) : 96 + 8 * (i - 32);
    EXPECT_EQ(decode_sid_gain(i), 32 * level) << "index " << i;
  }
  EXPECT_EQ(decode_sid_gain(63), 11008);
}

// The gain starts at the SID gain after speech, then moves an eighth of the way to each new SID gain.
TEST(SidGain, SmoothingGlidesByAnEighthPerFrame) {
  EXPECT_EQ(smooth_comfort_noise_gain(5000, 1234, true), 1234);
  EXPECT_EQ(smooth_comfort_noise_gain(8000, 0, false), 7000);
  EXPECT_EQ(smooth_comfort_noise_gain(0, 8000, false), 1000);
  EXPECT_EQ(smooth_comfort_noise_gain(11008, 11008, false), 11008);
}

TEST(ComfortNoiseRandom, GeneratorSequenceAndRange) {
  std::int16_t seed = 12345;
  for (const std::int16_t v : {9476, 22055, 22114, -12683, 11552}) {
    EXPECT_EQ(random16(seed), v);
    EXPECT_EQ(seed, v);
  }
  // A full-period generator: every 16-bit state once before 12345 comes back.
  std::set<std::int16_t> seen;
  seed = 12345;
  do seen.insert(random16(seed));
  while (seed != 12345 && seen.size() < 70000);
  EXPECT_EQ(seen.size(), 65536u);

  for (const std::int16_t n : {1, 21, 30, 50, 8192}) {
    std::set<std::int16_t> values;
    for (int i = 0; i < 4000; ++i) {
      const std::int16_t before = seed;
      const std::int16_t v = random_below(n, seed);
      ASSERT_EQ(seed, lcg(before));
      ASSERT_TRUE(v >= 0 && v < n) << v << " of " << n;
      values.insert(v);
    }
    if (n <= 50) {
      EXPECT_EQ(values.size(), static_cast<std::size_t>(n));
    }
  }
}

TEST(ComfortNoiseRandom, SquareRootIsTheLargestEvenRootOfHalfTheValue) {
  std::mt19937 rng(1);
  std::vector<std::int32_t> inputs = {0, 1, 7, 8, 9, 31, 32, 0x7FFFFFFF, 2 * 32766 * 32766, 2 * 32766 * 32766 - 1, -5};
  for (int i = 0; i < 20000; ++i) inputs.push_back(static_cast<std::int32_t>(rng() >> (1 + i % 31)));
  for (const std::int32_t l : inputs) {
    const std::int64_t half = std::max(l, 0) / 2;
    auto r = static_cast<std::int64_t>(std::sqrt(static_cast<double>(half)));
    while (r * r > half) --r;
    while ((r + 1) * (r + 1) <= half) ++r;
    ASSERT_EQ(sqrt32(l), static_cast<std::int16_t>(r & ~1)) << l;
  }
}

// ---- an independent step-by-step construction of the excitation ----

constexpr std::array<int, 4> kPulses = {6, 5, 6, 5};

// Predictor output for one subframe; past(k) is the history, past(144) the sample before the subframe.
template <class Past>
void ref_pitch_part(std::int16_t* out, Past past, int lag, int delta, int index) {
  const int lc = lag + delta - 1;
  std::array<std::int16_t, 64> buf;
  buf[0] = past(143 - lc);
  buf[1] = past(144 - lc);
  for (int i = 0; i < 62; ++i) buf[2 + i] = past(145 - lc + i % lc);
  const auto& b = kBuiltinTableSet.acb_gain170[static_cast<std::size_t>(index)];
  for (int n = 0; n < 60; ++n) {
    std::int32_t acc = 0;
    for (int t = 0; t < 5; ++t) acc = mac32(acc, buf[n + t], b[t]);
    out[n] = round32_to16(shl32(acc, 1));
  }
}

void ref_excitation(std::int16_t gain, History& hist, Frame& exc, std::int16_t& seed, FrameParams& p,
                    int& pulses_only) {
  auto draw = [&](int n) {
    seed = lcg(seed);
    return static_cast<std::int16_t>(((seed & 0x7FFF) * n) >> 15);
  };
  for (int h = 0; h < 2; ++h) p.olp_lag[h] = static_cast<std::int16_t>(draw(21) + 123);
  for (auto& s : p.sub) s.acb_gain_index = static_cast<std::int16_t>(draw(50) + 1);
  const std::array<std::int16_t, 4> delta = {1, 0, 1, 3};
  for (int s = 0; s < 4; ++s) p.sub[s].lag_delta = delta[s];
  std::array<int, 4> base;
  std::array<std::array<std::int16_t, 11>, 2> sign, pos;
  for (int h = 0; h < 2; ++h) {
    const int r = draw(8192);
    base[2 * h] = r & 1;
    base[2 * h + 1] = 60 + ((r >> 1) & 1);
    for (int k = 0; k < 11; ++k) sign[h][k] = (r >> (2 + k)) & 1 ? 16384 : -16384;
  }
  for (int s = 0; s < 4; ++s) {
    std::array<int, 30> slot;
    for (int i = 0; i < 30; ++i) slot[i] = i;
    for (int j = 0; j < kPulses[s]; ++j) {
      const int i = draw(30 - j);
      pos[s / 2][(s % 2 ? 6 : 0) + j] = static_cast<std::int16_t>(2 * slot[i] + base[s]);
      slot[i] = slot[29 - j];
    }
  }
  for (int h = 0; h < 2; ++h) {
    std::int16_t* x = exc.data() + 120 * h;
    ref_pitch_part(
        x, [&](int k) { return hist[k]; }, p.olp_lag[h], delta[2 * h], p.sub[2 * h].acb_gain_index);
    ref_pitch_part(
        x + 60, [&](int k) { return hist[60 + k]; }, p.olp_lag[h], delta[2 * h + 1], p.sub[2 * h + 1].acb_gain_index);
    std::int16_t mx = 0;
    for (int n = 0; n < 120; ++n) mx = std::max(mx, abs16(x[n]));
    const std::int16_t sh = mx == 0 ? 0 : std::max<std::int16_t>(sub16(4, norm16(mx)), -2);
    std::array<std::int16_t, 120> y;
    std::int32_t e = 0, acc = 0;
    for (int n = 0; n < 120; ++n) {
      y[n] = shr16(x[n], sh);
      e = mac32(e, y[n], y[n]);
    }
    for (int k = 0; k < 11; ++k) acc = mac32(acc, y[pos[h][k]], sign[h][k]);
    const std::int16_t cr = extract_high(shl32(acc, 1));
    const std::int16_t t = extract_low(shr32(mult32_16x16(gain, 60), 6));
    const std::int32_t wanted = shr32(mult32_16x16(t, gain), add16(shl16(sh, 1), 4));
    const std::int32_t a = mult32_32x16(sub32(e, wanted), 2979);
    const std::int16_t b = mult16_round(cr, 2979);
    const std::int32_t disc = negate32(msu32(a, b, b));
    std::int16_t amp = negate16(b);
    if (disc > 0) {
      const std::int16_t q = sqrt32(disc);
      const std::int16_t a1 = sub16(q, b), a2 = add16(b, q);
      amp = abs16(a2) >= abs16(a1) ? a1 : negate16(a2);
    }
    amp = shl16(amp, add16(sh, 1));
    if (mx == 0 && amp != 0) ++pulses_only;
    amp = std::clamp<std::int16_t>(amp, -10000, 10000);
    for (int k = 0; k < 11; ++k) x[pos[h][k]] = add16(x[pos[h][k]], mult16(amp, sign[h][k]));
    std::copy(hist.begin() + 120, hist.end(), hist.begin());
    std::copy(x, x + 120, hist.begin() + 25);
  }
}

TEST(ComfortNoiseExcitation, MatchesTheStepwiseConstructionOnRandomInputs) {
  std::mt19937 rng(99);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int pulses_only = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    History hist{};
    const int amplitude = trial % 5 == 0 ? 0 : trial % 2 ? 32768 : 1 << uni(0, 15);
    for (auto& v : hist) v = static_cast<std::int16_t>(std::clamp(uni(-amplitude, amplitude), -32768, 32767));
    const auto gain = static_cast<std::int16_t>(trial % 7 == 0 ? 0 : uni(0, 11008));
    auto seed = static_cast<std::int16_t>(trial % 3 == 0 ? 12345 : uni(-32768, 32767));
    History ref_hist = hist;
    std::int16_t ref_seed = seed;
    Frame exc{}, ref_exc{};
    FrameParams params, ref_params;
    build_comfort_noise_excitation(kBuiltinTableSet, gain, hist, exc, seed, params);
    ref_excitation(gain, ref_hist, ref_exc, ref_seed, ref_params, pulses_only);
    ASSERT_EQ(exc, ref_exc) << "trial " << trial;
    ASSERT_EQ(hist, ref_hist) << "trial " << trial;
    ASSERT_EQ(seed, ref_seed) << "trial " << trial;
    ASSERT_EQ(drawn(params), drawn(ref_params)) << "trial " << trial;
  }
  EXPECT_GT(pulses_only, 0);
}

TEST(ComfortNoiseExcitation, ZeroHistoryGivesPulsesOnlyAtDistinctPositions) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 200; ++trial) {
    History hist{};
    Frame exc;
    FrameParams params;
    std::int16_t seed = trial == 0 ? 12345 : static_cast<std::int16_t>(rng());
    const std::int16_t start = seed;
    const auto gain = static_cast<std::int16_t>(trial == 0 ? 11008 : 64 + rng() % 11000);
    build_comfort_noise_excitation(kBuiltinTableSet, gain, hist, exc, seed, params);
    EXPECT_EQ(seed, lcg_after(start, 30));  // 2 lags, 4 gain entries, 2 sign words, 22 positions
    const auto d = drawn(params);
    EXPECT_TRUE(d[0] >= 123 && d[0] <= 143 && d[1] >= 123 && d[1] <= 143);
    EXPECT_EQ((std::array<std::int16_t, 4>{d[2], d[4], d[6], d[8]}), (std::array<std::int16_t, 4>{1, 0, 1, 3}));
    for (const std::int16_t g : {d[3], d[5], d[7], d[9]}) EXPECT_TRUE(g >= 1 && g <= 50);

    // First half frame: no pitch part, so only the pulses, each of magnitude sqrt32(delta) (A / 2).
    const std::int16_t t = extract_low(shr32(mult32_16x16(gain, 60), 6));
    const std::int32_t delta = negate32(mult32_32x16(negate32(shr32(mult32_16x16(t, gain), 4)), 2979));
    const std::int16_t magnitude = sqrt32(delta);
    ASSERT_GT(magnitude, 0);
    for (int sub = 0; sub < 2; ++sub) {
      std::set<int> parities;
      int pulses = 0;
      for (int n = 60 * sub; n < 60 * sub + 60; ++n) {
        if (exc[n] == 0) continue;
        ++pulses;
        parities.insert(n % 2);
        EXPECT_EQ(abs16(exc[n]), magnitude) << "trial " << trial << " n " << n;
      }
      EXPECT_EQ(pulses, sub == 0 ? 6 : 5) << "trial " << trial;
      EXPECT_EQ(parities.size(), 1u) << "trial " << trial;
    }
  }
}

TEST(ComfortNoiseExcitation, ZeroGainOnZeroHistoryStaysSilent) {
  History hist{};
  Frame exc;
  exc.fill(7);
  FrameParams params;
  std::int16_t seed = 12345;
  build_comfort_noise_excitation(kBuiltinTableSet, 0, hist, exc, seed, params);
  EXPECT_TRUE(std::ranges::all_of(exc, [](std::int16_t v) { return v == 0; }));
  EXPECT_TRUE(std::ranges::all_of(hist, [](std::int16_t v) { return v == 0; }));

  // From seed 12345 the random parameters never depend on the history or the gain.
  History other;
  other.fill(-3000);
  FrameParams again;
  seed = 12345;
  build_comfort_noise_excitation(kBuiltinTableSet, 9000, other, exc, seed, again);
  EXPECT_EQ(drawn(again), drawn(params));
}

}  // namespace
}  // namespace g7231
