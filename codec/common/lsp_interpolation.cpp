#include "codec/common/lsp_interpolation.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "codec/common/lsp_dequantiser.h"
#include "codec/tables/cosine_table.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::size_t kHalfOrder = kLpcOrder / 2;
constexpr std::int16_t kWeightStep = -8192;  // -0.25 in Q15: the current vector's weight grows by 1/4

// Whether no step of the cosine interpolation below saturates before its rounding: every table step's
// difference d fits 16 bits, and 2^16 T[lo] + 2 d r stays within -2^30 .. 2^30 - 1 for r from 128 to 32640
// (the sum is linear in r, so its ends decide), so that doubling it stays in range.
constexpr bool cosine_steps_in_range() {
  for (std::size_t lo = 0; lo < kCosineTableSize; ++lo) {
    const std::int32_t d = kCosineTable[(lo + 1) % kCosineTableSize] - kCosineTable[lo];
    if (d < kMin16 || d > kMax16) return false;
    for (const std::int32_t r : {0x80, 0x7F80}) {
      const std::int64_t acc = std::int64_t{kCosineTable[lo]} * 65536 + 2 * std::int64_t{d} * r;
      if (acc < -(std::int64_t{1} << 30) || acc >= (std::int64_t{1} << 30)) return false;
    }
  }
  return true;
}
static_assert(cosine_steps_in_range());

// -cos(f) in Q15 for an LSP frequency f (Q15 of pi), by linear interpolation in the cosine table, the
// fraction taken at the middle of its 1/128 step. The table spans a full period, so every 16-bit value
// stays inside it: a negative f reads the period below 0 (f + 2 pi), the same angle.
std::int16_t negative_cosine(std::int16_t f) {
  const std::size_t mask = kCosineTableSize - 1;
  const std::int16_t j = shr16(f, 7);
  const std::size_t lo = static_cast<std::size_t>(j) & mask;
  const std::size_t hi = (lo + 1) & mask;
  if (kExactFastPaths) {
    // No step saturates before the rounding (cosine_steps_in_range); the rounding clips only at the top
    // (to 32767) and the negation only -32768 (to 32767), which the clamp reproduces.
    const std::int32_t r = ((f & 0x7F) << 8) + 0x80;
    const std::int32_t acc = 2 * (kCosineTable[lo] * 65536 + 2 * (kCosineTable[hi] - kCosineTable[lo]) * r);
    const std::int64_t rounded = (std::int64_t{acc} + 0x8000) >> 16;
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(-rounded, -kMax16, kMax16));
  }
  std::int32_t acc = deposit_high(kCosineTable[lo]);
  const std::int16_t d = sub16(kCosineTable[hi], kCosineTable[lo]);
  const std::int16_t r = add16(shl16(static_cast<std::int16_t>(f & 0x7F), 8), 0x80);
  acc = mac32(acc, d, r);
  acc = shl32(acc, 1);
  return negate16(round32_to16(acc));
}

using HalfPolynomial = std::array<std::int32_t, kHalfOrder + 1>;

// The first two factors of a sum or difference polynomial multiplied out directly, in Q28.
void first_factors(HalfPolynomial& poly, std::int16_t c0, std::int16_t c1) {
  poly[0] = 0x10000000;
  poly[1] = mac32(mult32_16x16(c0, 0x2000), c1, 0x2000);
  poly[2] = add32(shr32(mult32_16x16(c0, c1), 1), 0x20000000);
}

// Multiplies the symmetric polynomial whose first i + 1 coefficients poly[0..i] hold (the rest follow by
// symmetry) by 1 + 2c z^-1 + z^-2, halving every coefficient so the scale drops by one bit.
void multiply_factor(HalfPolynomial& poly, std::int16_t c, std::size_t i) {
  poly[i + 1] = add32(mult32_32x16(poly[i], c), poly[i - 1]);
  for (std::size_t j = i; j >= 2; --j) {
    poly[j] = add32(add32(mult32_32x16(poly[j - 1], c), shr32(poly[j], 1)), shr32(poly[j - 2], 1));
  }
  poly[0] = shr32(poly[0], 1);
  poly[1] = shr32(add32(shr32(deposit_high(c), static_cast<std::int16_t>(i)), poly[1]), 1);
}

