// The synthesis filter 1/A(z) that turns a subframe's excitation into speech, and the 10-tap recursive and
// non-recursive filters it and the decoder's postfilter are built from.
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

// The all-pole filter over a block of at most a subframe: out[n] = round32_to16(shl32(acc, 2)) with acc
// start[n] plus 2 c[k] y(n-1-k) over k = 0..9, one mac32 at a time, y the filter's earlier outputs; mem,
// the last 10 outputs, most recent first, runs on.
void all_pole_block(std::span<const std::int32_t> start, std::span<const std::int16_t, kLpcOrder> c,
                    std::span<std::int16_t, kLpcOrder> mem, std::span<std::int16_t> out);

// The all-zero filter over a block of at most a subframe: out[n] = round32_to16(shl32(acc, 2)) with acc
// mult32_16x16(x[n], 2^13) less 2 c[k] x(n-1-k) over k = 0..9, one msu32 at a time; mem, the last 10
// inputs, most recent first, runs on.
void all_zero_block(std::span<const std::int16_t> x, std::span<const std::int16_t, kLpcOrder> c,
                    std::span<std::int16_t, kLpcOrder> mem, std::span<std::int16_t> out);

// Runs a subframe's excitation through 1/A(z) in place: exc becomes the reconstructed speech (the filter
// output doubled, saturating) and mem, the last 10 outputs, most recent first, runs on.
void synthesise_subframe(std::span<std::int16_t, kSubframeSamples> exc, std::span<const std::int16_t, kLpcOrder> a,
                         std::span<std::int16_t, kLpcOrder> mem);

}  // namespace g7231
