#include "codec/common/adaptive_codebook.h"

#include <algorithm>
#include <array>

#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace g7231 {

using namespace fx;

std::span<const AcbGainEntry> acb_gain_table(const TableSet& tables, bool low_rate, std::int16_t lag) {
  if (uses_short_lag_tables(low_rate, lag)) return tables.acb_gain85;
  return tables.acb_gain170;
}

void fetch_lagged_excitation(std::span<std::int16_t, kLaggedExcitationSamples> buf,
                             std::span<const std::int16_t, kHistorySamples> history, std::int16_t lag,
                             std::size_t origin) {
  // history[origin + kHistorySamples - 1] is the sample just before the subframe.
  const std::size_t now = origin + kHistorySamples;
  const auto l = static_cast<std::size_t>(lag);
  buf[0] = history[now - 2 - l];
  buf[1] = history[now - 1 - l];
  // The last l samples repeated (i % l): one copy when they do not repeat within the buffer, else the
  // index wrapping back by l instead of a division per sample.
  if (l >= kLaggedExcitationSamples - 2) {
    std::copy_n(history.begin() + static_cast<std::ptrdiff_t>(now - l), kLaggedExcitationSamples - 2, buf.begin() + 2);
    return;
  }
  // The first l samples, then each further sample l back in the buffer: the same values as the index
  // wrapping, with no test per sample.
  std::copy_n(history.begin() + static_cast<std::ptrdiff_t>(now - l), l, buf.begin() + 2);
  for (std::size_t i = l; i < kLaggedExcitationSamples - 2; ++i) buf[2 + i] = buf[2 + i - l];
}

void decode_adaptive_codebook(const TableSet& tables, std::span<std::int16_t, kSubframeSamples> out,
                              std::span<const std::int16_t, kHistorySamples> history, std::int16_t lag,
                              std::int16_t lag_delta, std::int16_t gain_index, bool low_rate, std::size_t origin) {
  std::array<std::int16_t, kLaggedExcitationSamples> buf;
  fetch_lagged_excitation(buf, history, static_cast<std::int16_t>(lag + lag_delta - 1), origin);
  const AcbGainEntry& b = acb_gain_table(tables, low_rate, lag)[static_cast<std::size_t>(gain_index)];
  const auto taps = std::span(b).first<kAcbTaps>();
  if (fx::chain_within(0, 2 * fx::sum_of_magnitudes(taps) * fx::largest_magnitude(buf))) {
    // No partial sum of the five-step chain can saturate, so it is 2 s with s the plain sum; and
    // round32_to16(shl32(2 s, 1)) = saturate16((4 s + 2^15) >> 16) = saturate16((s + 2^13) >> 14), the
    // saturations of the shift and the rounding landing on the same 16-bit result.
#if defined(__SSE2__)
    // Eight samples at a time, two taps per multiply-add on the pairs (buf[n + t], buf[n + t + 1]); the
    // excitation padded with zeros so that the last step may read past it.
    alignas(16) std::array<std::int16_t, kLaggedExcitationSamples + 8> line{};
    std::copy(buf.begin(), buf.end(), line.begin());
    const auto tap_pair = [&](std::size_t t) {
      const auto second = t + 1 < kAcbTaps ? static_cast<std::uint16_t>(taps[t + 1]) : std::uint16_t{0};
      return _mm_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint16_t>(taps[t]) | (std::uint32_t{second} << 16)));
    };
    const __m128i t01 = tap_pair(0);
    const __m128i t23 = tap_pair(2);
    const __m128i t4 = tap_pair(4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(0x2000);
    alignas(16) std::array<std::int16_t, kLaggedExcitationSamples> rounded;
    for (std::size_t n = 0; n < kSubframeSamples; n += 8) {
      const auto at = [&](std::size_t t) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + n + t)); };
      const __m128i b0 = at(0), b1 = at(1), b2 = at(2), b3 = at(3), b4 = at(4);
      const __m128i lo = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(b0, b1), t01),
                                                     _mm_madd_epi16(_mm_unpacklo_epi16(b2, b3), t23)),
                                       _mm_madd_epi16(_mm_unpacklo_epi16(b4, zero), t4));
      const __m128i hi = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(b0, b1), t01),
                                                     _mm_madd_epi16(_mm_unpackhi_epi16(b2, b3), t23)),
                                       _mm_madd_epi16(_mm_unpackhi_epi16(b4, zero), t4));
      // |s| < 2^30 here, so adding 2^13 stays within 32 bits; packs saturates as saturate16 does.
      _mm_store_si128(reinterpret_cast<__m128i*>(rounded.data() + n),
                      _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, half), 14), _mm_srai_epi32(_mm_add_epi32(hi, half), 14)));
    }
    std::copy_n(rounded.begin(), kSubframeSamples, out.begin());
#else
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      std::int32_t s = 0;
      for (std::size_t t = 0; t < kAcbTaps; ++t) s += std::int32_t{buf[n + t]} * taps[t];
      out[n] = static_cast<std::int16_t>(std::clamp((s + 0x2000) >> 14, std::int32_t{kMin16}, std::int32_t{kMax16}));
    }
#endif
    return;
  }
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    std::int32_t acc = 0;
    for (std::size_t t = 0; t < kAcbTaps; ++t) acc = mac32(acc, buf[n + t], b[t]);
    out[n] = round32_to16(shl32(acc, 1));
  }
}

void complete_subframe_excitation(const TableSet& tables, std::span<std::int16_t, kSubframeSamples> exc,
                                  std::span<std::int16_t, kHistorySamples> history, std::int16_t lag,
                                  std::int16_t lag_delta, std::int16_t gain_index, bool low_rate) {
  std::array<std::int16_t, kSubframeSamples> pitch;
  decode_adaptive_codebook(tables, pitch, history, lag, lag_delta, gain_index, low_rate);
  std::copy(history.begin() + kSubframeSamples, history.end(), history.begin());
  for (std::size_t j = 0; j < kSubframeSamples; ++j) {
    // The fixed-codebook part enters at twice its scale: shl16 by 1 saturates as a clamp of 2 x does.
    if constexpr (kExactFastPaths) {
      const std::int32_t doubled = std::clamp(2 * std::int32_t{exc[j]}, std::int32_t{kMin16}, std::int32_t{kMax16});
      exc[j] = static_cast<std::int16_t>(std::clamp(doubled + pitch[j], std::int32_t{kMin16}, std::int32_t{kMax16}));
    } else {
      exc[j] = add16(shl16(exc[j], 1), pitch[j]);
    }
  }
  std::copy(exc.begin(), exc.end(), history.end() - kSubframeSamples);
}

}  // namespace g7231
