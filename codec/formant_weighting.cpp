#include "codec/formant_weighting.h"

namespace g7231 {

// Pass-through stages until the formant weighting is built.
void weighting_filter_coefficients(std::span<std::int16_t, kSubframes * kWeightingCoefs>,
                                   std::span<const std::int16_t, kSubframes * kLpcOrder>) {}

void apply_formant_weighting(std::span<std::int16_t, kFrameSamples>,
                             std::span<const std::int16_t, kSubframes * kWeightingCoefs>,
                             std::span<std::int16_t, kLpcOrder>, std::span<std::int16_t, kLpcOrder>) {}

}  // namespace g7231
