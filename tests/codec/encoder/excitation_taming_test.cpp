// Excitation error taming: the taming tables' shape, the gain-entry limit over the zones a lag range
// touches, and the update of the per-zone estimates, branch by branch.
#include "codec/encoder/excitation_taming.h"
#include "codec/tables/builtin_table_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "codec/encoder/encoder.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;

TEST(ExcitationTaming, TamingTablesAreNonDecreasing) {
  EXPECT_EQ(kBuiltinTableSet.taming_gain85.size(), 85u);
  EXPECT_EQ(kBuiltinTableSet.taming_gain170.size(), 170u);
  EXPECT_TRUE(std::ranges::is_sorted(kBuiltinTableSet.taming_gain85));
  EXPECT_TRUE(std::ranges::is_sorted(kBuiltinTableSet.taming_gain170));
}

TamingError all(std::int32_t v) { return {v, v, v, v, v}; }
constexpr std::int32_t kAbove = kTamingThreshold + 1;

TEST(ExcitationTaming, FreshEstimatesOpenTheWholeTables) {
  for (auto [lo, hi] : {std::array{17, 20}, {18, 20}, {56, 60}, {91, 93}, {139, 141}, {140, 143}}) {
    EXPECT_EQ(taming_gain_limit(static_cast<std::int16_t>(lo), static_cast<std::int16_t>(hi), all(kTamingErrorInit), 0), 127);
  }
}

TEST(ExcitationTaming, LimitFallsWithTheWorstEstimate) {
  const auto limit = [](TamingError e, std::int16_t sine = 0) { return taming_gain_limit(60, 62, e, sine); };
  EXPECT_EQ(limit(all(kTamingErrorInit), -1), 0);  // sinusoid detector fired
  EXPECT_EQ(limit(all(kAbove)), 0);
  EXPECT_EQ(limit(all(0x7FFFFFFF)), 0);
  EXPECT_EQ(limit(all(kTamingThreshold)), 0);
  for (int t : {1, 9, 10, 64}) {
    EXPECT_EQ(limit(all(kTamingThreshold - t * (1 << 23))), t);
    EXPECT_EQ(limit(all(kTamingThreshold - t * (1 << 23) + 1)), t - 1);
  }
  EXPECT_EQ(limit({4, 4, kTamingThreshold - 5 * (1 << 23), 4, 4}), 5);  // the largest in range counts
}

TEST(ExcitationTaming, LimitLooksAtTheZonesFromLowestMinus61ToHighestPlus2) {
  // Which zones a range covers: close one zone at a time and see whether the limit drops to 0.
  const auto covered = [](int lo, int hi) {
    std::array<bool, 5> in{};
    for (std::size_t z = 0; z < 5; ++z) {
      TamingError e = all(kTamingErrorInit);
      e[z] = kAbove;
      in[z] = taming_gain_limit(static_cast<std::int16_t>(lo), static_cast<std::int16_t>(hi), e, 0) == 0;
    }
    return in;
  };
  using Z = std::array<bool, 5>;
  EXPECT_EQ(covered(18, 20), (Z{true, false, false, false, false}));
  EXPECT_EQ(covered(140, 143), (Z{false, false, true, true, true}));  // 145 reaches the last zone
  EXPECT_EQ(covered(60, 88), (Z{true, true, true, false, false}));   // 90 is still zone 2 (a multiple of 30)
  EXPECT_EQ(covered(60, 89), (Z{true, true, true, true, false}));
  EXPECT_EQ(covered(91, 100), (Z{true, true, true, true, false}));  // 30 is still zone 0
  EXPECT_EQ(covered(92, 100), (Z{false, true, true, true, false}));
}

// Estimates whose amplification by the first entry's bound (1024, an eighth) is 2^(17+i) + 4 for
// zone i, or the reverse order, so that every result tells which zones it came from.
constexpr TamingError kRising = {1 << 20, 1 << 21, 1 << 22, 1 << 23, 1 << 24};
constexpr TamingError kFalling = {1 << 24, 1 << 23, 1 << 22, 1 << 21, 1 << 20};
std::int32_t amplified(const TamingError& e, int zone) { return (e[zone] >> 3) + 4; }

TEST(ExcitationTaming, UpdateTakesTheZonesAroundThePredictorLag) {
  struct Case { int lag; int e0[2]; int e1[2]; };  // zones whose larger amplified estimate is taken
  for (const Case& c : {Case{18, {0, 0}, {0, 0}}, Case{30, {0, 0}, {0, 0}}, Case{31, {0, 1}, {0, 1}},
                        Case{59, {0, 1}, {0, 1}}, Case{60, {0, 0}, {1, 1}}, Case{61, {0, 1}, {1, 2}},
                        Case{90, {1, 1}, {2, 2}}, Case{91, {1, 2}, {2, 3}}, Case{120, {2, 2}, {3, 3}},
                        Case{121, {2, 3}, {3, 4}}, Case{143, {2, 3}, {3, 4}}, Case{145, {2, 3}, {3, 4}}}) {
    for (const TamingError& before : {kRising, kFalling}) {
      for (int delta = 0; delta <= 3; ++delta) {
        const int base = c.lag - delta + 1;
        if (base < 18 || base > 143) continue;
        TamingError e = before;
        update_taming_error(kBuiltinTableSet, e, static_cast<std::int16_t>(base), static_cast<std::int16_t>(delta), 0, true);
        const auto larger = [&](const int z[2]) { return std::max(amplified(before, z[0]), amplified(before, z[1])); };
        EXPECT_EQ(e, (TamingError{larger(c.e0), larger(c.e1), before[0], before[1], before[2]})) << "lag " << c.lag;
      }
    }
  }
}

TEST(ExcitationTaming, UpdateUsesTheBoundTableOfTheRateAndBaseLag) {
  const auto first_estimate = [](bool low_rate, int base, int index, std::int32_t before = 1 << 24) {
    TamingError e = all(before);
    update_taming_error(kBuiltinTableSet, e, static_cast<std::int16_t>(base), 1, static_cast<std::int16_t>(index), low_rate);
    return e[0];
  };
  const auto expected = [](std::int16_t g) { return add32(4, shl32(mult32_32x16(1 << 24, g), 2)); };
  EXPECT_EQ(first_estimate(false, 57, 84), expected(kBuiltinTableSet.taming_gain85[84]));
  EXPECT_EQ(first_estimate(false, 58, 84), expected(kBuiltinTableSet.taming_gain170[84]));
  EXPECT_EQ(first_estimate(true, 40, 84), expected(kBuiltinTableSet.taming_gain170[84]));
  EXPECT_EQ(first_estimate(true, 40, 169), expected(kBuiltinTableSet.taming_gain170[169]));
  EXPECT_EQ(first_estimate(true, 40, 169, 0x7FFFFFFF), 0x7FFFFFFF);  // growth saturates
}

}  // namespace
}  // namespace g7231
