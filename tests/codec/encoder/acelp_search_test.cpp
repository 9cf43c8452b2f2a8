#include "codec/encoder/acelp_search.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>

#include "codec/encoder/fixed_codebook_search.h"
#include "codec/tables/fixed_codebook_tables.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Vec = std::array<std::int16_t, kSubframeSamples>;
using Frame = std::array<std::int16_t, kAcelpSearchFrame>;
using Flat = std::array<std::int16_t, 416>;  // D0..D3, then C01, C02, C03, C12, C13, C23

std::int16_t uniform(std::mt19937& rng, int lo, int hi) {
  return static_cast<std::int16_t>(std::uniform_int_distribution<int>(lo, hi)(rng));
}

Flat flatten(const AcelpCorrMatrix& m) {
  Flat f;
  std::memcpy(f.data(), &m, sizeof f);
  return f;
}
AcelpCorrMatrix unflatten(const Flat& f) {
  AcelpCorrMatrix m;
  std::memcpy(static_cast<void*>(&m), f.data(), sizeof f);  // plain int16 arrays, no padding
  return m;
}

struct Reference {
  std::array<int, 4> ip{};  // final positions, grid offset included
  std::int16_t grid = 0, signs = 0, position_code = 0, carry = 0;
  Vec code{}, y{};
};

