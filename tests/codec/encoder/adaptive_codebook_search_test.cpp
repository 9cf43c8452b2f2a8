// The closed-loop search of the adaptive codebook against a step-by-step model, and targets made by one
// known predictor, which the search must find exactly when its candidate window, table and taming allow it.
#include "codec/encoder/adaptive_codebook_search.h"
#include "codec/tables/builtin_table_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "codec/encoder/excitation_taming.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Subframe = std::array<std::int16_t, kSubframeSamples>;
using History = std::array<std::int16_t, kHistorySamples>;
using Lagged = std::array<std::int16_t, kLaggedExcitationSamples>;

// The fetch and the predictor's decoding are checked against their own models in the common stage's test.
Lagged model_fetch(const History& h, int lag) {
  Lagged buf;
  fetch_lagged_excitation(buf, h, static_cast<std::int16_t>(lag));
  return buf;
}

Subframe model_decode(const History& h, int lag, int delta, int index, bool low_rate) {
  Subframe out;
  decode_adaptive_codebook(kBuiltinTableSet, out, h, static_cast<std::int16_t>(lag), static_cast<std::int16_t>(delta),
                           static_cast<std::int16_t>(index), low_rate);
  return out;
}

const std::int16_t* table_row(bool low_rate, int lag, int index) {
  return low_rate || lag >= 58 ? kBuiltinTableSet.acb_gain170[index].data() : kBuiltinTableSet.acb_gain85[index].data();
}

History random_history(std::mt19937& rng, int amp) {
  History h;
  for (auto& v : h) v = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-amp, amp)(rng));
  return h;
}

// The search step by step: five filtered segments per candidate lag, twenty correlations each, one
// common scaling, then every allowed gain entry of the table that the lag selects.
void model_search(Subframe& x, const Subframe& h, const G7231Encoder& enc, FrameParams& p, std::size_t s) {
  const bool odd = s % 2 == 1, low_rate = enc.low_rate != 0;
  int base = p.olp_lag[s / 2];
  if (!odd) base = std::min(base == 18 ? 19 : base, 140);
  const int candidates = odd ? 4 : 3;
  std::vector<std::int32_t> c;
  for (int j = 0; j < candidates; ++j) {
    const Lagged buf = model_fetch(enc.excitation_history, base + j - 1);
    std::array<Subframe, 5> f;
    for (std::size_t n = 0; n < 60; ++n) {
      std::int32_t acc = 0;
      for (std::size_t k = 0; k <= n; ++k) acc = mac32(acc, buf[4 + k], h[n - k]);
      f[4][n] = round32_to16(acc);
    }
    for (int t = 3; t >= 0; --t) {
      f[t][0] = mult16_round(buf[t], 8192);
      for (std::size_t n = 1; n < 60; ++n) f[t][n] = round32_to16(mac32(deposit_high(f[t + 1][n - 1]), buf[t], h[n]));
    }
    const auto half_sum = [](const Subframe& u, const Subframe& v) {
      std::int32_t acc = 0;
      for (std::size_t n = 0; n < 60; ++n) acc = add32(acc, shr32(mult32_16x16(u[n], v[n]), 1));
      return acc;
    };
    for (int t = 0; t < 5; ++t) c.push_back(shl32(half_sum(x, f[t]), 1));
    for (int t = 0; t < 5; ++t) {
      std::int32_t acc = 0;
      for (std::size_t n = 0; n < 60; ++n) acc = mac32(acc, f[t][n], f[t][n]);
      c.push_back(acc);
    }
    for (int t = 1; t < 5; ++t) {
      for (int u = 0; u < t; ++u) c.push_back(shl32(half_sum(f[t], f[u]), 2));
    }
  }
  std::int32_t largest = 0;
  for (std::int32_t v : c) largest = std::max(largest, abs32(v));
  const std::int16_t sh = norm32(largest);
  const std::int16_t limit = taming_gain_limit(static_cast<std::int16_t>(base - 1),
                                               static_cast<std::int16_t>(base + 1 + odd), enc.taming_error, enc.sine_detector);
  std::int32_t best = 0;
  int best_j = 1, best_e = 0;
  for (int j = 0; j < candidates; ++j) {
    const int table_lag = odd ? base : base + j - 1;
    const bool big = low_rate || table_lag >= 58;
    const int entries = big ? std::min(170, shl16(limit, 3) + 93) : std::min(85, shl16(limit, 2) + 51);
    for (int e = 0; e < entries; ++e) {
      const std::int16_t* row = table_row(low_rate, table_lag, e);
      std::int32_t crit = 0;
      for (int i = 0; i < 20; ++i) crit = add32(crit, shr32(mult32_16x16(round32_to16(shl32(c[20 * j + i], sh)), row[i]), 1));
      if (crit > best) { best = crit; best_j = j; best_e = e; }
    }
  }
  if (odd) {
    p.sub[s].lag_delta = static_cast<std::int16_t>(best_j);
  } else {
    p.olp_lag[s / 2] = static_cast<std::int16_t>(base + best_j - 1);
    p.sub[s].lag_delta = 1;
  }
  p.sub[s].acb_gain_index = static_cast<std::int16_t>(best_e);
  const Subframe v = model_decode(enc.excitation_history, p.olp_lag[s / 2], p.sub[s].lag_delta, best_e, low_rate);
  for (std::size_t n = 0; n < 60; ++n) {
    std::int32_t acc = shr32(deposit_high(x[n]), 1);
    for (std::size_t k = 0; k <= n; ++k) acc = msu32(acc, v[k], h[n - k]);
    x[n] = round32_to16(shl32(acc, 1));
  }
}

