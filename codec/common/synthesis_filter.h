// The synthesis filter 1/A(z) that turns a subframe's excitation into speech, and the 10-value filter
// memories it and the encoder's weighting filters share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {

// acc + sum of 2 c[k] mem[k] over k = 0..9 in increasing k, each step saturating (mac32).
inline std::int32_t mac_memory(std::int32_t acc, std::span<const std::int16_t, kLpcOrder> c,
                               std::span<const std::int16_t, kLpcOrder> mem) {
  for (std::size_t k = 0; k < kLpcOrder; ++k) acc = fx::mac32(acc, c[k], mem[k]);
  return acc;
}

// Shifts a memory by one place (the oldest value drops out) and inserts v as the most recent.
inline void push_memory(std::span<std::int16_t, kLpcOrder> mem, std::int16_t v) {
  std::copy_backward(mem.begin(), mem.end() - 1, mem.end());
  mem[0] = v;
}

// The synthesis filter's accumulator for one excitation sample: the sample in Q13 of half scale
// (exc * 2^12) plus the prediction sum 2 a[k] mem[k] from the past outputs, most recent first.
inline std::int32_t synthesis_accumulator(std::int16_t exc, std::span<const std::int16_t, kLpcOrder> a,
                                          std::span<const std::int16_t, kLpcOrder> mem) {
  return mac_memory(fx::shr32(fx::deposit_high(exc), 3), a, mem);
}

// Runs a subframe's excitation through 1/A(z) in place: exc becomes the reconstructed speech (the filter
// output doubled, saturating) and mem, the last 10 outputs, most recent first, runs on.
void synthesise_subframe(std::span<std::int16_t, kSubframeSamples> exc, std::span<const std::int16_t, kLpcOrder> a,
                         std::span<std::int16_t, kLpcOrder> mem);

}  // namespace g7231