// mult32_32x16(x, c) for c > -32768: 2 hi c + floor(lo c / 2^15) is floor(x c / 2^15), and neither step
// saturates: |floor(lo c / 2^15)| < 2^16, and |2 hi c| > 2^31 - 2^17 + 2 only for hi = -32768, where the
// two terms have opposite signs.
std::int32_t scale_q15(std::int32_t x, std::int16_t c) {
  return static_cast<std::int32_t>((std::int64_t{x} * c) >> 15);
}

// multiply_factor(poly, c, I) in plain arithmetic, false (poly then unusable) as soon as a sum leaves the
// 32-bit range, where the chain would saturate; up to then every value is the chain's. c > -32768.
template <std::size_t I>
bool multiply_factor_plain(HalfPolynomial& poly, std::int16_t c) {
  if (__builtin_add_overflow(scale_q15(poly[I], c), poly[I - 1], &poly[I + 1])) return false;
  for (std::size_t j = I; j >= 2; --j) {
    std::int32_t partial;
    if (__builtin_add_overflow(scale_q15(poly[j - 1], c), poly[j] >> 1, &partial)) return false;
    if (__builtin_add_overflow(partial, poly[j - 2] >> 1, &poly[j])) return false;
  }
  poly[0] >>= 1;
  std::int32_t sum;
  if (__builtin_add_overflow((std::int32_t{c} * 65536) >> I, poly[1], &sum)) return false;
  poly[1] = sum >> 1;
  return true;
}

// The LPC coefficients from the ten negative cosines, in plain arithmetic; false, with v partly written,
// where a sum leaves the 32-bit range (the chain would saturate there). The closing shift and rounding
// need no check: round32_to16(shl32(x, 3)) is saturate16((8 x + 2^15) >> 16), and its negation clips
// only -32768.
bool lpc_from_cosines_plain(std::span<std::int16_t, kLpcOrder> v, const std::array<std::int16_t, kLpcOrder>& c) {
  HalfPolynomial p;
  HalfPolynomial q;
  first_factors(p, c[0], c[2]);
  first_factors(q, c[1], c[3]);
  if (!multiply_factor_plain<2>(p, c[4]) || !multiply_factor_plain<2>(q, c[5]) || !multiply_factor_plain<3>(p, c[6]) ||
      !multiply_factor_plain<3>(q, c[7]) || !multiply_factor_plain<4>(p, c[8]) || !multiply_factor_plain<4>(q, c[9])) {
    return false;
  }
  const auto coefficient = [](std::int32_t x) {
    const std::int64_t rounded = (8 * std::int64_t{x} + 0x8000) >> 16;
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(-rounded, -kMax16, kMax16));
  };
  for (std::size_t i = 0; i < kHalfOrder; ++i) {
    std::int32_t pp, low, high;
    if (__builtin_add_overflow(p[i], p[i + 1], &pp) || __builtin_sub_overflow(pp, q[i], &low) ||
        __builtin_add_overflow(low, q[i + 1], &low) || __builtin_add_overflow(pp, q[i], &high) ||
        __builtin_sub_overflow(high, q[i + 1], &high)) {
      return false;
    }
    v[i] = coefficient(low);
    v[kLpcOrder - 1 - i] = coefficient(high);
  }
  return true;
}

}  // namespace

