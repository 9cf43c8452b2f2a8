// Fixed-codebook excitation from coded parameters: the sharpening tables and comb, ACELP pulses on their
// tracks, the MP-MLQ position index decoded against an independent ranking, and the pulse train.
#include "codec/common/fixed_codebook_excitation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "codec/tables/fixed_codebook_tables.h"
#include "codec/tables/builtin_table_set.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Vector = std::array<std::int16_t, kSubframeSamples>;

std::int64_t binomial(std::int64_t n, std::int64_t k) {
  if (k < 0 || n < k) return 0;
  std::int64_t c = 1;
  for (std::int64_t j = 1; j <= k; ++j) c = c * (n - k + j) / j;
  return c;
}

// Whatever the installed set, an entry either switches sharpening off (offset 60, gain 0) or moves the
// pitch lag by -2..2; acelp_sharpening applies the entry to the lag.
TEST(SharpeningTables, EntriesSwitchOffOrMoveTheLagSlightly) {
  std::size_t off = 0;
  for (std::size_t i = 0; i < 170; ++i) {
    const std::int16_t o = kBuiltinTableSet.sharp_lag_offset[i];
    if (o == 60) {
      ++off;
      EXPECT_EQ(kBuiltinTableSet.sharp_gain[i], 0) << i;
    } else {
      EXPECT_TRUE(o >= -2 && o <= 2) << i;
      EXPECT_GE(kBuiltinTableSet.sharp_gain[i], 0) << i;
    }
    const AcelpSharpening s = acelp_sharpening(kBuiltinTableSet, 40, static_cast<std::int16_t>(i));
    EXPECT_EQ(s.lag, 40 + o) << i;
    EXPECT_EQ(s.gain, kBuiltinTableSet.sharp_gain[i]) << i;
  }
  EXPECT_EQ(kBuiltinTableSet.sharp_lag_offset[0], 60);  // no pitch prediction, no sharpening
  EXPECT_LT(off, 170u);
}

TEST(Sharpening, CombsFromTheLagOnRecursivelyAndStopsAtTheShortLagLimit) {
  std::mt19937 rng(5101);
  for (const int lag : {18, 20, 29, 30, 45, 57, 58, 80}) {
    Vector v;
    for (auto& x : v) x = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-30000, 30000)(rng));
    Vector want = v;
    if (lag < 58) {
      for (int n = lag; n < 60; ++n) want[n] = add16(want[n], mult16(want[n - lag], 29000));
    }
    apply_sharpening(v, {static_cast<std::int16_t>(lag), 29000});
    EXPECT_EQ(v, want) << "lag " << lag;
  }
}

// Track t's pulse with index k sits at 8k + 2t + grid; tracks 2 and 3 may point past the subframe.
TEST(AcelpExcitation, PulsesOnTheirTracksWithTheirSignsAndGain) {
  struct Case {
    std::int16_t position_code, grid, signs;
    std::array<int, 4> want;  // signed positions + 1 (0: pulse absent)
  };
  const Case cases[] = {
      {0, 0, 15, {1, 3, 5, 7}},
      {0, 1, 0, {-2, -4, -6, -8}},
      {0x0FFF, 0, 15, {57, 59, 0, 0}},   // tracks 2 and 3 at 60 and 62: absent
      {0x0FFF, 1, 5, {58, -60, 0, 0}},   // 61 and 63: absent
      {0x01C7, 0, 9, {57, -3, 0, 7}},  // k = 7, 0, 7, 0: track 2 at 60 is absent
  };
  for (const Case& c : cases) {
    Vector got;
    build_acelp_excitation(got, {c.position_code, 10, c.grid, c.signs}, {60, 0});
    Vector want{};
    for (int p : c.want) {
      if (p != 0) want[static_cast<std::size_t>(std::abs(p) - 1)] = static_cast<std::int16_t>(p > 0 ? 55 : -55);
    }
    EXPECT_EQ(got, want) << c.position_code << " grid " << c.grid;
  }
  // Sharpening applies to the pulses: a pulse at 0 repeats at the lag, scaled.
  Vector got;
  build_acelp_excitation(got, {0, 23, 0, 1}, {20, 16384});
  EXPECT_EQ(got[0], 6623);
  EXPECT_EQ(got[20], 3311);
  EXPECT_EQ(got[40], 1655);
}

