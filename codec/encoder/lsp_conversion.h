// Conversion of an LPC set to line spectral pairs.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"

namespace g7231 {

// Converts 10 LPC coefficients (Q13) into 10 increasing LSP frequencies (Q15 of pi); when fewer than 10
// roots are found the fallback vector is returned instead. lsp_out may be the fallback vector itself.
void lpc_to_lsp(std::span<std::int16_t, kLpcOrder> lsp_out, std::span<const std::int16_t, kLpcOrder> lpc,
                std::span<const std::int16_t, kLpcOrder> fallback_lsp);

// The LSP frequency (Q15 of pi) of a root found between grid points g - 1 and g of the 256-step search
// grid, from the polynomial's values there (prev at g - 1, cur at g, of opposite signs, 0 counting as
// positive): (g - 1) * 128 plus 128 * |prev| / (|prev| + |cur|), by linear interpolation.
std::int16_t locate_lsp_root(std::int32_t prev, std::int32_t cur, std::int16_t g);

}  // namespace g7231
