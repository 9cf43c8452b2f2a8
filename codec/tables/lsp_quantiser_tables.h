// Constants of the LSP vector quantiser.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/tables/table_set_types.h"

namespace g7231 {

// Long-term mean LSP vector (Q15 of pi); the quantiser codes the deviation from it, and a new encoder
// starts with it as the previous frame's vector.
inline constexpr std::array<std::int16_t, 10> kLspMean = {
    3131, 4721, 7690, 10806, 13872, 16495, 19752, 22260, 25484, 27718};

// One band of the split vector quantiser: the coefficients first .. first + length - 1 of the vector.
struct LspBand {
  std::size_t first;
  std::size_t length;
};

// The three bands, coded with kLspBand0Codebook, kLspBand1Codebook and kLspBand2Codebook in turn.
inline constexpr std::array<LspBand, 3> kLspBandLayout = {{{0, 3}, {3, 3}, {6, 4}}};

// Each band's row number (of kLspCodebookRows) takes 8 bits of the index.
inline constexpr int kLspIndexBitsPerBand = 8;

// First-order prediction from the previous quantised vector (Q15): 0.375 normally, 0.71875 when the frame
// is marked erased.
inline constexpr std::int16_t kLspPredictor = 12288;
inline constexpr std::int16_t kLspPredictorErased = 23552;

// Minimum spacing that the inverse quantiser enforces between neighbouring frequencies (Q15 of pi),
// normally and for an erased frame.
inline constexpr std::int16_t kLspMinSpacing = 256;
inline constexpr std::int16_t kLspMinSpacingErased = 512;

// A spacing short of the minimum by this much or less still counts as stable.
inline constexpr std::int16_t kLspSpacingTolerance = 4;

// Lowest allowed first frequency and highest allowed last frequency.
inline constexpr std::int16_t kLspLowerBound = 384;
inline constexpr std::int16_t kLspUpperBound = 32256;

// Repair passes before an unstable vector is given up for the previous one.
inline constexpr int kLspStabilisationPasses = 10;

// Weights of the band search: a gap of kLspWeightMinGap or less gets the largest weight.
inline constexpr std::int16_t kLspWeightMinGap = 32;

}  // namespace g7231
