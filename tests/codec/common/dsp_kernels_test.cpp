// Every vector level's kernels against the scalar kernels, on random and extreme inputs: each level the
// processor runs must compute the same values, bit for bit. (The scalar kernels themselves are held to
// the saturating operators by the stage tests and by the equivalence test.)
#include "codec/common/dsp_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

class Kernels : public testing::TestWithParam<SimdLevel> {
 protected:
  void SetUp() override {
    if (!simd_level_available(GetParam())) GTEST_SKIP() << simd_level_name(GetParam()) << " not run by this processor";
  }
  const DspKernels& level() const { return dsp_kernels(GetParam()); }
  const DspKernels& scalar() const { return dsp_kernels(SimdLevel::scalar); }

  std::mt19937 rng{1234};
  // Values from tiny to full scale, with runs of the extremes.
  std::int16_t value(int amp) {
    switch (rng() % 16) {
      case 0: return -32768;
      case 1: return 32767;
      default: return static_cast<std::int16_t>(std::uniform_int_distribution<int>(-amp, amp)(rng));
    }
  }
  int amplitude() { return std::array{8, 300, 4000, 16000, 32767}[rng() % 5]; }
  template <std::size_t N>
  std::array<std::int16_t, N> vector(int amp) {
    std::array<std::int16_t, N> v;
    for (auto& x : v) x = value(amp);
    return v;
  }
};

// A pitch-gain table in the form the search reads, derived from its entries as the table set derives it.
class GainSearchTable {
 public:
  explicit GainSearchTable(const std::vector<AcbGainEntry>& rows)
      : rows_(rows), blocks_((rows.size() + 7) / 8), squares_(rows.size()), magnitudes_(rows.size()) {
    fill_acb_gain_blocks(rows_, blocks_);
    for (std::size_t e = 0; e < rows_.size(); ++e) {
      squares_[e] = fx::sum_of_squares(rows_[e]);
      magnitudes_[e] = static_cast<std::int32_t>(fx::sum_of_magnitudes(rows_[e]));
    }
  }
  AcbGainSearchTable view() const { return {rows_.front().data(), blocks_.data(), squares_.data(), magnitudes_.data()}; }

 private:
  std::vector<AcbGainEntry> rows_;
  std::vector<AcbGainBlock> blocks_;
  std::vector<std::int64_t> squares_;
  std::vector<std::int32_t> magnitudes_;
};

TEST_P(Kernels, FilterCascadeAndFormantWeighting) {
  for (int trial = 0; trial < 3000; ++trial) {
    const int amp = amplitude();
    const auto a = vector<kLpcOrder>(trial % 3 == 0 ? 32767 : 6000);
    const auto w = vector<2 * kLpcOrder>(trial % 3 == 0 ? 32767 : 6000);
    CascadeWork work;
    const auto mem = vector<2 * kLpcOrder>(amp);
    std::copy_n(mem.begin(), kLpcOrder, work.f.begin());
    std::copy_n(mem.begin() + kLpcOrder, kLpcOrder, work.r.begin());
    const auto history = vector<kHistorySamples>(amp);
    std::copy(history.begin(), history.end(), work.shaping.begin());
    const auto io = vector<kSubframeSamples>(amp);
    const auto lag = static_cast<std::int16_t>(15 + rng() % 131);
    // Now and then a full-scale shaping gain, where a rounded high product could wrap.
    const std::int16_t gain = trial % 10 == 0 ? (trial % 20 == 0 ? fx::kMin16 : fx::kMax16) : value(10240);
    for (const CascadeMode mode : {CascadeMode::impulse, CascadeMode::ringing, CascadeMode::update}) {
      CascadeWork w1 = work;
      CascadeWork w2 = work;
      auto io1 = io;
      auto io2 = io;
      scalar().filter_cascade(mode, io1, a, w, w1, lag, gain);
      level().filter_cascade(mode, io2, a, w, w2, lag, gain);
      ASSERT_EQ(io1, io2) << "trial " << trial;
      ASSERT_EQ(w1.f, w2.f) << "trial " << trial;
      ASSERT_EQ(w1.r, w2.r) << "trial " << trial;
    }
    auto frame1 = vector<kFrameSamples>(amp);
    auto frame2 = frame1;
    const auto coef = vector<kSubframes * 2 * kLpcOrder>(trial % 3 == 0 ? 32767 : 6000);
    auto fir1 = vector<kLpcOrder>(amp), iir1 = vector<kLpcOrder>(amp);
    auto fir2 = fir1, iir2 = iir1;
    scalar().formant_weighting(frame1, coef, fir1, iir1);
    level().formant_weighting(frame2, coef, fir2, iir2);
    ASSERT_EQ(frame1, frame2) << "trial " << trial;
    ASSERT_EQ(iir1, iir2) << "trial " << trial;
  }
}

