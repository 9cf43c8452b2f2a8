// Inverse LSP quantisation: the quantised LSP vector of a 24-bit index, predicted from the previous
// frame's vector and stabilised to a minimum spacing. The index holds band 0's row in bits 16-23, band
// 1's in bits 8-15 and band 2's in bits 0-7; each row is a residual from the long-term mean kLspMean less
// a share of the previous vector's deviation from it.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/tables/table_set_types.h"

namespace g7231 {

// Rebuilds the quantised LSP vector of an index (rows of the set's codebooks), stabilised to a minimum spacing of 256 (512 when erased).
// A non-zero erased ignores the index and leans harder on the previous vector.
void dequantise_lsp(const TableSet& tables, std::span<std::int16_t, kLpcOrder> lsp_out, std::span<const std::int16_t, kLpcOrder> prev,
                    std::int32_t index, std::int16_t erased);

// Pushes neighbouring frequencies of lsp apart to the given spacing and keeps the ends within
// 384..32256, in up to ten passes. Returns true when the vector passed; otherwise lsp is replaced by
// fallback and false is returned.
bool stabilise_lsp(std::span<std::int16_t, kLpcOrder> lsp, std::span<const std::int16_t, kLpcOrder> fallback,
                   std::int16_t spacing);

}  // namespace g7231
