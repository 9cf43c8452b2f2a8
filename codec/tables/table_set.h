// The encoder's table set: the tables whose values are not fixed by a formula and are set by this project
// (the LSP codebooks, the pitch-gain, taming and sharpening tables). Only their sizes, layouts, a few rows
// and some structural rules are known; decoders built against another set will not decode our bitstreams
// correctly. This file is the one unit to swap to install another set: replace it and rebuild.
//
// PLACEHOLDER SET, pending our trained set: each codebook holds only its zero first row and the three
// published rows (rows 1, 2 and 255); every other row is zero. It makes a coder that runs but codes the
// spectrum poorly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace g7231 {

template <std::size_t Width>
using LspCodebook = std::array<std::array<std::int16_t, Width>, 256>;

namespace table_set_detail {

// A codebook that is zero but for rows 1, 2 and 255.
template <std::size_t Width>
constexpr LspCodebook<Width> sparse_codebook(const std::array<std::int16_t, Width>& row1,
                                             const std::array<std::int16_t, Width>& row2,
                                             const std::array<std::int16_t, Width>& row255) {
  LspCodebook<Width> book{};
  book[1] = row1;
  book[2] = row2;
  book[255] = row255;
  return book;
}

}  // namespace table_set_detail

// LSP residual codebooks of the three bands (coefficients 0-2, 3-5, 6-9), 256 rows each, row 0 all zero.
inline constexpr LspCodebook<3> kLspBand0Codebook =
    table_set_detail::sparse_codebook<3>({-270, -1372, -1032}, {-541, -1650, -1382}, {1693, 4793, 6012});
inline constexpr LspCodebook<3> kLspBand1Codebook =
    table_set_detail::sparse_codebook<3>({-2114, -1302, 76}, {-2652, -1278, -1368}, {4035, 5334, 4912});
inline constexpr LspCodebook<4> kLspBand2Codebook =
    table_set_detail::sparse_codebook<4>({601, 512, -542, 334}, {428, 1087, -484, -132}, {2923, 3517, 2567, 1318});

}  // namespace g7231
