#include "codec/encoder/fixed_codebook_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "codec/tables/fixed_codebook_tables.h"
#include "codec/tables/builtin_table_set.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Vec = std::array<std::int16_t, kSubframeSamples>;
using Frame = std::array<std::int16_t, kAcelpSearchFrame>;

std::int16_t uniform(std::mt19937& rng, int lo, int hi) {
  return static_cast<std::int16_t>(std::uniform_int_distribution<int>(lo, hi)(rng));
}

// Random samples whose bound falls linearly from `amp` at n = 0 (flat when `decay` is false).
Vec random_vector(std::mt19937& rng, int amp, bool decay = true) {
  Vec v{};
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    const int a = decay ? amp * static_cast<int>(kSubframeSamples - n) / static_cast<int>(kSubframeSamples) : amp;
    v[n] = uniform(rng, -a, a);
  }
  return v;
}

// v[n] += v[n - T] * gT from T upwards, so that a lag below 30 recurses; nothing from 58 on.
void reference_sharpen(Vec& v, int T, std::int16_t gain) {
  if (T >= 58) return;
  for (int n = T; n < 60; ++n) v[n] = add16(v[n], mult16(v[n - T], gain));
}

// A zero target keeps the default pulses 0, 2, 4, 6 (all positive) at the lowest gain; the response is
// halved, then combed from the lag on (recursively for lag 20), and the lag 58 and above leave it alone.
TEST(AcelpSubframe, ZeroTargetAndTheSharpenedResponse) {
  struct Case {
    std::int16_t lag;
    std::vector<std::pair<std::size_t, std::int16_t>> combed;  // (n, value) beyond the halved samples
  };
  const Case cases[] = {
      {20, {{20, 8191}, {21, -5000}, {22, 2500}, {40, 4095}, {41, -2500}, {42, 1250}}},
      {57, {{57, 8191}, {58, -5000}, {59, 2500}}},
      {58, {}},
      {100, {}},
  };
  for (const Case& c : cases) {
    Vec h{};
    h[0] = 32766;
    h[1] = -20000;
    h[2] = 10000;
    Vec expected_h{};
    expected_h[0] = 16383;
    expected_h[1] = -10000;
    expected_h[2] = 5000;
    for (const auto& [n, v] : c.combed) expected_h[n] = v;
    Vec x{};
    std::int16_t carry = 7;
    const AcelpCode code = acelp_encode_subframe(x, h, {c.lag, 16384}, carry);
    EXPECT_EQ(h, expected_h) << c.lag;
    EXPECT_EQ(code.position_code, 0);
    EXPECT_EQ(code.grid, 0);
    EXPECT_EQ(code.signs, 15);
    EXPECT_EQ(code.fcb_gain_index, 0);
    EXPECT_EQ(carry, 127);
    Vec pulses{};
    for (std::size_t n : {0, 2, 4, 6}) pulses[n] = 1;
    EXPECT_EQ(x, pulses);
  }
}

// The subframe coder against its steps run one by one: prepared response, matrix, backward target, search,
// gain on the untouched target, then the excitation pulses x gain, sharpened like the response.
TEST(AcelpSubframe, MatchesItsStepsWithTheExcitationSharpened) {
  std::mt19937 rng(5301);
  int sharpened_excitations = 0;
  for (int trial = 0; trial < 240; ++trial) {
    const std::int16_t lags[] = {18, 25, 29, 30, 44, 57, 57, 58, 80};
    const AcelpSharpening sharp{lags[trial % 9], uniform(rng, 0, 32767)};
    Vec h = random_vector(rng, trial % 2 ? 16000 : 3000);
    h[0] = static_cast<std::int16_t>(trial % 3 == 0 ? 32767 : h[0]);
    Vec x = random_vector(rng, trial % 4 ? 12000 : 300, false);
    if (trial % 5 == 0) x[0] = static_cast<std::int16_t>(trial % 10 ? 32767 : -32768);  // a pulse near 0
    std::int16_t carry = uniform(rng, 0, 200);

    Vec ref_h = h;
    for (std::int16_t& v : ref_h) v = shr16(v, 1);
    reference_sharpen(ref_h, sharp.lag, sharp.gain);
    AcelpCorrMatrix matrix = acelp_correlation_matrix(ref_h);
    Frame d = acelp_backward_target(ref_h, x);
    std::int16_t ref_carry = carry;
    AcelpPulses pulses = acelp_pulse_search(d, matrix, ref_h, ref_carry);
    const FcbGain gain = quantise_fcb_gain(x, pulses.filtered);
    Vec ref_e{};
    for (std::size_t n = 0; n < kSubframeSamples; ++n) ref_e[n] = static_cast<std::int16_t>(pulses.code[n] * gain.gain);
    Vec unsharpened = ref_e;
    reference_sharpen(ref_e, sharp.lag, sharp.gain);
    if (ref_e != unsharpened) ++sharpened_excitations;

    const AcelpCode code = acelp_encode_subframe(x, h, sharp, carry);
    ASSERT_EQ(h, ref_h) << trial;
    ASSERT_EQ(x, ref_e) << trial;
    EXPECT_EQ(code.position_code, pulses.position_code);
    EXPECT_EQ(code.grid, pulses.grid);
    EXPECT_EQ(code.signs, pulses.signs);
    EXPECT_EQ(code.fcb_gain_index, gain.index);
    EXPECT_EQ(carry, ref_carry);
  }
  EXPECT_GT(sharpened_excitations, 20);
}

