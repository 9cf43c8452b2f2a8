#include "codec/encoder/formant_weighting.h"

#include <cstddef>

#include "codec/tables/formant_weighting_tables.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {

using namespace fx;

void weighting_filter_coefficients(std::span<std::int16_t, kSubframes * kWeightingCoefs> coef_out,
                                   std::span<const std::int16_t, kSubframes * kLpcOrder> lpc) {
  for (std::size_t s = 0; s < kSubframes; ++s) {
    for (std::size_t j = 0; j < kLpcOrder; ++j) {
      const std::int16_t a = lpc[kLpcOrder * s + j];
      coef_out[kWeightingCoefs * s + j] = mult16_round(a, kWeightingZeroFactors[j]);
      coef_out[kWeightingCoefs * s + kLpcOrder + j] = mult16_round(a, kWeightingPoleFactors[j]);
    }
  }
}

void apply_formant_weighting(std::span<std::int16_t, kFrameSamples> frame,
                             std::span<const std::int16_t, kSubframes * kWeightingCoefs> coef,
                             std::span<std::int16_t, kLpcOrder> fir_mem, std::span<std::int16_t, kLpcOrder> iir_mem,
                             const DspKernels& kernels) {
  kernels.formant_weighting(frame, coef, fir_mem, iir_mem);
}

}  // namespace g7231
