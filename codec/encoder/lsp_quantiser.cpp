#include "codec/encoder/lsp_quantiser.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>

#include "codec/tables/lsp_quantiser_tables.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

using LspVector = std::array<std::int16_t, kLpcOrder>;

static_assert(kLspBandLayout[0].length == std::tuple_size_v<LspCodebook<3>::value_type>);
static_assert(kLspBandLayout[1].length == std::tuple_size_v<LspCodebook<3>::value_type>);
static_assert(kLspBandLayout[2].length == std::tuple_size_v<LspCodebook<4>::value_type>);
static_assert(kLspBandLayout[2].first + kLspBandLayout[2].length == kLpcOrder);
// The search kernel reads a padded codebook's rows as one run of values.
static_assert(sizeof(LspPaddedCodebook) == 4 * kLspCodebookRows * sizeof(std::int16_t));

// The row of one band's codebook that maximises 2*sum(w*target*c) - sum(w*c*c), i.e. minimises the weighted
// squared error. Row 0 (all zeros) scores exactly 0, so another row wins only with a strictly positive
// score, and only if no earlier row scored as much.

// Whether a band's scores can be summed plainly. With weights in 0..32767, t = mult16_round(w, c) never
// saturates and |t| <= |c|; the score's two chains then stay within 2 W max|target| max|c| (doubled by
// the shl32 between them) plus 2 W max|c|^2, W the band's width.
template <std::size_t Width>
bool plain_scores(std::span<const std::int16_t, kLpcOrder> target, std::span<const std::int16_t, kLpcOrder> w,
                  std::int32_t max_c, std::size_t first) {
  std::int64_t max_target = 0;
  for (std::size_t j = 0; j < Width; ++j) {
    if (w[first + j] < 0) return false;
    max_target = std::max<std::int64_t>(max_target, std::abs(std::int32_t{target[first + j]}));
  }
  return chain_within(4 * std::int64_t{Width} * max_target * max_c, 2 * std::int64_t{Width} * max_c * max_c);
}

template <std::size_t Width>
std::int16_t search_band(std::span<const std::int16_t, kLpcOrder> target, std::span<const std::int16_t, kLpcOrder> w,
                         std::span<const std::array<std::int16_t, Width>, kLspCodebookRows> book,
                         const LspPaddedCodebook& padded, std::size_t first, std::int32_t max_c,
                         const DspKernels& kernels) {
  std::int32_t best = -1;
  std::int16_t best_row = 0;
  // The kernel's first-best choice needs row 0 to score 0, which an all-zero row does.
  if (plain_scores<Width>(target, w, max_c, first) && std::ranges::all_of(book[0], [](std::int16_t v) { return v == 0; })) {
    // A 3-value band's fourth value has zero weight and target, and adds nothing to any score.
    std::array<std::int16_t, 4> band_target{};
    std::array<std::int16_t, 4> band_weights{};
    for (std::size_t j = 0; j < Width; ++j) {
      band_target[j] = target[first + j];
      band_weights[j] = w[first + j];
    }
    return kernels.lsp_band_search(padded, band_target, band_weights);
  }
  for (std::size_t r = 0; r < book.size(); ++r) {
    const auto& c = book[r];
    std::array<std::int16_t, Width> t{};
    for (std::size_t j = 0; j < Width; ++j) t[j] = mult16_round(w[first + j], c[j]);

    std::int32_t acc = 0;
    for (std::size_t j = 0; j < Width; ++j) acc = mac32(acc, target[first + j], t[j]);
    acc = shl32(acc, 1);
    for (std::size_t j = 0; j < Width; ++j) acc = msu32(acc, c[j], t[j]);

    if (acc > best) {
      best = acc;
      best_row = static_cast<std::int16_t>(r);
    }
  }
  return best_row;
}

}  // namespace

void lsp_weights(std::span<std::int16_t, kLpcOrder> weights_out, std::span<const std::int16_t, kLpcOrder> lsp) {
  // Each frequency's smaller gap to a neighbour; the ends have one neighbour each.
  LspVector d{};
  d[0] = sub16(lsp[1], lsp[0]);
  d[kLpcOrder - 1] = sub16(lsp[kLpcOrder - 1], lsp[kLpcOrder - 2]);
  for (std::size_t i = 1; i + 1 < kLpcOrder; ++i) {
    const std::int16_t above = sub16(lsp[i + 1], lsp[i]);
    const std::int16_t below = sub16(lsp[i], lsp[i - 1]);
    d[i] = above < below ? above : below;
  }

  std::int16_t largest = 0;
  for (std::size_t i = 0; i < kLpcOrder; ++i) {
    weights_out[i] = d[i] > kLspWeightMinGap ? div16(kLspWeightMinGap, d[i]) : kMax16;
    if (weights_out[i] > largest) largest = weights_out[i];
  }

  const std::int16_t shift = norm16(largest);
  for (std::size_t i = 0; i < kLpcOrder; ++i) weights_out[i] = shl16(weights_out[i], shift);
}

std::int32_t quantise_lsp(const TableSet& tables, std::span<std::int16_t, kLpcOrder> lsp,
                          std::span<const std::int16_t, kLpcOrder> prev, const DspKernels& kernels) {
  LspVector w{};
  lsp_weights(w, lsp);

  // Residual: the deviation from the mean, less the predicted share of the previous vector's deviation.
  for (std::size_t i = 0; i < kLpcOrder; ++i) {
    const std::int16_t prev_deviation = sub16(prev[i], kLspMean[i]);
    lsp[i] = sub16(lsp[i], kLspMean[i]);
    lsp[i] = sub16(lsp[i], mult16_round(prev_deviation, kLspPredictor));
  }

  return search_lsp_bands(tables, lsp, w, kernels);
}

std::int32_t search_lsp_bands(const TableSet& tables, std::span<const std::int16_t, kLpcOrder> target,
                              std::span<const std::int16_t, kLpcOrder> weights, const DspKernels& kernels) {
  const std::int16_t rows[] = {
      search_band<3>(target, weights, tables.lsp_band0, tables.lsp_padded[0], kLspBandLayout[0].first,
                     tables.lsp_largest[0], kernels),
      search_band<3>(target, weights, tables.lsp_band1, tables.lsp_padded[1], kLspBandLayout[1].first,
                     tables.lsp_largest[1], kernels),
      search_band<4>(target, weights, tables.lsp_band2, tables.lsp_padded[2], kLspBandLayout[2].first,
                     tables.lsp_largest[2], kernels),
  };
  std::int32_t result = 0;
  for (const std::int16_t row : rows) result = add32(shl32(result, kLspIndexBitsPerBand), row);
  return result;
}

}  // namespace g7231
