#include "codec/common/lsp_dequantiser.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "codec/tables/lsp_quantiser_tables.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;

template <std::size_t Width>
void copy_row(std::span<std::int16_t, kLpcOrder> out, const LspCodebook<Width>& book, std::int32_t row,
              std::size_t first) {
  const auto& c = book[static_cast<std::size_t>(row)];
  for (std::size_t j = 0; j < Width; ++j) out[first + j] = c[j];
}

}  // namespace

void dequantise_lsp(const TableSet& tables, std::span<std::int16_t, kLpcOrder> lsp_out, std::span<const std::int16_t, kLpcOrder> prev,
                    std::int32_t index, std::int16_t erased) {
  std::int16_t spacing = kLspMinSpacing;
  std::int16_t predictor = kLspPredictor;
  if (erased != 0) {
    index = 0;
    spacing = kLspMinSpacingErased;
    predictor = kLspPredictorErased;
  }

  // The residual rows, band 2 in the lowest byte.
  constexpr std::int32_t kRowMask = (std::int32_t{1} << kLspIndexBitsPerBand) - 1;
  copy_row(lsp_out, tables.lsp_band2, index & kRowMask, kLspBandLayout[2].first);
  index >>= kLspIndexBitsPerBand;
  copy_row(lsp_out, tables.lsp_band1, index & kRowMask, kLspBandLayout[1].first);
  index >>= kLspIndexBitsPerBand;
  copy_row(lsp_out, tables.lsp_band0, index & kRowMask, kLspBandLayout[0].first);

  // Add back the prediction from the previous vector's deviation, then the mean.
  for (std::size_t j = 0; j < kLpcOrder; ++j) {
    const std::int16_t prev_deviation = sub16(prev[j], kLspMean[j]);
    lsp_out[j] = add16(lsp_out[j], mult16_round(prev_deviation, predictor));
    lsp_out[j] = add16(lsp_out[j], kLspMean[j]);
  }

  stabilise_lsp(lsp_out, prev, spacing);
}

bool stabilise_lsp(std::span<std::int16_t, kLpcOrder> lsp, std::span<const std::int16_t, kLpcOrder> fallback,
                   std::int16_t spacing) {
  constexpr std::size_t kLast = kLpcOrder - 1;
  for (int pass = 0; pass < kLspStabilisationPasses; ++pass) {
    if (lsp[0] < kLspLowerBound) lsp[0] = kLspLowerBound;
    if (lsp[kLast] > kLspUpperBound) lsp[kLast] = kLspUpperBound;

    // Push each close pair apart symmetrically by half its shortfall, working upwards on the values as
    // already moved by the pair below.
    for (std::size_t j = 1; j < kLpcOrder; ++j) {
      const std::int16_t shortfall = sub16(add16(spacing, lsp[j - 1]), lsp[j]);
      if (shortfall > 0) {
        const std::int16_t half = shr16(shortfall, 1);
        lsp[j - 1] = sub16(lsp[j - 1], half);
        lsp[j] = add16(lsp[j], half);
      }
    }

    bool stable = true;
    for (std::size_t j = 1; j < kLpcOrder; ++j) {
      if (sub16(sub16(add16(lsp[j - 1], spacing), kLspSpacingTolerance), lsp[j]) > 0) {
        stable = false;
        break;
      }
    }
    if (stable) return true;
  }

  std::copy(fallback.begin(), fallback.end(), lsp.begin());
  return false;
}

}  // namespace g7231
