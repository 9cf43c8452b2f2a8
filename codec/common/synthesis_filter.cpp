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

// A block's filter values in time order: the 10 before the block, oldest first, then the block's, then
// six zeros, so that the 16 values from any sample's oldest memory can be read.
using FilterLine = std::array<std::int16_t, kLpcOrder + kSubframeSamples + 6>;

void load_line(FilterLine& line, std::span<const std::int16_t, kLpcOrder> mem) {
  std::reverse_copy(mem.begin(), mem.end(), line.begin());
}

// The last 10 values of the line's first kLpcOrder + length, most recent first.
void store_line(const FilterLine& line, std::size_t length, std::span<std::int16_t, kLpcOrder> mem) {
  std::reverse_copy(line.begin() + static_cast<std::ptrdiff_t>(length),
                    line.begin() + static_cast<std::ptrdiff_t>(length + kLpcOrder), mem.begin());
}

// sum a[j] b[j] over 16 values in plain 32-bit arithmetic (pmaddwd pairs on x86-64, whose baseline has
// SSE2): callers bound the sum, and with it every pair's, well within the 32-bit range.
std::int32_t dot16(const std::int16_t* a, const std::int16_t* b) {
#if defined(__SSE2__)
  const auto load = [](const std::int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  __m128i s = _mm_add_epi32(_mm_madd_epi16(load(a), load(b)), _mm_madd_epi16(load(a + 8), load(b + 8)));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
  return _mm_cvtsi128_si32(s);
#else
  std::int32_t s = 0;
  for (std::size_t j = 0; j < 16; ++j) s += std::int32_t{a[j]} * b[j];
  return s;
#endif
}

// |v| / 8 rounded down: a line of these bounds a filter's products, |c v| <= |c| (8 (|v| >> 3) + 7).
std::int16_t eighth(std::int16_t v) { return static_cast<std::int16_t>(std::abs(std::int32_t{v}) >> 3); }

// A filter's coefficients reversed and padded with zeros: taps[j] weighs the value 10 - j samples back, so
// that a sample's sum is a 16-value dot product with the line from its oldest memory, which the compiler
// vectorises.
struct PaddedTaps {
  alignas(32) std::array<std::int16_t, 16> taps{};
  alignas(32) std::array<std::int16_t, 16> magnitudes{};  // |taps|, when none is -32768
  std::int64_t magnitude_sum;
  bool bounded = true;  // no coefficient is -32768, so magnitudes holds them all

  explicit PaddedTaps(std::span<const std::int16_t, kLpcOrder> c) : magnitude_sum(sum_of_magnitudes(c)) {
    std::reverse_copy(c.begin(), c.end(), taps.begin());
    for (std::size_t j = 0; j < kLpcOrder; ++j) {
      bounded = bounded && taps[j] != kMin16;
      magnitudes[j] = bounded ? static_cast<std::int16_t>(std::abs(std::int32_t{taps[j]})) : 0;
    }
  }
  // sum c[k] m[9 - k], m the 10 values before a sample, oldest first (and 6 more of no weight), plain.
  std::int32_t dot(const std::int16_t* m) const { return dot16(taps.data(), m); }
  // Whether a chain from acc over the products with m (eighths e of the same values) stays in the 32-bit
  // range: sum 2 |c m| <= 2 sum |c| (8 e + 7), each product |c| e < 2^15 2^12.
  bool window_within(std::int32_t acc, const std::int16_t* e) const {
    const std::int32_t s = dot16(magnitudes.data(), e);
    return bounded && chain_within(std::abs(std::int64_t{acc}), 2 * (8 * std::int64_t{s} + 7 * magnitude_sum));
  }
};

}  // namespace

void all_pole_block(std::span<const std::int32_t> start, std::span<const std::int16_t, kLpcOrder> c,
                    std::span<std::int16_t, kLpcOrder> mem, std::span<std::int16_t> out) {
  assert(start.size() <= kSubframeSamples && out.size() == start.size());
  FilterLine line{};
  FilterLine eighths{};
  load_line(line, mem);
  for (std::size_t j = 0; j < kLpcOrder; ++j) eighths[j] = eighth(line[j]);
  const PaddedTaps taps(c);
  // The chain of sample n moves its accumulator by at most 2 sum|c| (largest |earlier output|): when that
  // and |start| stay within 2^31 - 1, no partial sum saturates and the plain sum is exact; failing that,
  // the same bound over the sample's own ten memories decides.
  const std::int64_t gain = 2 * taps.magnitude_sum;
  std::int32_t largest = largest_magnitude(mem);
  for (std::size_t n = 0; n < start.size(); ++n) {
    const std::int16_t* m = line.data() + n;
    std::int32_t acc = start[n];
    if (chain_within(std::abs(std::int64_t{acc}), gain * largest) || taps.window_within(acc, eighths.data() + n)) {
      acc += 2 * taps.dot(m);
    } else {
      for (std::size_t k = 0; k < kLpcOrder; ++k) acc = mac32(acc, c[k], m[kLpcOrder - 1 - k]);
    }
    const std::int16_t y = round16_shl2(acc);
    line[kLpcOrder + n] = y;
    eighths[kLpcOrder + n] = eighth(y);
    out[n] = y;
    largest = std::max(largest, std::abs(std::int32_t{y}));
  }
  store_line(line, start.size(), mem);
}

void all_zero_block(std::span<const std::int16_t> x, std::span<const std::int16_t, kLpcOrder> c,
                    std::span<std::int16_t, kLpcOrder> mem, std::span<std::int16_t> out) {
  assert(x.size() <= kSubframeSamples && out.size() == x.size());
  FilterLine line{};
  load_line(line, mem);
  const PaddedTaps taps(c);
  std::copy(x.begin(), x.end(), line.begin() + kLpcOrder);
  // Every chain starts at 2^14 x[n] and moves by at most 2 sum|c| (largest |input|): within 2^31 - 1 for
  // the largest input of the block, no partial sum of any sample saturates and plain sums are exact;
  // failing that, the same bound over each sample's own ten memories decides.
  const std::size_t used = kLpcOrder + x.size();
  const std::int32_t largest = largest_magnitude(std::span(line).first(used));
  const bool plain = chain_within(std::int64_t{largest} << 14, 2 * taps.magnitude_sum * largest);
  FilterLine eighths{};
  if (!plain) {
    for (std::size_t j = 0; j < used; ++j) eighths[j] = eighth(line[j]);
  }
  for (std::size_t n = 0; n < x.size(); ++n) {
    const std::int16_t* m = line.data() + n;
    std::int32_t acc = mult32_16x16(x[n], 0x2000);
    if (plain || taps.window_within(acc, eighths.data() + n)) {
      acc -= 2 * taps.dot(m);
    } else {
      for (std::size_t k = 0; k < kLpcOrder; ++k) acc = msu32(acc, c[k], m[kLpcOrder - 1 - k]);
    }
    out[n] = round16_shl2(acc);
  }
  store_line(line, x.size(), mem);
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
