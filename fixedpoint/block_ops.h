// Saturating accumulations over whole vectors, with an exact fast path.
//
// A chain of mac32 steps saturates only if some partial sum leaves the 32-bit range. Every partial sum of
// sum(2 a[i] b[i]) is at most 2 sqrt(sum(a^2) sum(b^2)) in magnitude (Cauchy-Schwarz), so when that bound
// is within 2^31 - 1 (which also rules out the one saturating product, (-32768)^2) the plain sum, which the
// compiler can vectorise, equals the saturating chain bit for bit; otherwise the chain runs step by step.
// The instrumented build always runs the chain, so that every operator is counted.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fixedpoint/basic_ops.h"

namespace fx {

// Whether the exact fast paths are taken: not in the instrumented build, which counts every operator, nor
// in the operator-by-operator build (G7231_FAST_PATHS=OFF) that the equivalence test compares against.
#if defined(G7231_FX_TRACE) || defined(G7231_NO_FAST_PATHS)
inline constexpr bool kExactFastPaths = false;
#else
inline constexpr bool kExactFastPaths = true;
#endif

// sum(a[i]^2) over a block, exactly.
inline std::int64_t sum_of_squares(std::span<const std::int16_t> a) noexcept {
  const std::int16_t* v = a.data();
  const std::size_t n = a.size();
  std::int64_t s = 0;
  std::size_t tail = 0;
#if defined(__SSE2__)
  // Eight values at a time: a pair's sum of squares is at most 2^31, exact in an unsigned 32-bit lane,
  // and the lanes are widened to 64 bits before they are added up.
  const __m128i zero = _mm_setzero_si128();
  __m128i acc = zero;
  tail = n - n % 8;
  for (std::size_t i = 0; i < tail; i += 8) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
    const __m128i pairs = _mm_madd_epi16(x, x);
    acc = _mm_add_epi64(acc, _mm_add_epi64(_mm_unpacklo_epi32(pairs, zero), _mm_unpackhi_epi32(pairs, zero)));
  }
  s = _mm_cvtsi128_si64(acc) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc));
#endif
  for (std::size_t i = tail; i < n; ++i) s += std::int32_t{v[i]} * v[i];
  return s;
}

// True when sum(2 a b) over vectors with these sums of squares keeps every partial sum within
// +-limit: 4 squares_a squares_b <= limit^2.
constexpr bool products_within(std::int64_t squares_a, std::int64_t squares_b, std::int64_t limit = kMax32) noexcept {
  return kExactFastPaths &&
         static_cast<__int128>(4) * squares_a * squares_b <= static_cast<__int128>(limit) * limit;
}

// sum(|c[i]|) over a block: a chain of mac32/msu32 steps with these coefficients, on values of magnitude at
// most m, moves its accumulator by at most 2 m sum(|c|).
constexpr std::int64_t sum_of_magnitudes(std::span<const std::int16_t> c) noexcept {
  std::int64_t s = 0;
  for (std::int16_t v : c) s += v < 0 ? -std::int32_t{v} : std::int32_t{v};
  return s;
}

// max(|v[i]|) over a block, 0 for an empty one. The extremes are taken in 16 bits, which vectorises.
inline std::int32_t largest_magnitude(std::span<const std::int16_t> v) noexcept {
  std::int16_t high = 0;
  std::int16_t low = 0;
  for (std::int16_t x : v) {
    high = std::max(high, x);
    low = std::min(low, x);
  }
  return std::max(std::int32_t{high}, -std::int32_t{low});
}

// max(|v[i]|) over a block of 32-bit values, |-2^31| counting as 2^31; 0 for an empty block. (Taken in
// unsigned 32 bits, which the compiler vectorises.)
inline std::int64_t largest_magnitude32(std::span<const std::int32_t> v) noexcept {
  std::uint32_t top = 0;
  for (const std::int32_t x : v) top = std::max(top, x < 0 ? 0U - static_cast<std::uint32_t>(x) : static_cast<std::uint32_t>(x));
  return top;
}

// max(abs32(v[i])) over a block, abs32 capping |-2^31| at 2^31 - 1; 0 for an empty block.
inline std::int32_t largest_abs32(std::span<const std::int32_t> v) noexcept {
  return static_cast<std::int32_t>(std::min<std::int64_t>(largest_magnitude32(v), kMax32));
}

// round32_to16(x) for every x: (x + 2^15) >> 16 without leaving 32 bits, the one saturation (from
// 0x7FFF8000 up, where add32 stops at 2^31 - 1) landing on 32767.
constexpr std::int16_t round32_to16_plain(std::int32_t x) noexcept {
  return static_cast<std::int16_t>(std::min((x >> 16) + ((x >> 15) & 1), std::int32_t{kMax16}));
}