// The four subframes' impulse responses at once against four impulse passes: coefficients from
// speech-like to full scale, so that some responses saturate and take the step-by-step pass.
TEST_P(Kernels, ImpulseResponsesOfFourSubframes) {
  for (int trial = 0; trial < 3000; ++trial) {
    const int scale = std::array{3000, 6000, 12000, 32767}[trial % 4];
    auto a = vector<kSubframes * kLpcOrder>(scale);
    auto w = vector<kSubframes * 2 * kLpcOrder>(scale);
    if (trial % 5 == 0) {
      // Every tap of one sign: the responses grow as fast as the taps allow, to full scale and past the
      // point where a chain saturates.
      for (auto& v : a) v = static_cast<std::int16_t>(std::abs(v) / 2);
      for (auto& v : w) v = static_cast<std::int16_t>(-std::abs(v) / 4);
    }
    std::array<std::int16_t, kSubframes> lags;
    std::array<std::int16_t, kSubframes> gains;
    for (std::size_t s = 0; s < kSubframes; ++s) {
      lags[s] = static_cast<std::int16_t>(15 + rng() % 131);
      gains[s] = value(10240);
    }
    std::array<std::array<std::int16_t, kSubframeSamples>, kSubframes> got;
    level().impulse_responses(got, a, w, lags, gains);
    for (std::size_t s = 0; s < kSubframes; ++s) {
      std::array<std::int16_t, kSubframeSamples> expected{};
      CascadeWork work;
      scalar().filter_cascade(CascadeMode::impulse, expected, std::span(a).subspan(kLpcOrder * s).first<kLpcOrder>(),
                              std::span(w).subspan(2 * kLpcOrder * s).first<2 * kLpcOrder>(), work, lags[s], gains[s]);
      ASSERT_EQ(got[s], expected) << "trial " << trial << " subframe " << s;
    }
  }
}

TEST_P(Kernels, CorrelationsAndConvolution) {
  for (int trial = 0; trial < 3000; ++trial) {
    const int amp = amplitude();
    // Plain sums that wrap: every level wraps alike.
    const auto x = vector<128>(amp);
    const auto y = vector<256>(amplitude());
    std::array<std::int32_t, 125> out1;
    std::array<std::int32_t, 125> out2;
    const std::size_t length = 8 * (1 + rng() % 15);
    const std::size_t count = 1 + rng() % 125;
    scalar().lagged_correlations(x.data(), y.data() + 128, length, count, out1.data());
    level().lagged_correlations(x.data(), y.data() + 128, length, count, out2.data());
    ASSERT_TRUE(std::equal(out1.begin(), out1.begin() + static_cast<std::ptrdiff_t>(count), out2.begin())) << trial;

    // The convolution, on inputs whose sums of squares allow it.
    auto seg = vector<kSubframeSamples>(amp);
    auto h = vector<kSubframeSamples>(amplitude());
    while (!fx::products_within(fx::sum_of_squares(seg), fx::sum_of_squares(h))) {
      for (auto& v : h) v = static_cast<std::int16_t>(v / 2);
    }
    std::array<std::int32_t, kSubframeSamples> c1;
    std::array<std::int32_t, kSubframeSamples> c2;
    scalar().convolve(seg, h, c1);
    level().convolve(seg, h, c2);
    ASSERT_EQ(c1, c2) << "trial " << trial;
  }
}

