// Constants of the LSP vector quantiser.
#pragma once

#include <array>
#include <cstdint>

namespace g7231 {

// Long-term mean LSP vector (Q15 of pi); the quantiser codes the deviation from it, and a new encoder
// starts with it as the previous frame's vector.
inline constexpr std::array<std::int16_t, 10> kLspMean = {
    3131, 4721, 7690, 10806, 13872, 16495, 19752, 22260, 25484, 27718};

}  // namespace g7231
