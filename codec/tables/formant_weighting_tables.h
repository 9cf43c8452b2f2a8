// Bandwidth-expansion factors of the formant weighting filter W(z) = A(z/0.9) / A(z/0.5).
#pragma once

#include <array>
#include <cstdint>

#include "codec/common/bandwidth_expansion.h"
#include "codec/common/constants.h"

namespace g7231 {

// Factors applied to the LPC coefficients for the numerator A(z/0.9): entry j is 0.9^(j+1) in Q15.
inline constexpr std::array<std::int16_t, kLpcOrder> kWeightingZeroFactors = bandwidth_expansion_factors(0.9);

// Factors for the denominator A(z/0.5): entry j is 0.5^(j+1) in Q15.
inline constexpr std::array<std::int16_t, kLpcOrder> kWeightingPoleFactors = bandwidth_expansion_factors(0.5);

}  // namespace g7231