// The pulse search written out step by step.
Reference reference_search(Frame d, Flat m, const Vec& h, std::int16_t carry) {
  for (int i = 60; i < 64; ++i) d[i] = 0;
  std::array<std::int16_t, 32> sgn;
  sgn.fill(1);
  for (int j = 0; j < 30; ++j) {
    if (add16(d[2 * j], d[2 * j + 1]) < 0) {
      sgn[j] = -1;
      d[2 * j] = static_cast<std::int16_t>(-d[2 * j]);
      d[2 * j + 1] = static_cast<std::int16_t>(-d[2 * j + 1]);
    }
  }
  std::int16_t thr = 0;
  for (int g = 0; g < 2; ++g) {
    std::int16_t mx[3];
    for (int t = 0; t < 3; ++t) {
      mx[t] = d[2 * t + g];
      for (int k = 1; k < 8; ++k) mx[t] = d[8 * k + 2 * t + g] > mx[t] ? d[8 * k + 2 * t + g] : mx[t];
    }
    const std::int16_t top = add16(add16(mx[0], mx[1]), mx[2]);
    std::int32_t s = 0;
    for (int k = 0; k < 8; ++k) {
      s = mac32(s, d[8 * k + g], 1);
      s = mac32(s, d[8 * k + 2 + g], 1);
      s = mac32(s, d[8 * k + 4 + g], 1);
    }
    const std::int16_t mean = extract_low(shr32(s, 4));
    const std::int16_t t = add16(mult16(sub16(top, mean), 0x4000), mean);
    if (g == 0 || t > thr) thr = t;
  }
  static constexpr int kBlock[4][4] = {{-1, 0, 1, 2}, {-1, -1, 3, 4}, {-1, -1, -1, 5}, {-1, -1, -1, -1}};
  const auto at = [](int a, int b, int ka, int kb) {
    return static_cast<std::size_t>(32 + 64 * kBlock[a][b] + 8 * ka + kb);
  };
  for (int a = 0; a < 4; ++a) {
    for (int b = a + 1; b < 4; ++b) {
      for (int ka = 0; ka < 8; ++ka) {
        for (int kb = 0; kb < 8; ++kb) {
          m[at(a, b, ka, kb)] = extract_low(
              mult16_wrap(m[at(a, b, ka, kb)], static_cast<std::int16_t>(sgn[4 * ka + a] * sgn[4 * kb + b])));
        }
      }
    }
  }
  const auto D = [&](int t, int k) { return m[static_cast<std::size_t>(8 * t + k)]; };
  const auto C = [&](int a, int b, int ka, int kb) { return m[at(a, b, ka, kb)]; };

  std::array<int, 4> ip = {0, 2, 4, 6};
  int shift = 0;
  std::int16_t num = 0, den = 32767;
  std::int16_t budget = add16(120, carry);
  const auto search = [&] {
    for (int k0 = 0; k0 < 8; ++k0) {
      const int i0 = 8 * k0;
      for (int k1 = 0; k1 < 8; ++k1) {
        const int i1 = 8 * k1 + 2;
        const std::int16_t ps1 = add16(d[i0], d[i1]), ps1a = add16(d[i0 + 1], d[i1 + 1]);
        const std::int32_t alp1 = mac32(mac32(mult32_16x16(D(0, k0), 1), D(1, k1), 1), C(0, 1, k0, k1), 2);
        for (int k2 = 0; k2 < 8; ++k2) {
          const int i2 = 8 * k2 + 4;
          std::int16_t ps2 = add16(ps1, d[i2]);
          const std::int16_t ps2a = add16(ps1a, d[i2 + 1]);
          const std::int32_t alp2 = mac32(mac32(mac32(alp1, D(2, k2), 1), C(0, 2, k0, k2), 2), C(1, 2, k1, k2), 2);
          int sh = 0;
          if (ps2a > ps2) {
            sh = 1;
            ps2 = ps2a;
          }
          if (!(ps2 > thr)) continue;
          for (int k3 = 0; k3 < 8; ++k3) {
            const int i3 = 8 * k3 + 6;
            const std::int16_t ps3 = add16(ps2, d[i3 + sh]);
            std::int32_t alp3 = mac32(alp2, D(3, k3), 1);
            alp3 = mac32(alp3, C(0, 3, k0, k3), 2);
            alp3 = mac32(alp3, C(1, 3, k1, k3), 2);
            alp3 = mac32(alp3, C(2, 3, k2, k3), 2);
            const std::int16_t alp = extract_low(shr32(alp3, 5));
            const std::int16_t sq = mult16(ps3, ps3);
            if (mult32_16x16(sq, den) > mult32_16x16(num, alp)) {
              num = sq;
              den = alp;
              ip = {i0, i1, i2, i3};
              shift = sh;
            }
          }
          budget = static_cast<std::int16_t>(budget - 1);
          if (budget <= 0) return;
        }
      }
    }
  };
  search();

  Reference r;
  r.carry = budget;
  std::int16_t s[4];
  for (int t = 0; t < 4; ++t) s[t] = sgn[static_cast<std::size_t>(ip[t] >> 1)];
  for (int t = 0; t < 4; ++t) r.ip[t] = ip[t] + shift;
  for (int t = 0; t < 4; ++t) {
    if (r.ip[t] < 60) r.code[static_cast<std::size_t>(r.ip[t])] = s[t];
  }
  for (int t = 0; t < 4; ++t) {
    if (r.ip[t] >= 60) continue;
    for (int n = r.ip[t]; n < 60; ++n) {
      const std::int16_t tap = h[static_cast<std::size_t>(n - r.ip[t])];
      r.y[n] = s[t] > 0 ? add16(r.y[n], tap) : sub16(r.y[n], tap);
    }
  }
  r.grid = static_cast<std::int16_t>(shift);
  for (int t = 0; t < 4; ++t) r.signs = static_cast<std::int16_t>(r.signs + (s[t] > 0 ? 1 << t : 0));
  r.position_code =
      static_cast<std::int16_t>((r.ip[0] >> 3) | (r.ip[1] >> 3) << 3 | (r.ip[2] >> 3) << 6 | (r.ip[3] >> 3) << 9);
  return r;
}

AcelpPulses run_search(Frame d, const Flat& m, const Vec& h, std::int16_t& carry) {
  AcelpCorrMatrix matrix = unflatten(m);
  return acelp_pulse_search(d, matrix, h, carry);
}