// Open-loop lag scores at every power of two and its neighbours (where a float's rounding carries a value
// to the next power), at the mantissa's rounding and saturation edges, and for energy 0.
TEST_P(Kernels, OpenLoopLagScores) {
  std::vector<std::int32_t> edges = {1, 0x7FFF7FFF, 0x7FFF8000, 0x7FFFFFFF, 0x3FFFC000, 0x3FFFBFFF};
  for (int b = 2; b < 31; ++b) {
    for (const std::int32_t d : {-2, -1, 0, 1}) edges.push_back((std::int32_t{1} << b) + d);
    if (b > 24) edges.push_back((std::int32_t{1} << b) - (std::int32_t{1} << (b - 25)));  // rounds up as a float
  }
  std::vector<std::int16_t> lags;
  std::vector<std::int32_t> corr, energy;
  for (const std::int32_t c : edges) {
    for (const std::int32_t e : edges) {
      lags.push_back(static_cast<std::int16_t>(18 + lags.size() % 125));
      corr.push_back(c);
      energy.push_back(lags.size() % 7 == 0 ? 0 : e);
    }
  }
  std::vector<PitchLagScore> want(corr.size()), got(corr.size());
  scalar().score_pitch_lags(lags.data(), corr.data(), energy.data(), corr.size(), want.data());
  level().score_pitch_lags(lags.data(), corr.data(), energy.data(), corr.size(), got.data());
  for (std::size_t k = 0; k < corr.size(); ++k) {
    ASSERT_EQ(std::tie(want[k].lag, want[k].x, want[k].cc, want[k].en), std::tie(got[k].lag, got[k].x, got[k].cc, got[k].en))
        << "corr " << corr[k] << " energy " << energy[k];
  }
}

TEST_P(Kernels, PitchSearch) {
  for (int trial = 0; trial < 2000; ++trial) {
    const int amp = amplitude();
    std::array<std::array<std::int16_t, kSubframeSamples + 4>, 4> bufs;
    for (auto& b : bufs) b = vector<kSubframeSamples + 4>(amp);
    auto h = vector<kSubframeSamples>(amplitude());
    h[0] = 8192;
    // The target two bytes past a vector boundary: a kernel may not assume more than an int16 array's alignment.
    struct alignas(32) {
      std::int16_t pad;
      PaddedVector x{};
    } held;
    PaddedVector& x = held.x;
    const auto target = vector<kSubframeSamples>(amplitude());
    std::copy(target.begin(), target.end(), x.begin());
    const std::int64_t hs = fx::sum_of_squares(h);
    const std::int64_t xs = fx::sum_of_squares(x);
    std::array<std::int32_t, 80> c1{};
    std::array<std::int32_t, 80> c2{};
    scalar().pitch_candidate_correlations(bufs, h, hs, x, xs, c1);
    level().pitch_candidate_correlations(bufs, h, hs, x, xs, c2);
    ASSERT_EQ(c1, c2) << "trial " << trial;

    // A gain table of random entries, some of them full scale.
    const std::size_t entries = 1 + rng() % 170;
    std::vector<AcbGainEntry> rows(entries);
    const int entry_amp = amplitude();
    for (auto& row : rows) {
      for (auto& v : row) v = value(entry_amp);
    }
    const GainSearchTable table(rows);
    const AcbGainSearchTable search = table.view();
    const auto g = vector<20>(amplitude());
    const auto start = static_cast<std::int32_t>(rng() % 1000);
    GainSearchBest b1{.criterion = start};
    GainSearchBest b2 = b1;
    scalar().pitch_gain_search(g, search, entries, b1);
    level().pitch_gain_search(g, search, entries, b2);
    ASSERT_EQ(b1.criterion, b2.criterion) << "trial " << trial;
    ASSERT_EQ(b1.entry, b2.entry) << "trial " << trial;
    ASSERT_EQ(b1.found, b2.found) << "trial " << trial;
    // And the entry the saturating criterion picks, step by step.
    std::int32_t top = std::numeric_limits<std::int32_t>::min();
    std::size_t top_entry = 0;
    for (std::size_t e = 0; e < entries; ++e) {
      std::int32_t crit = 0;
      for (std::size_t i = 0; i < 20; ++i) crit = fx::add32(crit, fx::shr32(fx::mult32_16x16(g[i], rows[e][i]), 1));
      if (crit > top) {
        top = crit;
        top_entry = e;
      }
    }
    ASSERT_EQ(b1.found, top > start) << "trial " << trial;
    if (b1.found) {
      ASSERT_EQ(b1.criterion, top) << "trial " << trial;
      ASSERT_EQ(b1.entry, top_entry) << "trial " << trial;
    }
  }
}

