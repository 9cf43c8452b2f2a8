// Bandwidth-expansion factors of the formant weighting filter W(z) = A(z/0.9) / A(z/0.5).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/common/constants.h"

namespace g7231 {
namespace formant_weighting_detail {

// round(32768 * g^(j+1)) for j = 0..9, g in (0, 1).
constexpr std::array<std::int16_t, kLpcOrder> power_factors(double g) {
  std::array<std::int16_t, kLpcOrder> out{};
  double p = 1.0;
  for (std::size_t j = 0; j < kLpcOrder; ++j) {
    p *= g;
    out[j] = static_cast<std::int16_t>(32768.0 * p + 0.5);
  }
  return out;
}

}  // namespace formant_weighting_detail

// Factors applied to the LPC coefficients for the numerator A(z/0.9): entry j is 0.9^(j+1) in Q15.
inline constexpr std::array<std::int16_t, kLpcOrder> kWeightingZeroFactors =
    formant_weighting_detail::power_factors(0.9);

// Factors for the denominator A(z/0.5): entry j is 0.5^(j+1) in Q15.
inline constexpr std::array<std::int16_t, kLpcOrder> kWeightingPoleFactors =
    formant_weighting_detail::power_factors(0.5);

}  // namespace g7231
