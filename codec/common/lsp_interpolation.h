// LSP interpolation across the frame and conversion back to LPC coefficients.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/tables/table_set_types.h"

namespace g7231 {

// The four subframe LPC sets (Q13) interpolated between the previous and the current quantised LSP vector:
// subframes 0, 1 and 2 take 3/4, 1/2 and 1/4 of prev and the rest of cur, subframe 3 takes cur alone.
void interpolate_lsp(std::span<std::int16_t, kSubframes * kLpcOrder> lpc_out,
                     std::span<const std::int16_t, kLpcOrder> cur, std::span<const std::int16_t, kLpcOrder> prev);

// The four subframe LPC sets of a frame from its LSP index: the vector dequantised against prev_lsp (the
// erased path when erased is non-zero), interpolated from prev_lsp, and then kept in prev_lsp for the next
// frame.
void decode_lpc_sets(const TableSet& tables, std::span<std::int16_t, kSubframes * kLpcOrder> lpc_out, std::span<std::int16_t, kLpcOrder> prev_lsp,
                     std::int32_t lsp_index, std::int16_t erased);

// Converts 10 LSP frequencies (Q15 of pi) in place into the 10 LPC coefficients (Q13) of their filter.
void lsp_to_lpc(std::span<std::int16_t, kLpcOrder> v);

}  // namespace g7231
