#include "codec/common/synthesis_filter.h"

#include <array>
#include <cassert>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fixedpoint/block_ops.h"

namespace g7231 {

using namespace fx;

namespace {

using Memory = std::array<std::int32_t, kLpcOrder>;  // the last 10 filter values, most recent first

// The chain acc + sign 2 c[k] m[k] over k = 0..9, one mac32 (sign +1) or msu32 (sign -1) at a time. When
// no coefficient is -32768 no product saturates, and the chain is the plain sum whenever every partial
// sum, taken in the same order in 64 bits, stays in the 32-bit range: that is checked first, and only a
// chain that leaves the range runs step by step.
[[gnu::noinline]] std::int32_t memory_chain(std::int32_t acc, std::span<const std::int16_t, kLpcOrder> c, int sign,
                                            bool bounded, const Memory& m) {
  if (kExactFastPaths && bounded) {
    std::int64_t p = acc;
    std::int64_t high = p;
    std::int64_t low = p;
    for (std::size_t k = 0; k < kLpcOrder; ++k) {
      p += sign * 2 * std::int64_t{c[k]} * m[k];
      high = std::max(high, p);
      low = std::min(low, p);
    }
    if (high <= kMax32 && low >= kMin32) return static_cast<std::int32_t>(p);
  }
  for (std::size_t k = 0; k < kLpcOrder; ++k) {
    const auto v = static_cast<std::int16_t>(m[k]);
    acc = sign > 0 ? mac32(acc, c[k], v) : msu32(acc, c[k], v);
  }
  return acc;
}

// Whether no coefficient is -32768, the one value whose product with -32768 saturates.
bool no_min16(std::span<const std::int16_t, kLpcOrder> c) {
  return std::ranges::none_of(c, [](std::int16_t v) { return v == kMin16; });
}

}  // namespace

void all_pole_block(std::span<const std::int32_t> start, std::span<const std::int16_t, kLpcOrder> c,
                    std::span<std::int16_t, kLpcOrder> mem, std::span<std::int16_t> out) {
  assert(start.size() <= kSubframeSamples && out.size() == start.size());
  const bool bounded = no_min16(c);
  // The outputs in time order, the 10 before the block first: history[kLpcOrder + n] is output n.
  std::array<std::int16_t, kLpcOrder + kSubframeSamples> history;
  std::reverse_copy(mem.begin(), mem.end(), history.begin());
  // Each sample waits on the one before it. The outputs 3 to 10 samples back come in one vector load
  // (far[j] weighs the output 10 - j samples back: c[9] .. c[2]); the newest two come from registers,
  // the newest last, so that the load never reaches a value whose store may still be in flight and the
  // recursion waits for a single multiply-add.
  alignas(16) std::array<std::int16_t, 8> far;
  for (std::size_t j = 0; j < 8; ++j) far[j] = c[kLpcOrder - 1 - j];
  const std::int32_t c0 = c[0];
  const std::int32_t c1 = c[1];
  // The chain of a sample moves its accumulator by at most gain times the largest earlier output: while
  // |start| leaves that much room below 2^31 - 1, no partial sum saturates (nor does the one saturating
  // product, which needs 2^31 of swing) and the plain sum, in any order, is exact.
  const std::int64_t gain = 2 * sum_of_magnitudes(c);
  std::int32_t largest = largest_magnitude(mem);
  std::int64_t room = kExactFastPaths ? kMax32 - gain * largest : -1;
  std::int32_t y1 = mem[0];
  std::int32_t y2 = mem[1];
  for (std::size_t n = 0; n < start.size(); ++n) {
    const std::int16_t* y = history.data() + kLpcOrder + n;  // y[-1 - k] is output n - 1 - k
    std::int32_t acc = start[n];
    if (std::abs(std::int64_t{acc}) <= room) {
      std::int32_t older;
#if defined(__SSE2__)
      __m128i s = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y - kLpcOrder)),
                                 _mm_load_si128(reinterpret_cast<const __m128i*>(far.data())));
      s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
      s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
      older = _mm_cvtsi128_si32(s);
#else
      older = 0;
      for (std::size_t j = 0; j < 8; ++j) older += far[j] * y[j - kLpcOrder];
#endif
      acc += 2 * (older + c1 * y2) + 2 * c0 * y1;
    } else {
      Memory m;
      for (std::size_t k = 0; k < kLpcOrder; ++k) m[k] = y[-1 - static_cast<std::ptrdiff_t>(k)];
      acc = memory_chain(acc, c, +1, bounded, m);
    }
    const std::int16_t v = round16_shl2(acc);
    history[kLpcOrder + n] = v;
    out[n] = v;
    y2 = y1;
    y1 = v;
    const std::int32_t magnitude = std::abs(std::int32_t{v});
    if (magnitude > largest) {
      largest = magnitude;
      room = kExactFastPaths ? kMax32 - gain * largest : -1;
    }
  }
  for (std::size_t k = 0; k < kLpcOrder; ++k) mem[k] = history[start.size() + kLpcOrder - 1 - k];
}