// Candidates whose correlations pass the 32-bit range once doubled (target) or quadrupled (cross): a
// steady or alternating excitation through a response that only scales it, with a target along or
// against it. Every correlation must stop at the limit on its own side.
TEST_P(Kernels, PitchCorrelationsAtSaturation) {
  struct Case {
    int amplitude;
    bool alternating;  // neighbouring lags then correlate negatively
    int target_sign;
  };
  const std::vector<Case> cases = {
      {16900, false, 1}, {16900, false, -1}, {16900, true, 1}, {16900, true, -1},
      {11000, false, 1}, {11000, true, -1}, {300, true, 1},
  };
  std::array<std::int16_t, kSubframeSamples> h{};
  h[0] = 8192;
  const std::int64_t hs = fx::sum_of_squares(h);
  for (const Case& c : cases) {
    std::array<std::array<std::int16_t, kSubframeSamples + 4>, 3> bufs;
    for (std::size_t j = 0; j < bufs.size(); ++j) {
      for (std::size_t n = 0; n < bufs[j].size(); ++n) {
        bufs[j][n] = static_cast<std::int16_t>(c.alternating && (n + j) % 2 == 1 ? -c.amplitude : c.amplitude);
      }
    }
    PaddedVector x{};
    for (std::size_t n = 0; n < kSubframeSamples; ++n) x[n] = static_cast<std::int16_t>(c.target_sign * bufs[0][n + 4] / 2);
    const std::int64_t xs = fx::sum_of_squares(x);
    std::array<std::int32_t, 60> c1{};
    std::array<std::int32_t, 60> c2{};
    scalar().pitch_candidate_correlations(bufs, h, hs, x, xs, c1);
    level().pitch_candidate_correlations(bufs, h, hs, x, xs, c2);
    ASSERT_EQ(c1, c2) << "amplitude " << c.amplitude << " alternating " << c.alternating << " sign " << c.target_sign;
  }
}

// Entries whose values share the signs of g: every partial sum grows toward the total, which lies around
// 2^31, so the criterion saturates for some entries and the bounds that admit plain sums are tested
// where they are tight.
TEST_P(Kernels, PitchGainSearchAtSaturation) {
  for (int trial = 0; trial < 2000; ++trial) {
    std::array<std::int16_t, 20> g;
    for (auto& v : g) v = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-32767, 32767)(rng));
    const std::size_t entries = 1 + rng() % 170;
    const int entry_amp = std::array{9000, 14000, 20000, 32767}[rng() % 4];
    std::vector<AcbGainEntry> rows(entries);
    for (auto& row : rows) {
      for (std::size_t i = 0; i < 20; ++i) {
        const int m = std::uniform_int_distribution<int>(0, entry_amp)(rng);
        row[i] = static_cast<std::int16_t>(g[i] < 0 ? -m : m);
      }
    }
    const GainSearchTable table(rows);
    const AcbGainSearchTable search = table.view();
    GainSearchBest b1;
    GainSearchBest b2;
    scalar().pitch_gain_search(g, search, entries, b1);
    level().pitch_gain_search(g, search, entries, b2);
    std::int32_t top = 0;
    std::size_t top_entry = 0;
    for (std::size_t e = 0; e < entries; ++e) {
      std::int32_t crit = 0;
      for (std::size_t i = 0; i < 20; ++i) crit = fx::add32(crit, fx::shr32(fx::mult32_16x16(g[i], rows[e][i]), 1));
      if (crit > top) {
        top = crit;
        top_entry = e;
      }
    }
    for (const GainSearchBest& b : {b1, b2}) {
      ASSERT_EQ(b.criterion, top) << "trial " << trial;
      ASSERT_EQ(b.entry, top_entry) << "trial " << trial;
    }
  }
}

// Removing the filtered predictor output from the target, against the msu32 chain, for inputs within
// the bound the caller checks: targets at full scale, outputs that saturate both ways, and no predictor.
TEST_P(Kernels, PitchTargetUpdate) {
  constexpr std::int64_t kRoom = fx::kMax32 - (std::int64_t{1} << 30);
  int checked = 0;
  int saturated = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    auto target = vector<kSubframeSamples>(trial % 4 == 0 ? 32767 : amplitude());
    if (trial % 8 == 1) target.fill(static_cast<std::int16_t>(trial % 16 == 1 ? 32767 : -32768));
    // Predictor and response of moderate size, so that most pairs meet the bound.
    const int v_amp = std::array{0, 300, 4000, 9000}[rng() % 4];
    std::array<std::int16_t, kSubframeSamples> v;
    std::array<std::int16_t, kSubframeSamples> h;
    for (auto& x : v) x = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-v_amp, v_amp)(rng));
    for (auto& x : h) x = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-4000, 4000)(rng));
    h[0] = 8192;
    if (!fx::products_within(fx::sum_of_squares(v), fx::sum_of_squares(h), kRoom)) continue;
    ++checked;
    auto expected = target;
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      std::int32_t acc = fx::shr32(fx::deposit_high(target[n]), 1);
      for (std::size_t k = 0; k <= n; ++k) acc = fx::msu32(acc, v[k], h[n - k]);
      expected[n] = fx::round32_to16(fx::shl32(acc, 1));
      if ((expected[n] == 32767 || expected[n] == -32768) && expected[n] != target[n]) ++saturated;
    }
    auto t1 = target;
    auto t2 = target;
    scalar().pitch_target_update(t1, v, h);
    level().pitch_target_update(t2, v, h);
    ASSERT_EQ(t1, expected) << "trial " << trial;
    ASSERT_EQ(t2, expected) << "trial " << trial;
  }
  EXPECT_GT(checked, 1000);
  EXPECT_GT(saturated, 0);
}