void expect_matches_reference(const Frame& d, const Flat& m, const Vec& h, std::int16_t carry, int trial,
                              Reference* out = nullptr) {
  const Reference r = reference_search(d, m, h, carry);
  const AcelpPulses p = run_search(d, m, h, carry);
  EXPECT_EQ(p.position_code, r.position_code) << trial;
  EXPECT_EQ(p.grid, r.grid) << trial;
  EXPECT_EQ(p.signs, r.signs) << trial;
  EXPECT_EQ(carry, r.carry) << trial;
  EXPECT_EQ(p.code, r.code) << trial;
  EXPECT_EQ(p.filtered, r.y) << trial;
  if (out != nullptr) *out = r;
}

// Random targets and matrices (from random responses, or arbitrary values that make the energies saturate)
// with random carries, so that the searches end both by budget and by running through.
TEST(AcelpPulseSearch, MatchesReferenceOnRandomInputs) {
  std::mt19937 rng(4032);
  int exhausted = 0, odd = 0, beyond = 0;
  for (int trial = 0; trial < 600; ++trial) {
    const int amp = std::array{100, 4000, 8191, 32767}[trial % 4];
    Vec h{};
    for (std::size_t n = 0; n < kSubframeSamples; ++n)
      h[n] = uniform(rng, -amp / static_cast<int>(n + 1), amp / static_cast<int>(n + 1));
    Frame d{};
    for (std::size_t j = 0; j < kAcelpSearchFrame; ++j) d[j] = uniform(rng, -amp, amp);
    Flat m = flatten(acelp_correlation_matrix(h));
    if (trial % 3 == 0) {
      for (std::int16_t& v : m) v = uniform(rng, -32768, 32767);
    }
    const std::int16_t carry = std::array<std::int16_t, 5>{0, uniform(rng, 0, 60), uniform(rng, 0, 400), 32767,
                                                           uniform(rng, 0, 32767)}[trial % 5];
    Reference r;
    expect_matches_reference(d, m, h, carry, trial, &r);
    exhausted += r.carry == 0;
    odd += r.grid;
    beyond += r.ip[2] >= 60 || r.ip[3] >= 60;
  }
  EXPECT_GT(exhausted, 30);
  EXPECT_GT(odd, 30);
  EXPECT_GT(beyond, 10);
}

// Targets at the threshold's edges: full scale throughout (the three-pulse top saturates and the mean's
// low 16 bits wrap), -32768 throughout (no sum passes), one grid far above the other, a single peak, and
// nothing at all; each with a starved and a plentiful budget.
TEST(AcelpPulseSearch, ThresholdAtTheEdgesOfTheTargets) {
  const auto filled = [](std::int16_t even, std::int16_t odd) {
    Frame d{};
    for (std::size_t j = 0; j < kAcelpSearchFrame; ++j) d[j] = j % 2 ? odd : even;
    return d;
  };
  Frame peak{};
  peak[52] = 32767;
  Frame steps{};
  for (std::size_t j = 0; j < kAcelpSearchFrame; ++j) steps[j] = static_cast<std::int16_t>(1000 * (j % 8) - 3500);
  const std::array<std::pair<const char*, Frame>, 7> cases = {{{"all 32767", filled(32767, 32767)},
                                                              {"all -32768", filled(-32768, -32768)},
                                                              {"32767 and -32768 alternating", filled(32767, -32768)},
                                                              {"odd grid far above", filled(-100, 30000)},
                                                              {"one peak", peak},
                                                              {"steps within each row", steps},
                                                              {"nothing", Frame{}}}};
  Vec h{};
  for (std::size_t n = 0; n < kSubframeSamples; ++n) h[n] = static_cast<std::int16_t>(8000 / (n + 1));
  const Flat m = flatten(acelp_correlation_matrix(h));
  for (const auto& [what, d] : cases) {
    for (const std::int16_t carry : {std::int16_t{0}, std::int16_t{32767}}) {
      SCOPED_TRACE(what);
      expect_matches_reference(d, m, h, carry, carry);
    }
  }
}