void lsp_to_lpc(std::span<std::int16_t, kLpcOrder> v) {
  std::array<std::int16_t, kLpcOrder> c{};
  for (std::size_t i = 0; i < kLpcOrder; ++i) c[i] = negative_cosine(v[i]);
  // No cosine is -32768 (negate16 gives at least -32767), as the plain steps require.
  if (kExactFastPaths && lpc_from_cosines_plain(v, c)) return;

  // Sum polynomial P from the even-indexed frequencies, difference polynomial Q from the odd ones.
  HalfPolynomial p;
  HalfPolynomial q;
  first_factors(p, c[0], c[2]);
  first_factors(q, c[1], c[3]);

  // The remaining three factors, each pass P's step before Q's (the two never share a coefficient).
  for (std::size_t i = 2; i <= 4; ++i) {
    multiply_factor(p, c[2 * i], i);
    multiply_factor(q, c[2 * i + 1], i);
  }

  // Restore the trivial roots (P times 1 + z^-1, Q times 1 - z^-1) and average: A(z) = (P + Q) / 2,
  // now in Q25, shifted to Q13 with rounding. The upper half follows from P's symmetry and Q's antisymmetry.
  for (std::size_t i = 0; i < kHalfOrder; ++i) {
    v[i] = negate16(round32_to16(shl32(add32(sub32(add32(p[i], p[i + 1]), q[i]), q[i + 1]), 3)));
    v[kLpcOrder - 1 - i] = negate16(round32_to16(shl32(sub32(add32(add32(p[i], p[i + 1]), q[i]), q[i + 1]), 3)));
  }
}

void interpolate_lsp(std::span<std::int16_t, kSubframes * kLpcOrder> lpc_out,
                     std::span<const std::int16_t, kLpcOrder> cur, std::span<const std::int16_t, kLpcOrder> prev) {
  // w is minus the weight of cur: prev * (1 + w) - w * cur.
  std::int16_t w = kWeightStep;
  // For non-negative frequencies (as LSPs are) every step is plain: with -32768 <= w < 0 the chain's
  // values 2^16 p, (2^16 + 2w) p and (2^16 + 2w) p - 2w c all lie in 0 .. 32767 * 2^16, as does the rounding.
  const auto non_negative = [](std::span<const std::int16_t, kLpcOrder> x) {
    return std::ranges::all_of(x, [](std::int16_t v) { return v >= 0; });
  };
  if (kExactFastPaths && non_negative(cur) && non_negative(prev)) {
    for (std::size_t s = 0; s < kSubframes; ++s) {
      const auto set = lpc_out.subspan(s * kLpcOrder).first<kLpcOrder>();
      const std::int32_t cur_weight = -2 * kWeightStep * static_cast<std::int32_t>(s + 1);  // -2w
      const std::int32_t prev_weight = 65536 - cur_weight;
      for (std::size_t j = 0; j < kLpcOrder; ++j) {
        set[j] = static_cast<std::int16_t>((prev_weight * prev[j] + cur_weight * cur[j] + 0x8000) >> 16);
      }
      lsp_to_lpc(set);
    }
    return;
  }
  for (std::size_t s = 0; s < kSubframes; ++s) {
    const auto set = lpc_out.subspan(s * kLpcOrder).first<kLpcOrder>();
    for (std::size_t j = 0; j < kLpcOrder; ++j) {
      std::int32_t acc = deposit_high(prev[j]);
      acc = mac32(acc, w, prev[j]);
      acc = msu32(acc, w, cur[j]);
      set[j] = round32_to16(acc);
    }
    lsp_to_lpc(set);
    w = add16(w, kWeightStep);
  }
}

void decode_lpc_sets(const TableSet& tables, std::span<std::int16_t, kSubframes * kLpcOrder> lpc_out, std::span<std::int16_t, kLpcOrder> prev_lsp,
                     std::int32_t lsp_index, std::int16_t erased) {
  std::array<std::int16_t, kLpcOrder> lsp;
  dequantise_lsp(tables, lsp, prev_lsp, lsp_index, erased);
  interpolate_lsp(lpc_out, lsp, prev_lsp);
  std::ranges::copy(lsp, prev_lsp.begin());
}

}  // namespace g7231