// The common scaling of the candidates' correlations, against round32_to16(shl32(c, norm32(largest))),
// at the extremes: -2^31 (whose abs32 is capped), values that round up to 32768, all zeros, one small
// value; for three candidates (60 values) and four (80).
TEST_P(Kernels, PitchScaleCorrelations) {
  constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
  const std::vector<std::vector<std::int32_t>> fixed = {
      {kMin32, fx::kMax32, -fx::kMax32, 0x7FFF8000, 0x7FFF7FFF, -0x7FFF8000, 1, -1},
      {0x3FFFC000, -0x40000000, 0x3FFFBFFF, 5},
      {0},
      {-1},
      {3, -2},
  };
  for (const std::size_t used : {std::size_t{60}, std::size_t{80}}) {
    for (int trial = 0; trial < 200; ++trial) {
      std::vector<std::int32_t> c(used, 0);
      if (trial < static_cast<int>(fixed.size())) {
        std::copy(fixed[trial].begin(), fixed[trial].end(), c.begin() + trial % 7);
      } else {
        const int bits = 1 + static_cast<int>(rng() % 31);
        for (auto& v : c) v = static_cast<std::int32_t>(rng()) >> (32 - bits);
      }
      std::int32_t largest = 0;
      for (const std::int32_t v : c) largest = std::max(largest, fx::abs32(v));
      std::vector<std::int16_t> expected(used);
      for (std::size_t i = 0; i < used; ++i) expected[i] = fx::round32_to16(fx::shl32(c[i], fx::norm32(largest)));
      std::vector<std::int16_t> g1(used + 4, 7);
      std::vector<std::int16_t> g2(used + 4, 7);
      scalar().pitch_scale_correlations(c, std::span(g1).first(used));
      level().pitch_scale_correlations(c, std::span(g2).first(used));
      ASSERT_EQ(std::vector(g1.begin(), g1.begin() + static_cast<std::ptrdiff_t>(used)), expected) << "trial " << trial;
      ASSERT_EQ(g2, g1) << "trial " << trial;  // and nothing written past the end
    }
  }
}

// Equal criteria in several places: the search keeps the first entry that beats the starting criterion,
// wherever the copies fall among the blocks of eight (same lane or not, before or after the count), and
// none when the starting criterion equals the best.
TEST_P(Kernels, PitchGainSearchTiesKeepTheFirstEntry) {
  struct Case {
    std::size_t entries;
    std::vector<std::size_t> copies;  // where the best entry stands
    std::int32_t start_below;         // the starting criterion, this far below the best one
    bool found;
    std::size_t entry;
  };
  const std::vector<Case> cases = {
      {170, {13, 5}, 1, true, 5},       // same lane, an earlier block
      {170, {9, 14}, 1, true, 9},       // same block, the lower lane
      {170, {15, 16}, 1, true, 15},     // a high lane before a low lane of the next block
      {170, {169, 0}, 1, true, 0},      // the first entry and the last
      {20, {21, 30, 19}, 1, true, 19},  // copies past the count do not count
      {93, {92, 93}, 1, true, 92},      // the last entry within a cut block
      {170, {40, 41}, 0, false, 0},     // equal to the starting criterion: not taken
  };
  std::array<std::int16_t, 20> g;
  for (auto& v : g) v = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-20000, 20000)(rng));
  AcbGainEntry winner;
  for (std::size_t i = 0; i < 20; ++i) winner[i] = static_cast<std::int16_t>(g[i] < 0 ? -3000 : 3000);
  std::int32_t winner_crit = 0;
  for (std::size_t i = 0; i < 20; ++i) winner_crit += g[i] * winner[i];
  for (const Case& c : cases) {
    std::vector<AcbGainEntry> rows(kAcbEntries);
    for (auto& row : rows) {
      for (auto& v : row) v = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-1000, 1000)(rng));
    }
    for (std::size_t at : c.copies) rows[at] = winner;
    const GainSearchTable table(rows);
    const AcbGainSearchTable search = table.view();
    for (const DspKernels* k : {&scalar(), &level()}) {
      GainSearchBest b{.criterion = winner_crit - c.start_below, .entry = 7};
      k->pitch_gain_search(g, search, c.entries, b);
      EXPECT_EQ(b.found, c.found) << "first copy " << c.copies.front();
      EXPECT_EQ(b.entry, c.found ? c.entry : 7) << "first copy " << c.copies.front();
      EXPECT_EQ(b.criterion, winner_crit - (c.found ? 0 : c.start_below)) << "first copy " << c.copies.front();
    }
  }
}