// An impulse response starting at 8192 and decaying.
Subframe random_response(std::mt19937& rng) {
  Subframe h{8192};
  for (std::size_t n = 1; n < 60; ++n) {
    const int bound = 7000 >> (n / 6);
    h[n] = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-bound, bound)(rng));
  }
  return h;
}

// The target that one predictor produces through h, so that the search can cancel it exactly.
Subframe filtered_prediction(const History& hist, const Subframe& h, int lag, int delta, int index, bool low_rate) {
  const Subframe v = model_decode(hist, lag, delta, index, low_rate);
  Subframe x;
  for (std::size_t n = 0; n < 60; ++n) {
    std::int32_t acc = 0;
    for (std::size_t k = 0; k <= n; ++k) acc = mac32(acc, v[k], h[n - k]);
    x[n] = round32_to16(shl32(acc, 1));
  }
  return x;
}

void set_taming_limit(G7231Encoder& enc, int t) {
  enc.taming_error.fill(kTamingThreshold - t * (1 << 23) - (1 << 22));
}

TEST(AdaptiveCodebookSearch, SearchMatchesModel) {
  std::mt19937 rng(4403);
  const auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int trial = 0; trial < 600; ++trial) {
    const bool low_rate = trial % 2 == 0;
    G7231Encoder enc(1, 0, 1, low_rate);
    enc.excitation_history = random_history(rng, std::array{5, 300, 3000, 32767}[trial % 4]);
    if (trial % 5 == 1) set_taming_limit(enc, uni(0, 12));
    if (trial % 5 == 2) {
      for (auto& e : enc.taming_error) e = uni(0, 1) ? 4 : kTamingThreshold + 1;  // zones open or closed
    }
    if (trial % 7 == 3) enc.sine_detector = -1;
    const std::size_t s = static_cast<std::size_t>(uni(0, 3));
    FrameParams params;
    params.olp_lag[s / 2] = static_cast<std::int16_t>(trial % 4 == 0 ? uni(55, 60) : uni(18, s % 2 ? 141 : 142));
    const Subframe h = random_response(rng);
    Subframe x = filtered_prediction(enc.excitation_history, h, params.olp_lag[s / 2] + uni(-1, 1), 1,
                                     uni(0, 1), low_rate || params.olp_lag[s / 2] >= 57);
    const int noise = trial % 4 == 0 ? 4 : 2000;
    for (auto& v : x) v = saturate16(v + uni(-noise, noise));

    FrameParams want_params = params;
    Subframe want = x;
    model_search(want, h, enc, want_params, s);
    search_adaptive_codebook(x, h, enc, params, s);
    ASSERT_EQ(params.olp_lag, want_params.olp_lag) << "trial " << trial;
    ASSERT_EQ(params.sub[s].lag_delta, want_params.sub[s].lag_delta) << "trial " << trial;
    ASSERT_EQ(params.sub[s].acb_gain_index, want_params.sub[s].acb_gain_index) << "trial " << trial;
    ASSERT_EQ(x, want) << "trial " << trial;
  }
}

