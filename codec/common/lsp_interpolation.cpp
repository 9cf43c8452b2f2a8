#include "codec/common/lsp_interpolation.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "codec/common/lsp_dequantiser.h"
#include "codec/tables/cosine_table.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::size_t kHalfOrder = kLpcOrder / 2;
constexpr std::int16_t kWeightStep = -8192;  // -0.25 in Q15: the current vector's weight grows by 1/4

// -cos(f) in Q15 for an LSP frequency f (Q15 of pi), by linear interpolation in the cosine table, the
// fraction taken at the middle of its 1/128 step. The table spans a full period, so every 16-bit value
// stays inside it: a negative f reads the period below 0 (f + 2 pi), the same angle.
std::int16_t negative_cosine(std::int16_t f) {
  const std::size_t mask = kCosineTableSize - 1;
  const std::int16_t j = shr16(f, 7);
  const std::size_t lo = static_cast<std::size_t>(j) & mask;
  const std::size_t hi = (lo + 1) & mask;
  std::int32_t acc = deposit_high(kCosineTable[lo]);
  const std::int16_t d = sub16(kCosineTable[hi], kCosineTable[lo]);
  const std::int16_t r = add16(shl16(static_cast<std::int16_t>(f & 0x7F), 8), 0x80);
  acc = mac32(acc, d, r);
  acc = shl32(acc, 1);
  return negate16(round32_to16(acc));
}

// Multiplies the symmetric polynomial whose first i + 1 coefficients poly[0..i] hold (the rest follow by
// symmetry) by 1 + 2c z^-1 + z^-2, halving every coefficient so the scale drops by one bit.
void multiply_factor(std::array<std::int32_t, kHalfOrder + 1>& poly, std::int16_t c, std::size_t i) {
  poly[i + 1] = add32(mult32_32x16(poly[i], c), poly[i - 1]);
  for (std::size_t j = i; j >= 2; --j) {
    poly[j] = add32(add32(mult32_32x16(poly[j - 1], c), shr32(poly[j], 1)), shr32(poly[j - 2], 1));
  }
  poly[0] = shr32(poly[0], 1);
  poly[1] = shr32(add32(shr32(deposit_high(c), static_cast<std::int16_t>(i)), poly[1]), 1);
}

}  // namespace

void lsp_to_lpc(std::span<std::int16_t, kLpcOrder> v) {
  std::array<std::int16_t, kLpcOrder> c{};
  for (std::size_t i = 0; i < kLpcOrder; ++i) c[i] = negative_cosine(v[i]);

  // Sum polynomial P from the even-indexed frequencies, difference polynomial Q from the odd ones; the
  // first two factors of each multiplied out directly, in Q28.
  std::array<std::int32_t, kHalfOrder + 1> p{};
  std::array<std::int32_t, kHalfOrder + 1> q{};
  p[0] = 0x10000000;
  p[1] = mac32(mult32_16x16(c[0], 0x2000), c[2], 0x2000);
  p[2] = add32(shr32(mult32_16x16(c[0], c[2]), 1), 0x20000000);
  q[0] = 0x10000000;
  q[1] = mac32(mult32_16x16(c[1], 0x2000), c[3], 0x2000);
  q[2] = add32(shr32(mult32_16x16(c[1], c[3]), 1), 0x20000000);

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