TEST_P(Kernels, AcelpMatrixAndSearch) {
  for (int trial = 0; trial < 2000; ++trial) {
    auto p = vector<kAcelpSearchFrame>(amplitude());
    std::fill_n(p.begin(), 4, std::int16_t{0});
    AcelpCorrMatrix m1;
    AcelpCorrMatrix m2;
    scalar().acelp_correlations(p, m1);
    level().acelp_correlations(p, m2);
    ASSERT_EQ(m1.diag, m2.diag) << "trial " << trial;
    ASSERT_EQ(m1.cross, m2.cross) << "trial " << trial;

    // The search on a random matrix and target; the threshold anywhere from nothing to everything.
    const auto d = vector<kAcelpSearchFrame>(amplitude());
    AcelpCorrMatrix m;
    for (auto& row : m.diag) {
      for (auto& v : row) v = value(amplitude());
    }
    for (auto& block : m.cross) {
      for (auto& row : block) {
        for (auto& v : row) v = value(amplitude());
      }
    }
    const std::int16_t thr = value(32767);
    std::int16_t budget1 = static_cast<std::int16_t>(1 + rng() % 600);
    std::int16_t budget2 = budget1;
    AcelpChoice a1;
    AcelpChoice a2;
    scalar().acelp_search(d, m, thr, budget1, a1);
    level().acelp_search(d, m, thr, budget2, a2);
    ASSERT_EQ(a1.positions, a2.positions) << "trial " << trial;
    ASSERT_EQ(a1.grid, a2.grid) << "trial " << trial;
    ASSERT_EQ(budget1, budget2) << "trial " << trial;
  }
}

// The matrix from responses at the edges: one pulse at the first or last position (the shortest and the
// longest runs), full-scale runs whose sums saturate, and the same with -32768 throughout.
TEST_P(Kernels, AcelpMatrixAtTheEdges) {
  using Frame = std::array<std::int16_t, kAcelpSearchFrame>;
  const auto pulse = [](std::size_t at, std::int16_t v) {
    Frame p{};
    p[at] = v;
    return p;
  };
  Frame alternating{};
  Frame lowest{};
  Frame ramp{};
  for (std::size_t n = 4; n < kAcelpSearchFrame; ++n) {
    alternating[n] = n % 2 ? fx::kMin16 : fx::kMax16;
    lowest[n] = fx::kMin16;
    ramp[n] = static_cast<std::int16_t>(500 * (n - 4));
  }
  const std::array<std::pair<const char*, Frame>, 7> cases = {{{"first position", pulse(4, 32767)},
                                                              {"second position", pulse(5, -32768)},
                                                              {"last even position", pulse(62, 20000)},
                                                              {"last position", pulse(63, -32768)},
                                                              {"full-scale alternation", alternating},
                                                              {"all -32768", lowest},
                                                              {"ramp", ramp}}};
  for (const auto& [what, p] : cases) {
    AcelpCorrMatrix m1;
    AcelpCorrMatrix m2;
    scalar().acelp_correlations(p, m1);
    level().acelp_correlations(p, m2);
    EXPECT_EQ(m1.diag, m2.diag) << what;
    EXPECT_EQ(m1.cross, m2.cross) << what;
  }
}

