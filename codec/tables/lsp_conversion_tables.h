// Constants of the LPC-to-LSP conversion.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/common/constants.h"

namespace g7231 {

namespace lsp_conversion_detail {

// round(32768 * 0.994^(i+1)) for i = 0..9.
constexpr std::array<std::int16_t, kLpcOrder> make_bandwidth_expansion() {
  std::array<std::int16_t, kLpcOrder> t{};
  double gamma = 1.0;
  for (std::size_t i = 0; i < kLpcOrder; ++i) {
    gamma *= 0.994;
    t[i] = static_cast<std::int16_t>(static_cast<std::int32_t>(32768.0 * gamma + 0.5));
  }
  return t;
}

}  // namespace lsp_conversion_detail

// Q15 factors 0.994^(i+1) that widen the formant bandwidths of coefficient a_(i+1) before the root search.
inline constexpr std::array<std::int16_t, kLpcOrder> kBandwidthExpansion =
    lsp_conversion_detail::make_bandwidth_expansion();

}  // namespace g7231