TEST(AdaptiveCodebookSearch, ZeroHistoryChoosesTheBaseLagWithoutGain) {
  std::mt19937 rng(4404);
  for (const bool low_rate : {true, false}) {
    G7231Encoder enc(1, 0, 1, low_rate);
    const Subframe h = random_response(rng);
    for (auto [s, olp, lag] : {std::array{0, 50, 50}, {2, 18, 19}, {0, 142, 140}, {1, 77, 77}, {3, 18, 18}}) {
      FrameParams p;
      p.olp_lag[s / 2] = static_cast<std::int16_t>(olp);
      Subframe x;
      for (auto& v : x) v = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-32768, 32767)(rng));
      const Subframe before = x;
      search_adaptive_codebook(x, h, enc, p, static_cast<std::size_t>(s));
      EXPECT_EQ(p.olp_lag[s / 2], lag);
      EXPECT_EQ(p.sub[s].lag_delta, 1);
      EXPECT_EQ(p.sub[s].acb_gain_index, 0);
      EXPECT_EQ(x, before);
    }
  }
}

struct Found {
  int lag, delta, index;
};

// Searches subframe s from base lag `base` on a target that the predictor of lag made_lag and gain entry
// `index` produces; returns the predictor lag, lag_delta and entry that the search found.
Found search_for(G7231Encoder& enc, std::size_t s, int base, int made_lag, int index, std::uint32_t seed) {
  std::mt19937 rng(seed);
  enc.excitation_history = random_history(rng, 1000);
  const Subframe h = random_response(rng);
  const bool odd = s % 2 == 1;
  // Odd subframes choose the table by their base lag, even ones by the candidate lag.
  const int table_lag = odd ? base : made_lag;
  Subframe x = filtered_prediction(enc.excitation_history, h, table_lag, made_lag - table_lag + 1, index, enc.low_rate != 0);
  FrameParams p;
  p.olp_lag[s / 2] = static_cast<std::int16_t>(base);
  search_adaptive_codebook(x, h, enc, p, s);
  return {p.olp_lag[s / 2] + p.sub[s].lag_delta - 1, p.sub[s].lag_delta, p.sub[s].acb_gain_index};
}

TEST(AdaptiveCodebookSearch, CandidateWindowsAroundTheBaseLag) {
  G7231Encoder enc(1, 0, 1, 1);
  // Even subframes: 18 searches 18..20, 142 searches 139..141.
  for (auto [base, lo, hi] : {std::array{18, 18, 20}, {142, 139, 141}, {80, 79, 81}}) {
    for (int lag = lo - 1; lag <= hi + 1; ++lag) {
      const Found f = search_for(enc, 2, base, lag, 169, 4405u + static_cast<unsigned>(lag));
      if (lag >= lo && lag <= hi) {
        EXPECT_EQ(f.lag, lag) << "base " << base;
        EXPECT_EQ(f.index, 169) << "base " << base;
      } else {
        EXPECT_TRUE(f.lag >= lo && f.lag <= hi) << "base " << base << " found " << f.lag;
      }
      EXPECT_EQ(f.delta, 1);
    }
  }
  // Odd subframes: base 18 searches 17..20, 141 searches 140..143.
  for (auto [base, lo] : {std::array{18, 17}, {141, 140}}) {
    for (int lag = lo; lag <= lo + 3; ++lag) {
      const Found f = search_for(enc, 3, base, lag, 169, 4406u + static_cast<unsigned>(lag));
      EXPECT_EQ(f.lag, lag) << "base " << base;
      EXPECT_EQ(f.delta, lag - lo);
      EXPECT_EQ(f.index, 169);
    }
  }
}

