// Formant perceptual weighting W(z) = A(z/0.9) / A(z/0.5).
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"

namespace g7231 {

inline constexpr std::size_t kWeightingCoefs = 2 * kLpcOrder;  // numerator, then denominator

// The weighting filter of each subframe from its unquantised LPC set (Q13): per subframe the 10 numerator
// coefficients a_j 0.9^j, then the 10 denominator coefficients a_j 0.5^j, all Q13.
void weighting_filter_coefficients(std::span<std::int16_t, kSubframes * kWeightingCoefs> coef_out,
                                   std::span<const std::int16_t, kSubframes * kLpcOrder> lpc);

// Filters the frame in place through each subframe's weighting filter. fir_mem and iir_mem hold the last
// 10 inputs and outputs, most recent first; they run on across subframes and frames.
void apply_formant_weighting(std::span<std::int16_t, kFrameSamples> frame,
                             std::span<const std::int16_t, kSubframes * kWeightingCoefs> coef,
                             std::span<std::int16_t, kLpcOrder> fir_mem, std::span<std::int16_t, kLpcOrder> iir_mem,
                             const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

}  // namespace g7231
