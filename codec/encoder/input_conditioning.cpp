#include "codec/encoder/input_conditioning.h"

#include <algorithm>
#include <bit>
#include <array>
#include <cstdlib>

#include "codec/tables/input_conditioning_tables.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {

using fx::abs16;
using fx::add32;
using fx::extract_low;
using fx::mac32;
using fx::mult32_16x16;
using fx::mult32_32x16;
using fx::norm16;
using fx::round32_to16;
using fx::shr16;
using fx::shr32;
using fx::sub16;

void remove_dc(std::span<std::int16_t, kFrameSamples> frame, std::int16_t& prev_input, std::int32_t& prev_output,
               bool highpass_enabled) {
  if (!highpass_enabled) {
    for (std::int16_t& x : frame) x = shr16(x, 1);
    return;
  }
  // y(n) = x(n)/2 - x(n-1)/2 + (127/128) y(n-1), kept at full 32-bit precision between samples.
  if (fx::kExactFastPaths) {
    // The first two steps give (x(n) - x(n-1)) 2^15 exactly (within +-(2^31 - 2^15)) and
    // mult32_32x16(y, 0x7F00) is exactly floor(127 y / 128) = y - ceil(y / 128): only the add32 and the
    // rounding can saturate.
    std::array<std::int32_t, kFrameSamples> rise;
    rise[0] = (std::int32_t{frame[0]} - prev_input) * 32768;
    for (std::size_t n = 1; n < kFrameSamples; ++n) rise[n] = (std::int32_t{frame[n]} - frame[n - 1]) * 32768;
    const std::int64_t largest = std::max(fx::largest_magnitude(frame), std::abs(std::int32_t{prev_input}));
    prev_input = frame[kFrameSamples - 1];
    if (std::abs(std::int64_t{prev_output}) + (largest << 16) + 128 < 0x7FFF8000) {
      // |y(n)| < |y(-1)| + 2^16 max|x| + 128 (the filter's response sums to 2 in magnitude, its floors lose
      // under 128 in all), so nothing saturates: plain 32-bit sums.
      std::int32_t y = prev_output;
#pragma GCC unroll 4
      for (std::size_t n = 0; n < kFrameSamples; ++n) {
        y = y - ((y + 127) >> 7) + rise[n];
        frame[n] = static_cast<std::int16_t>((y + 0x8000) >> 16);
      }
      prev_output = y;
    } else {
      // add32 as the 64-bit sum clamped; round32_to16 saturates only from 0x7FFF8000 up.
      std::int64_t y = prev_output;
      for (std::size_t n = 0; n < kFrameSamples; ++n) {
        y = std::clamp<std::int64_t>(y - ((y + 127) >> 7) + rise[n], fx::kMin32, fx::kMax32);
        frame[n] = static_cast<std::int16_t>(std::min<std::int64_t>((y + 0x8000) >> 16, fx::kMax16));
      }
      prev_output = static_cast<std::int32_t>(y);
    }
    return;
  }
  for (std::int16_t& x : frame) {
    std::int32_t acc = mult32_16x16(x, 0x4000);
    acc = mac32(acc, prev_input, -16384);
    prev_input = x;
    acc = add32(acc, mult32_32x16(prev_output, 0x7F00));
    prev_output = acc;
    x = round32_to16(acc);
  }
}

static_assert(std::ranges::all_of(kNormFactors, [](std::int16_t f) { return f > 0; }));

std::int16_t normalize_block(std::span<std::int16_t> block) {
  std::int16_t largest = 0;
  if (fx::kExactFastPaths) {
    // abs16 is |x| except that |-32768| is 32767. The extremes are taken in 16 bits, which vectorises.
    std::int16_t high = 0;
    std::int16_t low = 0;
    for (const std::int16_t x : block) {
      high = std::max(high, x);
      low = std::min(low, x);
    }
    largest = static_cast<std::int16_t>(std::min(std::max(std::int32_t{high}, -std::int32_t{low}), std::int32_t{fx::kMax16}));
  } else {
    for (const std::int16_t x : block) {
      const std::int16_t a = abs16(x);
      if (a > largest) largest = a;
    }
  }
  const std::int16_t norm = norm16(largest);  // 0 for an all-zero block
  const std::int16_t factor = kNormFactors[static_cast<std::size_t>(norm)];
  // 2 * factor * x / 16 = x * 2^(norm - 3), floored when norm < 3. The factors are positive, so the
  // doubled product never saturates and plain arithmetic gives it.
  if (fx::kExactFastPaths) {
    // The factor is 2^norm (norm <= 14 for any block), so the product is a shift: left by norm - 3 within
    // 16 bits (largest 2^norm <= 32767), or right, floored.
    static_assert(std::ranges::all_of(std::span(kNormFactors).first(15), [](std::int16_t f) { return std::has_single_bit(static_cast<std::uint16_t>(f)); }));
    if (norm >= 3) {
      const auto scale = static_cast<std::int16_t>(1 << (norm - 3));
      for (std::int16_t& x : block) x = static_cast<std::int16_t>(x * scale);
    } else {
      for (std::int16_t& x : block) x = static_cast<std::int16_t>(x >> (3 - norm));
    }
  } else {
    for (std::int16_t& x : block) x = extract_low(shr32(mult32_16x16(factor, x), 4));
  }
  return sub16(norm, 3);
}

void shift_analysis_history(std::span<std::int16_t, kAnalysisHistorySamples> history,
                            std::span<std::int16_t, kFrameSamples> frame) {
  // The sequence is history followed by frame; the new frame is its samples 60..299.
  std::array<std::int16_t, kAnalysisHistorySamples + kFrameSamples> seq;
  std::ranges::copy(history, seq.begin());
  std::ranges::copy(frame, seq.begin() + kAnalysisHistorySamples);
  std::copy(seq.end() - kAnalysisHistorySamples, seq.end(), history.begin());
  std::copy_n(seq.begin() + kSubframeSamples, kFrameSamples, frame.begin());
}

}  // namespace g7231