// The dispatch sharpens with lag olp_lag[s/2] + lag_delta - 1 and the subframe's pitch-gain entry, and
// records the coder's results.
TEST(FixedCodebookDispatch, LowRateCodesTheSubframeWithItsSharpening) {
  std::mt19937 rng(77);
  G7231Encoder enc(1, 0, 1, 1);
  enc.acelp_budget_carry = 37;
  FrameParams params;
  params.olp_lag = {60, 45};
  params.sub[3].lag_delta = 2;
  // The first entry that sharpens, so that the dispatch's lag (45 + 2 - 1) and the entry's offset matter.
  std::int16_t entry = 1;
  while (kBuiltinTableSet.sharp_lag_offset[static_cast<std::size_t>(entry)] == 60) ++entry;
  params.sub[3].acb_gain_index = entry;
  params.sub[3].pulse_train = 1;
  Vec h = random_vector(rng, 12000);
  Vec x = random_vector(rng, 9000, false);

  Vec ref_h = h;
  Vec ref_x = x;
  std::int16_t ref_carry = 37;
  const AcelpSharpening sharpening{static_cast<std::int16_t>(46 + kBuiltinTableSet.sharp_lag_offset[static_cast<std::size_t>(entry)]),
                                    kBuiltinTableSet.sharp_gain[static_cast<std::size_t>(entry)]};
  const AcelpCode code = acelp_encode_subframe(ref_x, ref_h, sharpening, ref_carry);
  search_fixed_codebook(x, h, enc, params, 3);
  EXPECT_EQ(x, ref_x);
  EXPECT_EQ(h, ref_h);
  EXPECT_EQ(enc.acelp_budget_carry, ref_carry);
  const SubframeParams& sub = params.sub[3];
  EXPECT_EQ(sub.positions, code.position_code);
  EXPECT_EQ(sub.fcb_gain_index, code.fcb_gain_index);
  EXPECT_EQ(sub.grid, code.grid);
  EXPECT_EQ(sub.signs, code.signs);
  EXPECT_EQ(sub.pulse_train, 0);
}

// The response normalised (halved above 32000 in the energy's upper half, otherwise shifted left by half
// its normalisation count) behind four zeros.
Frame padded_response(const Vec& h) {
  std::int32_t energy = 0;
  for (std::int16_t v : h) energy = mac32(energy, v, v);
  const bool halve = extract_high(energy) > 32000;
  const std::int16_t k = shr16(norm32(energy), 1);
  Frame p{};
  for (std::size_t n = 0; n < kSubframeSamples; ++n) p[4 + n] = halve ? shr16(h[n], 1) : shl16(h[n], k);
  return p;
}

std::int16_t phi(const Frame& p, int u, int v) {
  const int dist = u > v ? u - v : v - u;
  std::int32_t acc = 0;
  for (int m = 0; m <= 63 - std::max(u, v); ++m) acc = mac32(acc, p[m], p[m + dist]);
  return extract_high(acc);
}

// Every one of the 416 entries, in storage order D0..D3, C01, C02, C03, C12, C13, C23, against phi.
testing::AssertionResult matrix_matches_phi(const Vec& h) {
  const AcelpCorrMatrix matrix = acelp_correlation_matrix(h);
  std::array<std::int16_t, 416> flat;
  std::memcpy(flat.data(), &matrix, sizeof flat);
  const Frame p = padded_response(h);
  std::array<std::int16_t, 416> expected;
  for (int t = 0; t < 4; ++t) {
    for (int k = 0; k < 8; ++k) expected[static_cast<std::size_t>(8 * t + k)] = phi(p, 8 * k + 2 * t, 8 * k + 2 * t);
  }
  constexpr int kPairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  for (int b = 0; b < 6; ++b) {
    for (int ka = 0; ka < 8; ++ka) {
      for (int kb = 0; kb < 8; ++kb) {
        expected[static_cast<std::size_t>(32 + 64 * b + 8 * ka + kb)] =
            phi(p, 8 * ka + 2 * kPairs[b][0], 8 * kb + 2 * kPairs[b][1]);
      }
    }
  }
  for (std::size_t i = 0; i < flat.size(); ++i) {
    if (flat[i] != expected[i]) {
      return testing::AssertionFailure() << "entry " << i << ": " << flat[i] << " expected " << expected[i];
    }
  }
  return testing::AssertionSuccess();
}