// Even-grid tracks 0 and 1 at 3000 and track 2 at 3000 except at 60: 7 of every 8 three-pulse sums
// (9000) pass the threshold 8812, 448 fourth-level loops in all. All ps3 are equal and D0 falls with k0,
// so the last k0 examined wins. A budget of 120 runs out at (k0, k1, k2) = (2, 1, 0).
TEST(AcelpPulseSearch, BudgetRationsTheFourthLevel) {
  Frame d{};
  for (std::size_t k = 0; k < 8; ++k) d[8 * k] = d[8 * k + 2] = d[8 * k + 4] = 3000;
  AcelpCorrMatrix matrix;
  for (std::size_t t = 0; t < 4; ++t) {
    for (std::size_t k = 0; k < 8; ++k) matrix.diag[t][k] = static_cast<std::int16_t>(t == 0 ? 8000 - 1000 * k : 8000);
  }
  const Vec h{};
  struct Case {
    std::int16_t carry, code, carry_after;
  };
  for (const Case c : {Case{0, 2, 0}, Case{500, 7, 172}, Case{32767, 7, 32767 - 448}}) {
    Frame dc = d;
    AcelpCorrMatrix mc = matrix;
    std::int16_t carry = c.carry;
    const AcelpPulses p = acelp_pulse_search(dc, mc, h, carry);
    EXPECT_EQ(p.position_code, c.code) << c.carry;
    EXPECT_EQ(carry, c.carry_after) << c.carry;
    EXPECT_EQ(p.grid, 0);
    EXPECT_EQ(p.signs, 15);
    expect_matches_reference(d, flatten(matrix), h, c.carry, c.carry);
  }
}

// Only three-pulse sums with the track-2 pulse at 60 (61) pass the threshold, and D3 falls with k3: the
// pulses at 60 and 62 (61 and 63) are coded with index 7 and sign bit 1 but leave no trace in code and y.
TEST(AcelpPulseSearch, PulsesBeyondTheSubframeAreCodedButSilent) {
  for (std::size_t g : {0u, 1u}) {
    Frame d{};
    for (std::size_t k = 0; k < 8; ++k) {
      d[8 * k + g] = d[8 * k + 2 + g] = 3000;
      if (k < 7) {
        d[8 * k + 4 + g] = -100;  // its pair partner keeps the pair's sign positive
        d[8 * k + 5 - g] = 200;
      }
    }
    AcelpCorrMatrix matrix;
    for (std::size_t t = 0; t < 4; ++t) {
      for (std::size_t k = 0; k < 8; ++k)
        matrix.diag[t][k] = static_cast<std::int16_t>(t == 3 ? 8000 - 1000 * k : 8000);
    }
    Vec h{};
    h[0] = 1000;
    h[1] = -300;
    h[58] = 7;
    std::int16_t carry = 0;
    const AcelpPulses p = acelp_pulse_search(d, matrix, h, carry);
    EXPECT_EQ(p.position_code, 7 << 6 | 7 << 9);
    EXPECT_EQ(p.grid, static_cast<std::int16_t>(g));
    EXPECT_EQ(p.signs, 15);
    EXPECT_EQ(carry, 120 - 64);
    Vec code{}, y{};
    code[g] = code[2 + g] = 1;
    for (std::size_t n = g; n < kSubframeSamples; ++n)
      y[n] = static_cast<std::int16_t>(h[n - g] + (n >= 2 + g ? h[n - 2 - g] : 0));
    EXPECT_EQ(p.code, code);
    EXPECT_EQ(p.filtered, y);
  }
}

// A pair summing below zero is negated without saturation: -32768 stays -32768 in the corrected target.
TEST(AcelpPulseSearch, SignPreselectionNegatesWithoutSaturation) {
  Frame d{};
  d[0] = -32768;
  d[2] = -5;
  d[3] = 1;
  d[6] = 4;
  d[7] = -4;
  AcelpCorrMatrix matrix;
  const Vec h{};
  std::int16_t carry = 0;
  const AcelpPulses p = acelp_pulse_search(d, matrix, h, carry);
  Frame corrected{};
  corrected[0] = -32768;
  corrected[2] = 5;
  corrected[3] = -1;
  corrected[6] = 4;
  corrected[7] = -4;
  EXPECT_EQ(d, corrected);
  EXPECT_EQ(p.signs, 0b1100);  // pairs 0 and 1 negative, the zero-sum pair 3 positive
  Vec code{};
  code[0] = code[2] = -1;
  code[4] = code[6] = 1;
  EXPECT_EQ(p.code, code);
}

