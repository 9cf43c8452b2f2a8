#include "codec/encoder/lsp_conversion.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "codec/tables/cosine_table.h"
#include "codec/tables/lsp_conversion_tables.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

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

// The search evaluates one polynomial at this many consecutive grid points at a time (at most 31, for the
// masks of their signs).
constexpr int kBlockPoints = 16;

// cos(j g theta) for j = 1..5 (row j - 1) and g = 0..255: the cosines of the chain's steps after the first,
// whose cosine is 1, laid out by step so that a block of grid points reads each row contiguously. The rows
// run on by kBlockPoints points, so that a block starting near point 255 stays inside them.
using GridCosines = std::array<std::array<std::int16_t, kGridSteps + kBlockPoints>, kHalfOrder>;
constexpr GridCosines make_grid_cosines() {
  GridCosines t{};
  for (std::size_t j = 1; j <= kHalfOrder; ++j) {
    for (std::size_t g = 0; g < t[j - 1].size(); ++g) t[j - 1][g] = kCosineTable[(g * j) % kCosineTableSize];
  }
  return t;
}
constexpr GridCosines kGridCosines = make_grid_cosines();

// One polynomial as the block evaluation takes it: 2^30 plus the chain's first product (the middle
// coefficient times cos 0), and the coefficients of the other steps in the chain's order.
struct BlockPolynomial {
  std::uint32_t start;
  std::array<std::int16_t, kHalfOrder> c;
};

BlockPolynomial block_polynomial(const ScaledPolynomials& s, std::size_t k) {
  BlockPolynomial b{};
  b.start = static_cast<std::uint32_t>(0x40000000 + std::int32_t{s[2 * kHalfOrder + k]} * kCosineTable[0]);
  for (std::size_t j = 1; j <= kHalfOrder; ++j) b.c[j - 1] = s[2 * kHalfOrder - 2 * j + k];
  return b;
}

// Values of polynomial k at grid points g0 .. g0 + kBlockPoints - 1, each equal to evaluate(s, k, g), and
// the mask of the negative ones (bit i for point g0 + i).
std::uint32_t evaluate_block(const ScaledPolynomials& s, std::size_t k, const BlockPolynomial& b, int g0,
                             std::array<std::int32_t, kBlockPoints>& out) {
  static constexpr auto kBits = [] {
    std::array<std::uint32_t, kBlockPoints> bits{};
    for (std::size_t i = 0; i < kBlockPoints; ++i) bits[i] = std::uint32_t{1} << i;
    return bits;
  }();
  const auto first = static_cast<std::size_t>(g0);
  // Halved, the chain's partial sums are h = sum of s c (c is never -32768, so its products are exact) and
  // it saturates only where some h leaves [-2^30, 2^30). The first two h stay inside (|s c| <= 2^29); after
  // them u = 2^30 + h, wrapping in 32 bits, has its sign bit set exactly where h is outside, up to the first
  // such h, so a point whose u never had it set takes the plain 2 h and any other point the chain.
  std::uint32_t chained = 0;  // the points whose chain may saturate
  std::uint32_t negative = 0;
  for (std::size_t i = 0; i < kBlockPoints; ++i) {
    std::uint32_t u = b.start + static_cast<std::uint32_t>(std::int32_t{b.c[0]} * kGridCosines[0][first + i]);
    std::uint32_t flags = 0;
    for (std::size_t j = 1; j < kHalfOrder; ++j) {
      u += static_cast<std::uint32_t>(std::int32_t{b.c[j]} * kGridCosines[j][first + i]);
      flags |= u;
    }
    const auto value = static_cast<std::int32_t>(2 * u - 0x80000000u);
    out[i] = value;
    chained |= static_cast<std::uint32_t>(static_cast<std::int32_t>(flags) >> 31) & kBits[i];
    negative |= static_cast<std::uint32_t>(value >> 31) & kBits[i];
  }
  for (; chained != 0; chained &= chained - 1) {
    const auto i = static_cast<std::size_t>(std::countr_zero(chained));
    out[i] = evaluate(s, k, g0 + static_cast<int>(i));
    negative = (negative & ~kBits[i]) | (static_cast<std::uint32_t>(out[i] >> 31) & kBits[i]);
  }
  return negative;
}

// The grid search of lpc_to_lsp, a block of points at a time: the same values, sign changes and roots.
std::size_t find_roots_in_blocks(const ScaledPolynomials& s, std::int32_t prev,
                                 std::array<std::int16_t, kLpcOrder>& roots) {
  const std::array<BlockPolynomial, 2> polys{block_polynomial(s, 0), block_polynomial(s, 1)};
  std::array<std::int32_t, kBlockPoints> v{};
  std::size_t count = 0;
  std::size_t k = 0;
  int g0 = 1;         // the block's first grid point
  std::size_t i = 0;  // its first point to test: 1 when the block starts at a root, whose value is prev
  while (g0 < kGridSteps) {
    const std::uint32_t negative = evaluate_block(s, k, polys[k], g0, v);
    if (i == 1) prev = v[0];
    const auto n = static_cast<std::size_t>(std::min(kBlockPoints, kGridSteps - g0));
    // Up to the first sign change every value has prev's sign, so the change is at the first point from
    // i on whose sign differs from prev's (0 counting as positive).
    const std::uint32_t differs =
        (negative ^ (prev < 0 ? ~std::uint32_t{0} : 0)) & (~std::uint32_t{0} << i) & ((std::uint32_t{1} << n) - 1);
    if (differs == 0) {
      prev = v[n - 1];
      g0 += static_cast<int>(n);
      i = 0;
      continue;
    }
    i = static_cast<std::size_t>(std::countr_zero(differs));
    if (i > 0) prev = v[i - 1];
    // A sign change at point g: the root, then the other polynomial from the same point on.
    const int g = g0 + static_cast<int>(i);
    roots[count++] = locate_lsp_root(prev, v[i], static_cast<std::int16_t>(g));
    if (count == kLpcOrder) break;
    k = 1 - k;
    g0 = g;
    i = 1;
  }
  return count;
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
  if constexpr (kExactFastPaths) {
    count = find_roots_in_blocks(s, prev, roots);
  } else {
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
  }

  if (count < kLpcOrder) {
    std::copy(fallback_lsp.begin(), fallback_lsp.end(), roots.begin());
  }
  std::copy(roots.begin(), roots.end(), lsp_out.begin());
}

}  // namespace g7231
