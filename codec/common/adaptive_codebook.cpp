#include "codec/common/adaptive_codebook.h"

#include <algorithm>
#include <array>

#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

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
  for (std::size_t i = 0, j = 0; i < kLaggedExcitationSamples - 2; ++i) {
    buf[2 + i] = history[now - l + j];
    if (++j == l) j = 0;
  }
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
    // Summed tap by tap over the whole subframe, a form the compiler runs eight samples at a time.
    std::array<std::int32_t, kSubframeSamples> s{};
    for (std::size_t t = 0; t < kAcbTaps; ++t) {
      const std::int32_t tap = taps[t];
      for (std::size_t n = 0; n < kSubframeSamples; ++n) s[n] += std::int32_t{buf[n + t]} * tap;
    }
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      out[n] = static_cast<std::int16_t>(std::clamp((s[n] + 0x2000) >> 14, std::int32_t{kMin16}, std::int32_t{kMax16}));
    }
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
    history[kHistorySamples - kSubframeSamples + j] = exc[j];
  }
}

}  // namespace g7231