// The search where the budget runs out inside a k0, at its end or not at all, where nothing or everything
// passes the threshold, and where every candidate ties (the first must stay the choice).
TEST_P(Kernels, AcelpSearchAtTheBudgetAndThresholdEdges) {
  struct Case {
    const char* what;
    bool flat;  // equal targets and a constant matrix: every candidate scores the same
    std::int16_t entry;
    std::int16_t thr;
    std::int16_t budget;
  };
  const std::array<Case, 11> cases = {{{"one triple", false, 0, fx::kMin16, 1},
                                      {"inside the first k0", false, 0, fx::kMin16, 37},
                                      {"at the end of the first k0", false, 0, fx::kMin16, 64},
                                      {"one into the second k0", false, 0, fx::kMin16, 65},
                                      {"exactly every triple", false, 0, fx::kMin16, 512},
                                      {"more than every triple", false, 0, fx::kMin16, 600},
                                      {"nothing passes", false, 0, fx::kMax16, 120},
                                      {"ties, zero matrix", true, 0, fx::kMin16, 600},
                                      {"ties, positive energies", true, 1000, fx::kMin16, 200},
                                      {"ties, negative energies", true, -32768, fx::kMin16, 600},
                                      {"ties, budget inside a k0", true, 77, fx::kMin16, 100}}};
  for (const Case& c : cases) {
    for (int trial = 0; trial < 20; ++trial) {
      std::array<std::int16_t, kAcelpSearchFrame> d;
      AcelpCorrMatrix m;
      if (c.flat) {
        d.fill(static_cast<std::int16_t>(trial * 50));
        for (auto& row : m.diag) row.fill(c.entry);
        for (auto& block : m.cross) {
          for (auto& row : block) row.fill(c.entry);
        }
      } else {
        d = vector<kAcelpSearchFrame>(amplitude());
        for (auto& row : m.diag) {
          for (auto& v : row) v = value(amplitude());
        }
        for (auto& block : m.cross) {
          for (auto& row : block) {
            for (auto& v : row) v = value(amplitude());
          }
        }
      }
      std::int16_t budget1 = c.budget;
      std::int16_t budget2 = c.budget;
      AcelpChoice a1;
      AcelpChoice a2;
      scalar().acelp_search(d, m, c.thr, budget1, a1);
      level().acelp_search(d, m, c.thr, budget2, a2);
      ASSERT_EQ(a1.positions, a2.positions) << c.what << ", trial " << trial;
      ASSERT_EQ(a1.grid, a2.grid) << c.what << ", trial " << trial;
      ASSERT_EQ(budget1, budget2) << c.what << ", trial " << trial;
    }
  }
}

TEST_P(Kernels, MpmlqPlacementAndMerit) {
  for (int trial = 0; trial < 3000; ++trial) {
    // Correlations within the bound the search checks; some trials from a few small values, so that equal
    // magnitudes meet and the first of them must win.
    const bool ties = trial % 4 == 0;
    MpmlqPlacement p1;
    for (std::size_t i = 0; i < kGridSlots; ++i) {
      p1.work[i] = ties ? static_cast<std::int32_t>(rng() % 7) - 3
                        : std::uniform_int_distribution<std::int32_t>(-(1 << 29), 1 << 29)(rng);
    }
    for (std::size_t k = 0; k < 2 * kGridSlots - 1; ++k) {
      p1.slot_autocorr[k] = k == kGridSlots - 1 ? 0 : (ties ? static_cast<std::int32_t>(rng() % 2) : value(16000));
    }
    const std::size_t pulses = 5 + rng() % 2;
    const auto magnitude = static_cast<std::int16_t>(1 + rng() % 2000);
    p1.slots[0] = rng() % kGridSlots;
    p1.amplitudes[0] = rng() % 2 ? magnitude : static_cast<std::int16_t>(-magnitude);
    MpmlqPlacement p2 = p1;
    scalar().mpmlq_place_pulses(p1, pulses, magnitude);
    level().mpmlq_place_pulses(p2, pulses, magnitude);
    ASSERT_EQ(p1.slots, p2.slots) << "trial " << trial;
    ASSERT_EQ(p1.amplitudes, p2.amplitudes) << "trial " << trial;

    // Pulses through a response whose filtered sums stay within the kernel's bound.
    MpmlqMeritInput in;
    const auto r = vector<kSubframeSamples>(amplitude());
    std::copy(r.begin(), r.end(), in.r_line.begin() + 64);
    const auto t = vector<kSubframeSamples>(amplitude());
    std::copy(t.begin(), t.end(), in.target.begin());
    in.target_squares = fx::sum_of_squares(t);
    const std::int64_t largest = std::max<std::int64_t>(1, fx::largest_magnitude(r));
    const auto amp = static_cast<std::int16_t>(std::min<std::int64_t>(32767, fx::kMax32 / (2 * 6 * largest)) * (1 + rng() % 100) / 100);
    std::array<std::size_t, kMpmlqMaxPulses> positions;
    std::array<std::int16_t, kMpmlqMaxPulses> amplitudes;
    for (std::size_t j = 0; j < pulses; ++j) {
      positions[j] = rng() % kSubframeSamples;
      amplitudes[j] = rng() % 2 ? amp : static_cast<std::int16_t>(-amp);
    }
    PaddedVector v1, v2;
    std::int32_t merit1 = 1, merit2 = 1;
    const bool ok1 = scalar().mpmlq_merit(in, positions.data(), amplitudes.data(), pulses, v1, merit1);
    const bool ok2 = level().mpmlq_merit(in, positions.data(), amplitudes.data(), pulses, v2, merit2);
    ASSERT_EQ(ok1, ok2) << "trial " << trial;
    ASSERT_EQ(v1, v2) << "trial " << trial;
    ASSERT_EQ(merit1, merit2) << "trial " << trial;
  }
}