TEST(AcelpCorrelationMatrix, EveryEntryEqualsItsCorrelation) {
  std::mt19937 rng(416);
  for (int amp : {1, 3, 40, 700, 5000, 20000, 32767}) {
    for (int trial = 0; trial < 12; ++trial) EXPECT_TRUE(matrix_matches_phi(random_vector(rng, amp, trial % 3 == 0)));
  }
}

// Energies whose upper half is exactly 32000 (normalised, here by a shift of 0) and 32001 (halved).
TEST(AcelpCorrelationMatrix, NormalisationBoundaryAt32000) {
  for (const auto& [third, high, d0] : {std::tuple{65, 32000, 32000}, std::tuple{193, 32001, 8000}}) {
    Vec h{};
    h[0] = 32000;
    h[1] = 4957;
    h[2] = static_cast<std::int16_t>(third);
    std::int32_t energy = 0;
    for (std::int16_t v : h) energy = mac32(energy, v, v);
    ASSERT_EQ(extract_high(energy), high);
    EXPECT_EQ(acelp_correlation_matrix(h).diag[0][0], d0);
    EXPECT_TRUE(matrix_matches_phi(h));
  }
}

Frame reference_backward_target(const Vec& h, const Vec& x) {
  std::array<std::int32_t, kSubframeSamples> y{};
  std::int32_t largest = 0;
  for (std::size_t j = 0; j < kSubframeSamples; ++j) {
    for (std::size_t i = j; i < kSubframeSamples; ++i) y[j] = mac32(y[j], x[i], h[i - j]);
    if (abs32(y[j]) > largest) largest = abs32(y[j]);
  }
  std::int16_t e = norm32(largest);
  if (e > 16) e = 16;
  Frame d{};
  for (std::size_t j = 0; j < kSubframeSamples; ++j) d[j] = extract_low(shr32(y[j], sub16(18, e)));
  return d;
}

TEST(AcelpBackwardTarget, MatchesTheScaledBackwardFilter) {
  std::mt19937 rng(64);
  for (int trial = 0; trial < 60; ++trial) {
    const Vec h = random_vector(rng, trial % 2 ? 32767 : 200);
    const Vec x = random_vector(rng, trial % 3 ? 32767 : 20, trial % 4 == 0);
    EXPECT_EQ(acelp_backward_target(h, x), reference_backward_target(h, x)) << trial;
  }
}

// Every level the processor runs, each sum taken in blocks of outputs: a response whose taps reach the end
// of the subframe, and targets that are nonzero only at a block's edges (samples 15, 16, 47, 48, 59).
TEST(AcelpBackwardTarget, EveryLevelAgreesAtTheBlockEdges) {
  std::mt19937 rng(65);
  for (int trial = 0; trial < 40; ++trial) {
    const Vec h = random_vector(rng, trial % 2 ? 32767 : 200);
    Vec x = random_vector(rng, trial % 3 ? 32767 : 20);
    if (trial % 4 == 0) {
      Vec edges{};
      for (const std::size_t n : {15, 16, 47, 48, 59}) edges[n] = x[n];
      x = edges;
    }
    const Frame expected = reference_backward_target(h, x);
    for (const SimdLevel level : {SimdLevel::scalar, SimdLevel::sse41, SimdLevel::avx2, SimdLevel::avx512}) {
      if (!simd_level_available(level)) continue;
      EXPECT_EQ(acelp_backward_target(h, x, dsp_kernels(level)), expected) << simd_level_name(level) << ", trial " << trial;
    }
  }
}

// A zero target shifts by 18 and gives d = 0. y32[59] = 2 * 64 * 64 = 8192 has 17 bits of headroom, clamped
// to 16: shift 2, not 1.
TEST(AcelpBackwardTarget, ZeroTargetAndTheHeadroomClamp) {
  Vec h{};
  h[0] = 64;
  EXPECT_EQ(acelp_backward_target(h, Vec{}), Frame{});
  Vec x{};
  x[59] = 64;
  Frame expected{};
  expected[59] = 2048;
  EXPECT_EQ(acelp_backward_target(h, x), expected);
}

}  // namespace
}  // namespace g7231
