// LSP vector quantisation into a 24-bit index.
//
// The quantiser removes the long-term mean kLspMean, subtracts a first-order prediction from the previous
// quantised vector and codes the residual with a three-band split vector quantiser (coefficients 0-2, 3-5,
// 6-9), each band searched over its 256 codebook rows with weights that favour closely spaced frequencies.
// The index holds band 0's row in bits 16-23, band 1's in bits 8-15 and band 2's in bits 0-7.
//
// The quantiser takes any pair of vectors: the frame pipeline passes the frame's vector and `prev_lsp`,
// the comfort-noise coder its own. The previous vector is only read. The inverse is in
// codec/common/lsp_dequantiser.h.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"
#include "codec/common/lsp_dequantiser.h"
#include "codec/tables/table_set_types.h"

namespace g7231 {

// Quantises the frame's LSP vector against the previous quantised vector and returns the 24-bit index.
// The vector is overwritten with the prediction residual; the caller must not use it afterwards.
std::int32_t quantise_lsp(const TableSet& tables, std::span<std::int16_t, kLpcOrder> lsp,
                          std::span<const std::int16_t, kLpcOrder> prev, const DspKernels& kernels = dsp_kernels());

// The search weights of an LSP vector: the inverse of each frequency's smaller gap to a neighbour (gaps of
// 32 or less get 32767), all scaled up by the same power of two until the largest has no spare headroom.
void lsp_weights(std::span<std::int16_t, kLpcOrder> weights_out, std::span<const std::int16_t, kLpcOrder> lsp);

// Searches the three band codebooks of the set for the rows nearest the residual target under the weights and
// returns their packed 24-bit index. Within a band the first row with the largest metric wins.
std::int32_t search_lsp_bands(const TableSet& tables, std::span<const std::int16_t, kLpcOrder> target,
                              std::span<const std::int16_t, kLpcOrder> weights, const DspKernels& kernels = dsp_kernels());

}  // namespace g7231