TEST_P(Kernels, LspBandSearch) {
  for (int trial = 0; trial < 2000; ++trial) {
    // Codebook and target values within the bound the search checks (every score's sums within 32 bits),
    // row 0 zero; some trials from a few values, so that equal scores meet and the first row must win.
    // A 3-value band keeps its fourth value, target and weight zero.
    const std::size_t width = 3 + trial % 2;
    const bool ties = trial % 3 == 0;
    std::uniform_int_distribution<int> within(-4000, 4000);
    LspPaddedCodebook book{};
    for (std::size_t r = 1; r < book.size(); ++r) {
      for (std::size_t j = 0; j < width; ++j) {
        book[r][j] = static_cast<std::int16_t>(ties ? static_cast<int>(rng() % 3) - 1 : within(rng));
      }
    }
    std::array<std::int16_t, 4> target{};
    std::array<std::int16_t, 4> weights{};
    for (std::size_t j = 0; j < width; ++j) {
      target[j] = static_cast<std::int16_t>(within(rng));
      weights[j] = static_cast<std::int16_t>(rng() % 32768);
    }
    ASSERT_EQ(scalar().lsp_band_search(book, target, weights), level().lsp_band_search(book, target, weights))
        << "trial " << trial;
  }
}

// At the edges of the bound: the largest codebook values with a small target, full-scale targets with
// small codebook values, full weights, and scores that all fall below row 0's.
TEST_P(Kernels, LspBandSearchAtTheBound) {
  struct Case {
    const char* what;
    int largest_c;
    int largest_target;
    bool negative_scores;
  };
  const Case cases[] = {
      {"large values, small target", 13000, 3800, false},
      {"full-scale target, small values", 1000, 32767, false},
      {"no row above row 0", 13000, 0, true},
  };
  for (const Case& c : cases) {
    for (int trial = 0; trial < 200; ++trial) {
      const std::size_t width = 3 + trial % 2;
      LspPaddedCodebook book{};
      std::array<std::int16_t, 4> target{};
      std::array<std::int16_t, 4> weights{};
      for (std::size_t j = 0; j < width; ++j) {
        target[j] = static_cast<std::int16_t>(rng() % 2 ? c.largest_target : -c.largest_target);
        weights[j] = static_cast<std::int16_t>(trial % 2 ? 32767 : rng() % 32768);
        for (std::size_t r = 1; r < book.size(); ++r) {
          const int v = rng() % 4 == 0 ? c.largest_c : std::uniform_int_distribution<int>(-c.largest_c, c.largest_c)(rng);
          book[r][j] = static_cast<std::int16_t>(rng() % 2 ? v : -v);
        }
      }
      const std::int16_t row = scalar().lsp_band_search(book, target, weights);
      if (c.negative_scores) {
        ASSERT_EQ(row, 0) << c.what;
      }
      ASSERT_EQ(row, level().lsp_band_search(book, target, weights)) << c.what << ", trial " << trial;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(VectorLevels, Kernels,
                         testing::Values(SimdLevel::sse41, SimdLevel::avx2, SimdLevel::avx512),
                         [](const testing::TestParamInfo<SimdLevel>& info) { return simd_level_name(info.param); });

}  // namespace
}  // namespace g7231
