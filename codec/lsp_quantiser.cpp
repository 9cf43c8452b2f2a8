#include "codec/lsp_quantiser.h"

namespace g7231 {

// Pass-through stages until the LSP quantiser is built.
std::int32_t quantise_lsp(std::span<std::int16_t, kLpcOrder>, std::span<const std::int16_t, kLpcOrder>) { return 0; }

void dequantise_lsp(std::span<std::int16_t, kLpcOrder>, std::span<const std::int16_t, kLpcOrder>, std::int32_t,
                    std::int16_t) {}

}  // namespace g7231
