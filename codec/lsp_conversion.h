// Conversion of an LPC set to line spectral pairs.
#pragma once

#include <cstdint>
#include <span>

#include "codec/constants.h"

namespace g7231 {

// Converts 10 LPC coefficients (Q13) into 10 increasing LSP frequencies (Q15 of pi); when fewer than 10
// roots are found the fallback vector is returned instead.
void lpc_to_lsp(std::span<std::int16_t, kLpcOrder> lsp_out, std::span<const std::int16_t, kLpcOrder> lpc,
                std::span<const std::int16_t, kLpcOrder> fallback_lsp);

}  // namespace g7231