// True when a chain of saturating steps that starts within +-start and moves its accumulator by at most
// swing in all keeps every partial sum in the 32-bit range, so that plain sums give its exact value. The
// bound also excludes the one saturating product, 2 (-32768)^2 = 2^31.
constexpr bool chain_within(std::int64_t start, std::int64_t swing) noexcept {
  return kExactFastPaths && start + swing <= kMax32;
}

// round32_to16(mac32(deposit_high(p), b, v)), the rounded sum of a 16-bit value and a Q15 product, as
// saturate16(p + ((b v + 2^14) >> 15)). deposit_high(p) is a multiple of 2^16, so the rounding splits into
// p plus the rounded product; the product's saturation ((-32768)^2) and the sum's saturation both land on
// the same 16-bit result as the saturation of the formula.
constexpr std::int16_t mac_round16(std::int16_t p, std::int16_t b, std::int16_t v) noexcept {
  if (!kExactFastPaths) return round32_to16(mac32(deposit_high(p), b, v));
  return saturate16(std::int32_t{p} + ((std::int32_t{b} * v + 0x4000) >> 15));
}

// round32_to16(msu32(deposit_high(p), b, v)) as saturate16(p + ((2^14 - b v) >> 15)), for the same reasons.
constexpr std::int16_t msu_round16(std::int16_t p, std::int16_t b, std::int16_t v) noexcept {
  if (!kExactFastPaths) return round32_to16(msu32(deposit_high(p), b, v));
  return saturate16(std::int32_t{p} + ((0x4000 - std::int32_t{b} * v) >> 15));
}

// round32_to16(shl32(acc, 2)) as saturate16((acc + 2^13) >> 14): the shift's saturation and the
// rounding's land on the same 16-bit result.
constexpr std::int16_t round16_shl2(std::int32_t acc) noexcept {
  if (!kExactFastPaths) return round32_to16(shl32(acc, 2));
  return saturate16(static_cast<std::int32_t>((std::int64_t{acc} + 0x2000) >> 14));
}

// sum(a[i] * b[i]) in plain 32-bit arithmetic, for callers that have bounded it.
template <std::size_t N>
inline std::int32_t plain_dot(const std::int16_t* a, const std::int16_t* b) noexcept {
  std::int32_t s = 0;
  for (std::size_t i = 0; i < N; ++i) s += std::int32_t{a[i]} * b[i];
  return s;
}

// The largest sum of squares that products_within(squares_a, it, limit) admits (-1 when the fast paths
// are off): one division, where a search would otherwise test each candidate's bound.
inline std::int64_t squares_limit(std::int64_t squares_a, std::int64_t limit = kMax32) noexcept {
  if (!kExactFastPaths) return -1;
  constexpr std::int64_t kAll = std::numeric_limits<std::int64_t>::max();
  if (squares_a == 0) return kAll;
  const __int128 room = static_cast<__int128>(limit) * limit / (4 * static_cast<__int128>(squares_a));
  return room > kAll ? kAll : static_cast<std::int64_t>(room);
}

// mac32 accumulated from 0 over a[i] * b[i] in increasing i, given the sums of squares of a and b.
inline std::int32_t mac32_block(std::span<const std::int16_t> a, std::span<const std::int16_t> b,
                                std::int64_t squares_a, std::int64_t squares_b) noexcept {
  if (products_within(squares_a, squares_b)) {
    std::int32_t s = 0;
    for (std::size_t i = 0; i < a.size(); ++i) s += std::int32_t{a[i]} * b[i];
    return 2 * s;
  }
  std::int32_t acc = 0;
  for (std::size_t i = 0; i < a.size(); ++i) acc = mac32(acc, a[i], b[i]);
  return acc;
}

// add32(acc, shr32(mult32_16x16(a[i], b[i]), 1)) accumulated from 0 in increasing i: the sum of a * b,
// saturating. Each term is a * b exactly except (-32768)^2, which mult32_16x16 saturates; a vector holding
// -32768 has a sum of squares of at least 2^30, so the fast path excludes that case too.
inline std::int32_t half_mac32_block(std::span<const std::int16_t> a, std::span<const std::int16_t> b,
                                     std::int64_t squares_a, std::int64_t squares_b) noexcept {
  constexpr std::int64_t kMinSquare = std::int64_t{1} << 30;
  if (products_within(squares_a, squares_b, 2 * std::int64_t{kMax32}) &&
      (squares_a < kMinSquare || squares_b < kMinSquare)) {
    std::int32_t s = 0;
    for (std::size_t i = 0; i < a.size(); ++i) s += std::int32_t{a[i]} * b[i];
    return s;
  }
  std::int32_t acc = 0;
  for (std::size_t i = 0; i < a.size(); ++i) acc = add32(acc, shr32(mult32_16x16(a[i], b[i]), 1));
  return acc;
}

}  // namespace fx
