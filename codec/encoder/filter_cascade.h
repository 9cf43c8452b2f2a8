// The per-subframe filter cascade: synthesis, formant weighting and harmonic noise shaping.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"
#include "codec/encoder/formant_weighting.h"
#include "codec/encoder/harmonic_shaping.h"

namespace g7231 {

// Memories of the cascade, held by the encoder.
struct CascadeMemory {
  std::span<std::int16_t, kLpcOrder> synth;              // synthesis filter outputs, most recent first
  std::span<std::int16_t, kLpcOrder> weight;             // weighting filter outputs, most recent first
  std::span<std::int16_t, kHistorySamples> shaping;      // weighting filter outputs, oldest first
};

// First 60 samples of the cascade's response to a unit impulse, all memories zero.
void compute_impulse_response(std::span<std::int16_t, kSubframeSamples> out, std::span<const std::int16_t, kLpcOrder> a,
                              std::span<const std::int16_t, kWeightingCoefs> w, HarmonicWeighting hw,
                              const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

// compute_impulse_response for all four subframes of a frame at once: a holds their synthesis filters,
// w their weighting filters, hw their harmonic shapings.
void compute_impulse_responses(std::span<std::array<std::int16_t, kSubframeSamples>, kSubframes> out,
                               std::span<const std::int16_t, kSubframes * kLpcOrder> a,
                               std::span<const std::int16_t, kSubframes * kWeightingCoefs> w,
                               std::span<const HarmonicWeighting, kSubframes> hw,
                               const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

// Removes the cascade's zero-input response (from the current memories) from the target.
void subtract_ringing(std::span<std::int16_t, kSubframeSamples> target, std::span<const std::int16_t, kLpcOrder> a,
                      std::span<const std::int16_t, kWeightingCoefs> w, const CascadeMemory& mem, HarmonicWeighting hw,
                      const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

// Runs the final excitation through the cascade, advancing the memories; exc becomes the reconstructed speech.
void update_filter_memories(std::span<std::int16_t, kSubframeSamples> exc, std::span<const std::int16_t, kLpcOrder> a,
                            std::span<const std::int16_t, kWeightingCoefs> w, const CascadeMemory& mem,
                            const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

}  // namespace g7231
