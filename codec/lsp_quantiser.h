// LSP vector quantisation (24-bit index) and its inverse.
#pragma once

#include <cstdint>
#include <span>

#include "codec/constants.h"

namespace g7231 {

// Quantises the frame's LSP vector against the previous quantised vector and returns the 24-bit index.
// The vector is overwritten with the prediction residual.
std::int32_t quantise_lsp(std::span<std::int16_t, kLpcOrder> lsp, std::span<const std::int16_t, kLpcOrder> prev);

// Rebuilds the quantised LSP vector of an index, stabilised to a minimum spacing.
void dequantise_lsp(std::span<std::int16_t, kLpcOrder> lsp_out, std::span<const std::int16_t, kLpcOrder> prev,
                    std::int32_t index, std::int16_t erased);

}  // namespace g7231
