// Constants of the linear-prediction analysis, computed at compile time from their defining formulas.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <numbers>

namespace g7231 {
namespace lpc_tables_detail {

inline constexpr long double kPi = std::numbers::pi_v<long double>;

// cos(x) for 0 <= x <= pi, by its Taylor series on [0, pi/2] (cos(x) = -cos(pi - x) above it); the error is
// far below what the 16-bit rounding of the tables can see.
constexpr long double cosine(long double x) {
  long double sign = 1.0L;
  if (x > kPi / 2) {
    x = kPi - x;
    sign = -1.0L;
  }
  long double term = 1.0L;
  long double sum = 1.0L;
  for (int k = 1; k <= 20; ++k) {
    term *= -x * x / static_cast<long double>((2 * k - 1) * (2 * k));
    sum += term;
  }
  return sign * sum;
}

constexpr std::int16_t floor_to_int16(long double v) {
  auto i = static_cast<std::int32_t>(v);  // truncation; v is never negative here
  if (static_cast<long double>(i) > v) --i;
  return static_cast<std::int16_t>(i);
}

}  // namespace lpc_tables_detail

inline constexpr std::size_t kLpcWindowLength = 180;
inline constexpr std::size_t kLagWindowLength = 10;

// Hamming window of the 180-sample analysis block, Q15:
// w(n) = floor(32768 * (0.54 - 0.46 * cos(2 pi n / 179)) + 0.5). Symmetric; largest (32766) at n = 89 and 90.
inline constexpr std::array<std::int16_t, kLpcWindowLength> kLpcWindow = [] {
  using namespace lpc_tables_detail;
  std::array<std::int16_t, kLpcWindowLength> w{};
  constexpr std::size_t kSpan = kLpcWindowLength - 1;
  for (std::size_t n = 0; n < kLpcWindowLength; ++n) {
    // cos(2 pi n / 179) = cos(2 pi (179 - n) / 179): evaluate on the half that keeps the angle below pi.
    const std::size_t m = n <= kSpan / 2 ? n : kSpan - n;
    const long double c = cosine(2.0L * kPi * static_cast<long double>(m) / static_cast<long double>(kSpan));
    w[n] = floor_to_int16(32768.0L * (0.54L - 0.46L * c) + 0.5L);
  }
  return w;
}();

// Binomial lag window for lags 1..10, Q15: entry k-1 = floor(32768 * prod_{i=1..k} (1799 - i) / (1798 + i)),
// that is C(3596, 1798 - k) / C(3596, 1798) truncated.
inline constexpr std::array<std::int16_t, kLagWindowLength> kLagWindow = [] {
  using namespace lpc_tables_detail;
  std::array<std::int16_t, kLagWindowLength> w{};
  long double product = 1.0L;
  for (std::size_t k = 1; k <= kLagWindowLength; ++k) {
    product *= static_cast<long double>(1799 - k) / static_cast<long double>(1798 + k);
    w[k - 1] = floor_to_int16(32768.0L * product);
  }
  return w;
}();

// Second partial correlation (Q15) above which a subframe counts as sinusoidal.
inline constexpr std::int16_t kSineThreshold = 31130;

}  // namespace g7231