TEST(AdaptiveCodebookSearch, TableChoiceFollowsRateAndLag) {
  G7231Encoder high(1, 0, 1, 0);
  // Even subframe with base 58: the 85-entry table for 57, the 170-entry table for 58 and 59.
  for (auto [lag, index] : {std::array{57, 84}, {58, 169}, {59, 169}}) {
    const Found f = search_for(high, 0, 58, lag, index, 4407);
    EXPECT_EQ(f.lag, lag);
    EXPECT_EQ(f.index, index);
  }
  // Odd subframes: one table for all four candidates, chosen by the base.
  EXPECT_EQ(search_for(high, 1, 57, 59, 84, 4408).index, 84);
  EXPECT_EQ(search_for(high, 1, 58, 57, 169, 4409).index, 169);
  // At 5.3 kbit/s the 170-entry table serves every lag.
  G7231Encoder low(1, 0, 1, 1);
  EXPECT_EQ(search_for(low, 0, 40, 40, 169, 4410).index, 169);
  EXPECT_EQ(search_for(low, 1, 20, 19, 169, 4411).index, 169);
}

TEST(AdaptiveCodebookSearch, TamingLimitsTheEntriesSearched) {
  G7231Encoder enc(1, 0, 1, 0);
  const auto last_entry_found = [&](int limit, int base, int index) {
    set_taming_limit(enc, limit);
    const Found f = search_for(enc, 0, base, base, index, 4412);
    EXPECT_LT(f.index, limit == 0 ? (index == 84 ? 51 : 93) : index + 1);
    return f.index == index;
  };
  // 85-entry table: 4T + 51 entries, the whole table from T = 9.
  EXPECT_FALSE(last_entry_found(0, 40, 84));
  EXPECT_FALSE(last_entry_found(8, 40, 84));
  EXPECT_TRUE(last_entry_found(9, 40, 84));
  // 170-entry table: 8T + 93 entries, the whole table from T = 10.
  EXPECT_FALSE(last_entry_found(0, 100, 169));
  EXPECT_FALSE(last_entry_found(9, 100, 169));
  EXPECT_TRUE(last_entry_found(10, 100, 169));
  // The estimates looked at are those of the zones from the lowest candidate lag - 61 to the highest + 2.
  set_taming_limit(enc, 127);
  enc.taming_error[3] = kTamingThreshold + 1;
  EXPECT_EQ(search_for(enc, 0, 87, 87, 169, 4413).index, 169);  // candidates up to 88: zones 0..2
  EXPECT_NE(search_for(enc, 1, 87, 87, 169, 4413).index, 169);  // odd, up to 89: zone 3 as well
  set_taming_limit(enc, 127);
  enc.taming_error[0] = kTamingThreshold + 1;
  EXPECT_NE(search_for(enc, 0, 92, 92, 169, 4414).index, 169);  // lowest 91: from zone 0
  EXPECT_EQ(search_for(enc, 0, 93, 93, 169, 4414).index, 169);  // lowest 92: from zone 1
  // A fired sinusoid detector closes the upper entries whatever the estimates.
  set_taming_limit(enc, 127);
  enc.sine_detector = -1;
  EXPECT_LT(search_for(enc, 0, 100, 100, 169, 4412).index, 93);
}

}  // namespace
}  // namespace g7231
