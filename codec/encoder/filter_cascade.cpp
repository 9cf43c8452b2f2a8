#include "codec/encoder/filter_cascade.h"

#include <algorithm>

namespace g7231 {
namespace {

// The memories in the kernel's time order: oldest first.
void load_memories(CascadeWork& work, const CascadeMemory& mem) {
  std::reverse_copy(mem.synth.begin(), mem.synth.end(), work.f.begin());
  std::reverse_copy(mem.weight.begin(), mem.weight.end(), work.r.begin());
}

}  // namespace

void compute_impulse_response(std::span<std::int16_t, kSubframeSamples> out, std::span<const std::int16_t, kLpcOrder> a,
                              std::span<const std::int16_t, kWeightingCoefs> w, HarmonicWeighting hw,
                              const DspKernels& kernels) {
  CascadeWork work;
  kernels.filter_cascade(CascadeMode::impulse, out, a, w, work, hw.lag, hw.gain);
}

void compute_impulse_responses(std::span<std::array<std::int16_t, kSubframeSamples>, kSubframes> out,
                               std::span<const std::int16_t, kSubframes * kLpcOrder> a,
                               std::span<const std::int16_t, kSubframes * kWeightingCoefs> w,
                               std::span<const HarmonicWeighting, kSubframes> hw, const DspKernels& kernels) {
  std::array<std::int16_t, kSubframes> lags;
  std::array<std::int16_t, kSubframes> gains;
  for (std::size_t s = 0; s < kSubframes; ++s) {
    lags[s] = hw[s].lag;
    gains[s] = hw[s].gain;
  }
  kernels.impulse_responses(out, a, w, lags, gains);
}

void subtract_ringing(std::span<std::int16_t, kSubframeSamples> target, std::span<const std::int16_t, kLpcOrder> a,
                      std::span<const std::int16_t, kWeightingCoefs> w, const CascadeMemory& mem, HarmonicWeighting hw,
                      const DspKernels& kernels) {
  CascadeWork work;
  load_memories(work, mem);
  std::ranges::copy(mem.shaping, work.shaping.begin());
  kernels.filter_cascade(CascadeMode::ringing, target, a, w, work, hw.lag, hw.gain);
}

void update_filter_memories(std::span<std::int16_t, kSubframeSamples> exc, std::span<const std::int16_t, kLpcOrder> a,
                            std::span<const std::int16_t, kWeightingCoefs> w, const CascadeMemory& mem,
                            const DspKernels& kernels) {
  CascadeWork work;
  load_memories(work, mem);
  kernels.filter_cascade(CascadeMode::update, exc, a, w, work, 0, 0);
  // The last ten outputs, most recent first, and the shaping history moved on by the subframe.
  std::reverse_copy(work.f.begin() + kSubframeSamples, work.f.begin() + kSubframeSamples + kLpcOrder, mem.synth.begin());
  std::reverse_copy(work.r.begin() + kSubframeSamples, work.r.begin() + kSubframeSamples + kLpcOrder, mem.weight.begin());
  std::copy(mem.shaping.begin() + kSubframeSamples, mem.shaping.end(), mem.shaping.begin());
  std::copy_n(work.r.begin() + kLpcOrder, kSubframeSamples, mem.shaping.end() - kSubframeSamples);
}

}  // namespace g7231