FcbGain reference_gain(const Vec& x, Vec y) {
  for (std::int16_t& v : y) v = shr16(v, 3);
  std::int32_t lxy = 0, lyy = 0;
  for (std::size_t n = 0; n < kSubframeSamples; ++n) lxy = mac32(lxy, x[n], y[n]);
  const std::int16_t exy = norm32(lxy);
  const std::int16_t xy = extract_high(shl32(lxy, exy));
  if (xy <= 0) return {0, 1};
  for (std::size_t n = 0; n < kSubframeSamples; ++n) lyy = mac32(lyy, y[n], y[n]);
  const std::int16_t eyy = norm32(lyy);
  const std::int16_t yy = extract_high(shl32(lyy, eyy));
  const std::int16_t g = shr16(div16(shr16(xy, 1), yy), sub16(add16(exy, 5), eyy));
  std::int16_t best = 0;
  for (std::int16_t i = 1; i < 24; ++i) {
    if (abs16(sub16(g, kFcbGainTable[static_cast<std::size_t>(i)])) <
        abs16(sub16(g, kFcbGainTable[static_cast<std::size_t>(best)]))) {
      best = i;
    }
  }
  return {best, kFcbGainTable[static_cast<std::size_t>(best)]};
}

// Targets near G / 4096 times the codeword for gains G spread over the table, with noise and saturation.
TEST(FcbGainQuantiser, MatchesReferenceOverTheWholeTable) {
  std::mt19937 rng(24);
  std::set<std::int16_t> seen;
  for (int trial = 0; trial < 800; ++trial) {
    const int amp = std::array{8, 300, 4000, 32767}[trial % 4];
    Vec y{};
    for (std::size_t n = static_cast<std::size_t>(trial % 7); n < kSubframeSamples; ++n) y[n] = uniform(rng, -amp, amp);
    const double gain = std::exp2(std::uniform_real_distribution<double>(-1.0, 14.0)(rng));
    const int noise = std::array{0, 10, 1000}[trial % 3];
    Vec x{};
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      x[n] = saturate16(static_cast<std::int32_t>(y[n] * gain / 4096.0) + uniform(rng, -noise, noise));
    }
    Vec yc = y;
    const FcbGain got = quantise_fcb_gain(x, yc);
    const FcbGain want = reference_gain(x, y);
    EXPECT_EQ(got.index, want.index) << trial;
    EXPECT_EQ(got.gain, want.gain) << trial;
    seen.insert(got.index);
  }
  EXPECT_EQ(seen.size(), kFcbGainLevels);
}

// With y = 4096 at n = 0 the optimal gain is x[0] exactly: 5 lies midway between 4 and 6 and takes the lower
// index. A target orthogonal to or opposed to the codeword, or a silent codeword, gives index 0.
TEST(FcbGainQuantiser, TiesTakeTheLowerIndexAndNoCorrelationGivesIndexZero) {
  Vec y{};
  y[0] = 4096;
  struct Case {
    std::int16_t x0, x1, index;
  };
  for (const Case c : {Case{5, 0, 3}, Case{22, 0, 7}, Case{6623, 0, 23}, Case{0, 500, 0}, Case{-3000, 0, 0}}) {
    Vec x{};
    x[0] = c.x0;
    x[1] = c.x1;
    Vec yc = y;
    const FcbGain g = quantise_fcb_gain(x, yc);
    EXPECT_EQ(g.index, c.index) << c.x0;
    EXPECT_EQ(g.gain, kFcbGainTable[static_cast<std::size_t>(c.index)]);
  }
  Vec x{};
  x[0] = 1000;
  Vec silent{};
  EXPECT_EQ(quantise_fcb_gain(x, silent).index, 0);
}

}  // namespace
}  // namespace g7231
