// Cosine table of the LSP root search and of the LSP-to-LPC conversion: one full period in 512 steps, Q14.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace g7231 {

inline constexpr std::size_t kCosineTableSize = 512;

namespace cosine_table_detail {

inline constexpr double kPi = 3.141592653589793238462643383279502884;

// cos(x) for 0 <= x <= pi/2 by its Taylor series; the terms shrink below 1e-30 well before the end.
constexpr double cos_first_quadrant(double x) {
  const double x2 = x * x;
  double term = 1.0;
  double sum = 1.0;
  for (int n = 2; n <= 40; n += 2) {
    term = -term * x2 / static_cast<double>((n - 1) * n);
    sum += term;
  }
  return sum;
}

// round(16384 * cos(2 pi i / 512)), reduced to the first quadrant so that the symmetries of the cosine
// hold exactly in the table (entry 128 is 0, entry 256 is -16384, entry 512 - i equals entry i).
constexpr std::int16_t cosine_entry(std::size_t i) {
  constexpr std::size_t kQuarter = kCosineTableSize / 4;
  std::size_t k = i % kCosineTableSize;
  if (k > kCosineTableSize / 2) k = kCosineTableSize - k;  // cos(2 pi - x) = cos(x)
  const bool negative = k > kQuarter;                      // cos(pi - x) = -cos(x)
  if (negative) k = kCosineTableSize / 2 - k;
  const double v = 16384.0 * cos_first_quadrant(2.0 * kPi * static_cast<double>(k) / kCosineTableSize);
  const auto rounded = static_cast<std::int16_t>(static_cast<std::int32_t>(v + 0.5));
  return negative ? static_cast<std::int16_t>(-rounded) : rounded;
}

constexpr std::array<std::int16_t, kCosineTableSize> make_cosine_table() {
  std::array<std::int16_t, kCosineTableSize> t{};
  for (std::size_t i = 0; i < kCosineTableSize; ++i) t[i] = cosine_entry(i);
  return t;
}

}  // namespace cosine_table_detail

// Entry i = round(16384 * cos(2 pi i / 512)). An LSP frequency f (Q15 of pi) sits at index f / 128.
inline constexpr std::array<std::int16_t, kCosineTableSize> kCosineTable = cosine_table_detail::make_cosine_table();

}  // namespace g7231
