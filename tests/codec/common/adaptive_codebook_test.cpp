// Adaptive codebook: the gain tables' layout; the lagged-excitation fetch, the predictor's decoding and
// the completion of a subframe's excitation against step-by-step models.
#include "codec/common/adaptive_codebook.h"
#include "codec/tables/builtin_table_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <vector>

#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Subframe = std::array<std::int16_t, kSubframeSamples>;
using History = std::array<std::int16_t, kHistorySamples>;
using Lagged = std::array<std::int16_t, kLaggedExcitationSamples>;

// The fifteen values an entry derives from its taps b: -b_t*b_u/16384 truncated toward zero.
std::array<int, 15> derived(const AcbGainEntry& b) {
  std::array<int, 15> d;
  for (int t = 0; t < 5; ++t) d[t] = -(b[t] * b[t]) / 16384;
  for (int t = 1, i = 5; t < 5; ++t) {
    for (int u = 0; u < t; ++u) d[i++] = -(b[t] * b[u]) / 16384;
  }
  return d;
}

// Whatever the installed set: entry 0 predicts nothing and every derived value lies within one unit of
// its rule, which the search's criterion relies on.
TEST(AdaptiveCodebook, GainTablesKeepTheirDerivedValues) {
  EXPECT_EQ(kBuiltinTableSet.acb_gain85[0], AcbGainEntry{});
  EXPECT_EQ(kBuiltinTableSet.acb_gain170[0], AcbGainEntry{});
  for (const std::span<const AcbGainEntry> table :
       {std::span<const AcbGainEntry>(kBuiltinTableSet.acb_gain85), std::span<const AcbGainEntry>(kBuiltinTableSet.acb_gain170)}) {
    for (const AcbGainEntry& e : table) {
      for (int i = 0; i < 15; ++i) EXPECT_LE(std::abs(e[5 + i] - derived(e)[i]), 1) << i;
    }
  }
}

// buf[m] is the excitation lag + 2 - m samples before the subframe; inside the subframe it repeats
// what was lag samples earlier.
Lagged model_fetch(const History& h, int lag) {
  Lagged buf;
  for (int m = 0; m < 64; ++m) buf[m] = m < lag + 2 ? h[143 - lag + m] : buf[m - lag];
  return buf;
}

const std::int16_t* table_row(bool low_rate, int lag, int index) {
  return low_rate || lag >= 58 ? kBuiltinTableSet.acb_gain170[index].data() : kBuiltinTableSet.acb_gain85[index].data();
}

Subframe model_decode(const History& h, int lag, int delta, int index, bool low_rate) {
  const Lagged buf = model_fetch(h, lag + delta - 1);
  const std::int16_t* b = table_row(low_rate, lag, index);
  Subframe out;
  for (std::size_t n = 0; n < 60; ++n) {
    std::int32_t acc = 0;
    for (std::size_t t = 0; t < 5; ++t) acc = mac32(acc, buf[n + t], b[t]);
    out[n] = round32_to16(shl32(acc, 1));
  }
  return out;
}

History random_history(std::mt19937& rng, int amp) {
  History h;
  for (auto& v : h) v = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-amp, amp)(rng));
  return h;
}

TEST(AdaptiveCodebook, FetchRepeatsShortLagsAndReadsLongOnesFromTheHistory) {
  std::mt19937 rng(4401);
  const History h = random_history(rng, 32767);
  for (int lag = 17; lag <= 143; ++lag) {  // the lags a subframe's own history serves
    Lagged buf;
    fetch_lagged_excitation(buf, h, static_cast<std::int16_t>(lag));
    EXPECT_EQ(buf, model_fetch(h, lag)) << "lag " << lag;
  }
  // A history origin 60 samples later, as the second half of a comfort-noise half frame uses it.
  for (int lag = 122; lag <= 145; ++lag) {
    Lagged buf;
    fetch_lagged_excitation(buf, h, static_cast<std::int16_t>(lag), 60);
    for (int m = 0; m < 64; ++m) ASSERT_EQ(buf[m], h[203 - lag + m]) << "lag " << lag << " m " << m;
  }
}

TEST(AdaptiveCodebook, DecodingAndCompletionMatchModels) {
  std::mt19937 rng(4415);
  const auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int trial = 0; trial < 400; ++trial) {
    const bool low_rate = trial % 2 == 0;
    History hist = random_history(rng, std::array{5, 300, 3000, 32767}[trial % 4]);
    const int lag = uni(18, 141), delta = uni(0, 3);
    const int index = uni(0, low_rate || lag >= 58 ? 169 : 84);
    const Subframe want = model_decode(hist, lag, delta, index, low_rate);
    Subframe got;
    decode_adaptive_codebook(kBuiltinTableSet, got, hist, static_cast<std::int16_t>(lag), static_cast<std::int16_t>(delta),
                             static_cast<std::int16_t>(index), low_rate);
    ASSERT_EQ(got, want) << "trial " << trial;

    // The fixed-codebook part enters doubled (saturating); the history moves on by one subframe.
    Subframe exc;
    for (auto& v : exc) v = static_cast<std::int16_t>(uni(-32768, 32767) >> (trial % 16));
    const Subframe fixed = exc;
    const History before = hist;
    complete_subframe_excitation(kBuiltinTableSet, exc, hist, static_cast<std::int16_t>(lag), static_cast<std::int16_t>(delta),
                                 static_cast<std::int16_t>(index), low_rate);
    for (std::size_t n = 0; n < 60; ++n) ASSERT_EQ(exc[n], add16(shl16(fixed[n], 1), want[n])) << "trial " << trial;
    ASSERT_TRUE(std::equal(before.begin() + 60, before.end(), hist.begin()));
    ASSERT_TRUE(std::equal(exc.begin(), exc.end(), hist.end() - 60));
  }
}

}  // namespace
}  // namespace g7231
