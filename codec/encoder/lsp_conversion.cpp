#include "codec/encoder/lsp_conversion.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "codec/tables/cosine_table.h"
#include "codec/tables/lsp_conversion_tables.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;

// Half the order: the sum and difference polynomials, each with its trivial root at z = -1 or z = 1
// removed, are symmetric of degree 10, so six coefficients describe each.
constexpr std::size_t kHalfOrder = kLpcOrder / 2;
constexpr int kGridSteps = 256;  // grid points 0..255 cover [0, pi); point 256 (pi) is never evaluated

// Coefficients of both polynomials scaled to 16 bits, interleaved: S[2i] = P[i], S[2i + 1] = Q[i].
using ScaledPolynomials = std::array<std::int16_t, 2 * (kHalfOrder + 1)>;

// Sum (P) and difference (Q) polynomials of the bandwidth-expanded filter, normalised to 16 bits.
ScaledPolynomials polynomials(std::span<const std::int16_t, kLpcOrder> lpc) {
  std::array<std::int16_t, kLpcOrder> b{};
  for (std::size_t i = 0; i < kLpcOrder; ++i) b[i] = mult16_round(lpc[i], kBandwidthExpansion[i]);

  // Q25, 32 bits; the leading coefficient is 1.0.
  std::array<std::int32_t, kHalfOrder + 1> p{};
  std::array<std::int32_t, kHalfOrder + 1> q{};
  p[0] = 0x02000000;
  q[0] = 0x02000000;
  for (std::size_t i = 0; i < kHalfOrder; ++i) {
    const std::int32_t u = shr32(deposit_high(b[i]), 4);
    const std::int32_t v = shr32(deposit_high(b[kLpcOrder - 1 - i]), 4);
    p[i + 1] = sub32(sub32(negate32(p[i]), u), v);
    q[i + 1] = add32(sub32(q[i], u), v);
  }
  // The middle coefficient counts half in the cosine sum.
  p[kHalfOrder] = shr32(p[kHalfOrder], 1);
  q[kHalfOrder] = shr32(q[kHalfOrder], 1);

  std::array<std::int32_t, 2 * (kHalfOrder + 1)> both{};
  for (std::size_t i = 0; i <= kHalfOrder; ++i) {
    both[2 * i] = p[i];
    both[2 * i + 1] = q[i];
  }
  std::int32_t largest = 0;
  for (const std::int32_t c : both) largest = std::max(largest, abs32(c));
  const std::int16_t e = norm32(largest);

  ScaledPolynomials s{};
  for (std::size_t n = 0; n < s.size(); ++n) s[n] = round32_to16(shl32(both[n], e));
  return s;
}

// Value of polynomial k (0: sum, 1: difference) at grid point g, i.e. at frequency 2 pi g / 512:
// the middle coefficient times cos 0 first, the leading coefficient times cos(5 g theta) last.
std::int32_t evaluate(const ScaledPolynomials& s, std::size_t k, int g) {
  std::int32_t acc = 0;
  for (std::size_t j = 0; j <= kHalfOrder; ++j) {
    const std::size_t angle = (static_cast<std::size_t>(g) * j) % kCosineTableSize;
    acc = mac32(acc, s[2 * kHalfOrder - 2 * j + k], kCosineTable[angle]);
  }
  return acc;
}

}  // namespace

std::int16_t locate_lsp_root(std::int32_t prev, std::int32_t cur, std::int16_t g) {
  const std::int32_t a = abs32(cur);
  std::int32_t b = abs32(prev);
  std::int32_t t = add32(a, b);
  const std::int16_t s = norm32(t);
  t = shl32(t, s);
  b = shl32(b, s);
  b = shr32(b, 8);
  // b / t in units of 1/128 of a grid step.
  return add16(div32_16(b, extract_high(t)), shl16(static_cast<std::int16_t>(g - 1), 7));
}

void lpc_to_lsp(std::span<std::int16_t, kLpcOrder> lsp_out, std::span<const std::int16_t, kLpcOrder> lpc,
                std::span<const std::int16_t, kLpcOrder> fallback_lsp) {
  const ScaledPolynomials s = polynomials(lpc);

  // Sum polynomial at frequency 0.
  std::int32_t prev = 0;
  for (std::size_t j = 0; j <= kHalfOrder; ++j) prev = mac32(prev, s[2 * j], kCosineTable[0]);

  // Roots alternate between the two polynomials, the sum polynomial's first. Built aside so that the
  // output is written whole, whether with the roots or with the fallback.
  std::array<std::int16_t, kLpcOrder> roots{};
  std::size_t count = 0;
  std::size_t k = 0;
  for (int g = 1; g < kGridSteps && count < kLpcOrder; ++g) {
    std::int32_t cur = evaluate(s, k, g);
    if ((cur ^ prev) < 0) {  // a sign change, 0 counting as positive
      roots[count++] = locate_lsp_root(prev, cur, static_cast<std::int16_t>(g));
      if (count == kLpcOrder) break;
      k = 1 - k;
      cur = evaluate(s, k, g);
    }
    prev = cur;
  }

  if (count < kLpcOrder) {
    std::copy(fallback_lsp.begin(), fallback_lsp.end(), roots.begin());
  }
  std::copy(roots.begin(), roots.end(), lsp_out.begin());
}

}  // namespace g7231
