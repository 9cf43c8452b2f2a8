#include "codec/encoder/filter_cascade.h"

#include <algorithm>
#include <array>

#include "codec/common/synthesis_filter.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;

using Memory = std::array<std::int16_t, kLpcOrder>;

std::int32_t msu_all(std::int32_t acc, std::span<const std::int16_t, kLpcOrder> c,
                     std::span<const std::int16_t, kLpcOrder> mem) {
  for (std::size_t k = 0; k < kLpcOrder; ++k) acc = msu32(acc, c[k], mem[k]);
  return acc;
}

std::span<const std::int16_t, kLpcOrder> numerator(std::span<const std::int16_t, kWeightingCoefs> w) {
  return w.first<kLpcOrder>();
}
std::span<const std::int16_t, kLpcOrder> denominator(std::span<const std::int16_t, kWeightingCoefs> w) {
  return w.last<kLpcOrder>();
}

// Extended shaping buffer: the history, then the weighted output of the current subframe.
using ShapingBuffer = std::array<std::int16_t, kHistorySamples + kSubframeSamples>;

std::int16_t lagged(const ShapingBuffer& t, std::size_t n, std::int16_t lag) {
  return t[kHistorySamples + n - static_cast<std::size_t>(lag)];
}

}  // namespace

void compute_impulse_response(std::span<std::int16_t, kSubframeSamples> out, std::span<const std::int16_t, kLpcOrder> a,
                              std::span<const std::int16_t, kWeightingCoefs> w, HarmonicWeighting hw) {
  Memory f{};
  Memory r{};
  ShapingBuffer t{};
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    std::int32_t acc = n == 0 ? 0x04000000 : 0;
    acc = mac_memory(acc, a, f);
    const std::int32_t s = shl32(acc, 2);
    acc = msu_all(acc, numerator(w), f);
    acc = shl32(acc, 1);
    push_memory(f, round32_to16(s));
    acc = mac_memory(acc, denominator(w), r);
    push_memory(r, round32_to16(shl32(acc, 2)));
    t[kHistorySamples + n] = r[0];
    out[n] = round32_to16(msu32(deposit_high(r[0]), hw.gain, lagged(t, n, hw.lag)));
  }
}

void subtract_ringing(std::span<std::int16_t, kSubframeSamples> target, std::span<const std::int16_t, kLpcOrder> a,
                      std::span<const std::int16_t, kWeightingCoefs> w, const CascadeMemory& mem, HarmonicWeighting hw) {
  Memory f;
  Memory r;
  ShapingBuffer t{};
  std::ranges::copy(mem.synth, f.begin());
  std::ranges::copy(mem.weight, r.begin());
  std::ranges::copy(mem.shaping, t.begin());
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    std::int32_t acc = mac_memory(0, a, f);
    const std::int32_t s = shl32(acc, 2);
    acc = msu_all(acc, numerator(w), f);
    push_memory(f, round32_to16(s));
    acc = mac_memory(acc, denominator(w), r);
    const std::int16_t ring = round32_to16(shl32(acc, 2));
    push_memory(r, ring);
    t[kHistorySamples + n] = ring;
    target[n] = round32_to16(mac32(deposit_high(sub16(target[n], ring)), hw.gain, lagged(t, n, hw.lag)));
  }
}

void update_filter_memories(std::span<std::int16_t, kSubframeSamples> exc, std::span<const std::int16_t, kLpcOrder> a,
                            std::span<const std::int16_t, kWeightingCoefs> w, const CascadeMemory& mem) {
  std::copy(mem.shaping.begin() + kSubframeSamples, mem.shaping.end(), mem.shaping.begin());
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    std::int32_t acc = synthesis_accumulator(exc[n], a, mem.synth);
    const std::int32_t s = shl32(acc, 2);
    exc[n] = shl16(round32_to16(s), 1);
    acc = msu_all(acc, numerator(w), mem.synth);
    push_memory(mem.synth, round32_to16(s));
    acc = mac_memory(acc, denominator(w), mem.weight);
    push_memory(mem.weight, round32_to16(shl32(acc, 2)));
    mem.shaping[kHistorySamples - kSubframeSamples + n] = mem.weight[0];
  }
}

}  // namespace g7231
