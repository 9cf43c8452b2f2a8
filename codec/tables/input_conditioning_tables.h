// Constants of input conditioning.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace g7231 {

// Powers of two used to scale a block by its normalisation count: entry i is 2^i for i = 0..14, and the
// last entry is 2^15 saturated to 32767 (never used: a 16-bit normalisation count is at most 14 there).
inline constexpr std::array<std::int16_t, 16> kNormFactors = [] {
  std::array<std::int16_t, 16> t{};
  for (std::size_t i = 0; i < 15; ++i) t[i] = static_cast<std::int16_t>(1 << i);
  t[15] = 32767;
  return t;
}();

}  // namespace g7231