TEST(MpmlqTables, PositionCombinationsAreBinomials) {
  EXPECT_EQ(kPositionCombTable[0][0], 118755);
  EXPECT_EQ(kPositionCombTable[0][1], 98280);
  EXPECT_EQ(kPositionCombTable[0][2], 80730);
  for (std::size_t row = 0; row < 6; ++row) {
    for (std::size_t i = 0; i < 30; ++i) {
      EXPECT_EQ(kPositionCombTable[row][i], binomial(29 - static_cast<int>(i), 5 - static_cast<int>(row)))
          << row << "," << i;
    }
  }
  EXPECT_TRUE(std::ranges::all_of(kPositionCombTable[5], [](std::int32_t v) { return v == 1; }));
}

// Repeating the pulses at the period adds delayed copies of the input as it was, each addition
// saturating: not a recursive comb, whose running sums would saturate differently.
TEST(MpmlqPulseTrain, AddsDelayedCopiesOfTheInput) {
  Vector src{};
  src[0] = 20000;
  src[20] = 20000;
  src[40] = -20000;
  Vector dst;
  mpmlq_pulse_train(dst, src, 20);
  EXPECT_EQ(dst[0], 20000);
  EXPECT_EQ(dst[20], 32767);  // 20000 + 20000, saturated
  EXPECT_EQ(dst[40], 20000);  // -20000 + 20000 + 20000; a recursive comb would give 12767
  EXPECT_EQ(dst[1], 0);

  Vector in_place = src;
  mpmlq_pulse_train(in_place, in_place, 20);
  EXPECT_EQ(in_place, dst);

  mpmlq_pulse_train(dst, src, 60);
  EXPECT_EQ(dst, src);
}

// The position index is the lexicographic rank of the occupied slots: rank every set by counting, and the
// excitation must put the pulses back on exactly those slots with their signs and the gain level.
TEST(MpmlqExcitation, DecodesTheRankOfTheOccupiedSlots) {
  std::mt19937 rng(5102);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::size_t pulses = trial % 2 == 0 ? 6 : 5;
    std::array<int, 30> slots;
    std::iota(slots.begin(), slots.end(), 0);
    std::shuffle(slots.begin(), slots.end(), rng);
    std::vector<int> chosen(slots.begin(), slots.begin() + static_cast<std::ptrdiff_t>(pulses));
    std::sort(chosen.begin(), chosen.end());
    if (trial == 0) std::iota(chosen.begin(), chosen.end(), 0);        // rank 0
    if (trial == 1) std::iota(chosen.begin(), chosen.end(), 25);       // the last rank

    std::int64_t rank = 0;
    for (std::size_t j = 0, prev = 0; j < pulses; ++j) {
      for (int i = j == 0 ? 0 : static_cast<int>(prev) + 1; i < chosen[j]; ++i) {
        rank += binomial(29 - i, static_cast<std::int64_t>(pulses - 1 - j));
      }
      prev = static_cast<std::size_t>(chosen[j]);
    }
    if (trial == 0) {
      EXPECT_EQ(rank, 0);
    }
    if (trial == 1) {
      EXPECT_EQ(rank, mpmlq_position_codes(pulses) - 1);
    }

    SubframeParams sub;
    sub.positions = static_cast<std::int32_t>(rank);
    sub.grid = static_cast<std::int16_t>(trial % 3 == 0);
    sub.fcb_gain_index = static_cast<std::int16_t>(trial % 24);
    sub.signs = static_cast<std::int16_t>(rng() % (1u << pulses));
    Vector got;
    build_mpmlq_excitation(got, sub, pulses, 20);
    Vector want{};
    const std::int16_t g = kFcbGainTable[static_cast<std::size_t>(sub.fcb_gain_index)];
    for (std::size_t j = 0; j < pulses; ++j) {
      const bool negative = (sub.signs >> (pulses - 1 - j)) & 1;
      want[static_cast<std::size_t>(sub.grid + 2 * chosen[j])] = negative ? static_cast<std::int16_t>(-g) : g;
    }
    ASSERT_EQ(got, want) << "trial " << trial;

    // With the pulse-train flag the same pulses repeat at the lag.
    sub.pulse_train = 1;
    build_mpmlq_excitation(got, sub, pulses, 20);
    mpmlq_pulse_train(want, want, 20);
    ASSERT_EQ(got, want) << "trial " << trial;
  }
}

}  // namespace
}  // namespace g7231
