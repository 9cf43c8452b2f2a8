// Bandwidth expansion of an LPC set: A(z/g) has the coefficients a_i g^i, which widens every formant of
// 1/A(z) the more, the smaller g is. The encoder's formant weighting and the decoder's postfilter both
// build their filters this way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/common/constants.h"

namespace g7231 {

// round(32768 g^(i+1)) for i = 0..9, g in (0, 1): entry i scales the coefficient a_(i+1), Q15.
constexpr std::array<std::int16_t, kLpcOrder> bandwidth_expansion_factors(double g) {
  std::array<std::int16_t, kLpcOrder> out{};
  double p = 1.0;
  for (std::size_t i = 0; i < kLpcOrder; ++i) {
    p *= g;
    out[i] = static_cast<std::int16_t>(32768.0 * p + 0.5);
  }
  return out;
}

}  // namespace g7231
