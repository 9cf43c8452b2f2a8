#include "codec/lsp_conversion.h"

namespace g7231 {

// Pass-through stage until the LSP conversion is built.
void lpc_to_lsp(std::span<std::int16_t, kLpcOrder>, std::span<const std::int16_t, kLpcOrder>,
                std::span<const std::int16_t, kLpcOrder>) {}

}  // namespace g7231