void all_zero_block(std::span<const std::int16_t> x, std::span<const std::int16_t, kLpcOrder> c,
                    std::span<std::int16_t, kLpcOrder> mem, std::span<std::int16_t> out) {
  assert(x.size() <= kSubframeSamples && out.size() == x.size());
  // The filter's inputs in time order: the 10 before the block, oldest first, then the block's, and
  // zeros to round the block up to whole vectors.
  constexpr std::size_t kPadded = (kSubframeSamples + 7) / 8 * 8;
  alignas(16) std::array<std::int16_t, kLpcOrder + kPadded> line{};
  std::reverse_copy(mem.begin(), mem.end(), line.begin());
  std::ranges::copy(x, line.begin() + kLpcOrder);
  const std::size_t length = x.size();
  // Every chain starts at 2^14 x[n] and moves by at most 2 sum|c| (largest |input|): within 2^31 - 1 for
  // the largest input of the block and its memory, no partial sum of any sample saturates (nor does the
  // one saturating product) and plain sums, which run a vector of samples at a time, are exact.
  const std::int32_t largest = largest_magnitude(std::span(line).first(kLpcOrder + length));
  const bool plain = chain_within(std::int64_t{largest} << 14, 2 * sum_of_magnitudes(c) * largest);
  if (plain) {
    // acc[n] = 2^14 x[n] - 2 sum c[k] x(n-1-k); x(n-1-k) is line[kLpcOrder + n - 1 - k].
#if defined(__SSE2__)
    // Taps in pairs: pmaddwd of (c[k], c[k+1]) with (x(n-1-k), x(n-2-k)) interleaved gives four samples'
    // share of two taps at once.
    __m128i pairs[kLpcOrder / 2];
    for (std::size_t k = 0; k < kLpcOrder; k += 2) {
      const std::int32_t pair = static_cast<std::uint16_t>(c[k]) | (std::int32_t{static_cast<std::uint16_t>(c[k + 1])} << 16);
      pairs[k / 2] = _mm_set1_epi32(pair);
    }
    const auto load = [&](std::size_t i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + i)); };
    for (std::size_t n = 0; n < length; n += 8) {
      const __m128i now = load(kLpcOrder + n);
      __m128i low = _mm_srai_epi32(_mm_unpacklo_epi16(_mm_setzero_si128(), now), 2);   // x << 14
      __m128i high = _mm_srai_epi32(_mm_unpackhi_epi16(_mm_setzero_si128(), now), 2);
      for (std::size_t k = 0; k < kLpcOrder; k += 2) {
        const __m128i newer = load(kLpcOrder + n - 1 - k);
        const __m128i older = load(kLpcOrder + n - 2 - k);
        const __m128i products_low = _mm_madd_epi16(_mm_unpacklo_epi16(newer, older), pairs[k / 2]);
        const __m128i products_high = _mm_madd_epi16(_mm_unpackhi_epi16(newer, older), pairs[k / 2]);
        low = _mm_sub_epi32(low, _mm_add_epi32(products_low, products_low));
        high = _mm_sub_epi32(high, _mm_add_epi32(products_high, products_high));
      }
      alignas(16) std::array<std::int32_t, 8> acc;
      _mm_store_si128(reinterpret_cast<__m128i*>(acc.data()), low);
      _mm_store_si128(reinterpret_cast<__m128i*>(acc.data() + 4), high);
      for (std::size_t i = 0; i < 8 && n + i < length; ++i) out[n + i] = round16_shl2(acc[i]);
    }
#else
    std::array<std::int32_t, kPadded> acc;
    for (std::size_t n = 0; n < length; ++n) acc[n] = std::int32_t{x[n]} << 14;
    for (std::size_t k = 0; k < kLpcOrder; ++k) {
      for (std::size_t n = 0; n < length; ++n) acc[n] -= 2 * c[k] * line[kLpcOrder + n - 1 - k];
    }
    for (std::size_t n = 0; n < length; ++n) out[n] = round16_shl2(acc[n]);
#endif
  } else {
    const bool bounded = no_min16(c);
    for (std::size_t n = 0; n < length; ++n) {
      Memory m;
      for (std::size_t k = 0; k < kLpcOrder; ++k) m[k] = line[kLpcOrder + n - 1 - k];
      const std::int32_t acc = mult32_16x16(x[n], 0x2000);
      out[n] = round16_shl2(memory_chain(acc, c, -1, bounded, m));
    }
  }
  std::reverse_copy(line.begin() + static_cast<std::ptrdiff_t>(length),
                    line.begin() + static_cast<std::ptrdiff_t>(length + kLpcOrder), mem.begin());
}

void synthesise_subframe(std::span<std::int16_t, kSubframeSamples> exc, std::span<const std::int16_t, kLpcOrder> a,
                         std::span<std::int16_t, kLpcOrder> mem) {
  std::array<std::int32_t, kSubframeSamples> start;
  for (std::size_t n = 0; n < kSubframeSamples; ++n) start[n] = shr32(deposit_high(exc[n]), 3);
  all_pole_block(start, a, mem, exc);
  for (std::int16_t& x : exc) {
    // shl16 by 1 saturates as a clamp of 2 x does.
    x = kExactFastPaths ? static_cast<std::int16_t>(std::clamp(2 * std::int32_t{x}, std::int32_t{kMin16}, std::int32_t{kMax16}))
                        : shl16(x, 1);
  }
}

}  // namespace g7231
