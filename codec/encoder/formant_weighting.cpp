#include "codec/encoder/formant_weighting.h"

#include <algorithm>
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
                             std::span<std::int16_t, kLpcOrder> fir_mem, std::span<std::int16_t, kLpcOrder> iir_mem) {
  for (std::size_t s = 0; s < kSubframes; ++s) {
    const auto num = coef.subspan(kWeightingCoefs * s, kLpcOrder);
    const auto den = coef.subspan(kWeightingCoefs * s + kLpcOrder, kLpcOrder);
    for (std::size_t n = kSubframeSamples * s; n < kSubframeSamples * (s + 1); ++n) {
      const std::int16_t x = frame[n];

      // The sample in Q14 (doubled Q13), less the zeros' contribution of the past inputs.
      std::int32_t acc = mult32_16x16(x, 0x2000);
      for (std::size_t j = 0; j < kLpcOrder; ++j) acc = msu32(acc, num[j], fir_mem[j]);
      std::shift_right(fir_mem.begin(), fir_mem.end(), 1);
      fir_mem[0] = x;

      // Plus the poles' contribution of the past outputs, back to the sample scale.
      for (std::size_t j = 0; j < kLpcOrder; ++j) acc = mac32(acc, den[j], iir_mem[j]);
      std::shift_right(iir_mem.begin(), iir_mem.end(), 1);
      acc = shl32(acc, 2);
      const std::int16_t y = round32_to16(acc);
      iir_mem[0] = y;
      frame[n] = y;
    }
  }
}

}  // namespace g7231
