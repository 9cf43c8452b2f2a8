// LSP interpolation across the frame and conversion back to LPC coefficients.
#pragma once

#include <cstdint>
#include <span>

#include "codec/constants.h"

namespace g7231 {

// The four subframe LPC sets (Q13) interpolated between the previous and the current quantised LSP vector.
void interpolate_lsp(std::span<std::int16_t, kSubframes * kLpcOrder> lpc_out,
                     std::span<const std::int16_t, kLpcOrder> cur, std::span<const std::int16_t, kLpcOrder> prev);

}  // namespace g7231
