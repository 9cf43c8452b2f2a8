#include "codec/common/fixed_codebook_excitation.h"

#include <algorithm>

#include "codec/tables/fixed_codebook_tables.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {

using namespace fx;

AcelpSharpening acelp_sharpening(const TableSet& tables, std::int16_t lag, std::int16_t acb_gain_index) {
  const auto i = static_cast<std::size_t>(acb_gain_index);
  return {static_cast<std::int16_t>(lag + tables.sharp_lag_offset[i]), tables.sharp_gain[i]};
}

void apply_sharpening(std::span<std::int16_t, kSubframeSamples> v, AcelpSharpening sharpening) {
  if (sharpening.lag >= kShortLagLimit) return;
  const auto lag = static_cast<std::size_t>(sharpening.lag);
  for (std::size_t n = lag; n < kSubframeSamples; ++n) v[n] = add16(v[n], mult16(v[n - lag], sharpening.gain));
}

void build_acelp_excitation(std::span<std::int16_t, kSubframeSamples> out, const AcelpCode& code,
                            AcelpSharpening sharpening) {
  const std::int16_t gain = kFcbGainTable[static_cast<std::size_t>(code.fcb_gain_index)];
  std::ranges::fill(out, std::int16_t{0});
  for (std::size_t t = 0; t < kAcelpTracks; ++t) {
    const std::size_t k = (static_cast<std::size_t>(code.position_code) >> (3 * t)) & (kAcelpTrackPositions - 1);
    const std::size_t position = 8 * k + 2 * t + static_cast<std::size_t>(code.grid);
    if (position >= kSubframeSamples) continue;
    const std::int16_t sign = (code.signs >> t) & 1 ? std::int16_t{1} : std::int16_t{-1};
    out[position] = extract_low(mult16_wrap(sign, gain));
  }
  apply_sharpening(out, sharpening);
}

void mpmlq_pulse_train(std::span<std::int16_t, kSubframeSamples> dst, std::span<const std::int16_t, kSubframeSamples> src,
                       std::int16_t period) {
  std::array<std::int16_t, kSubframeSamples> original;
  std::ranges::copy(src, original.begin());  // the copies come from src as it was, not from the growing dst
  std::ranges::copy(original, dst.begin());
  if (period <= 0 || period >= static_cast<std::int16_t>(kSubframeSamples)) return;
  for (std::int16_t k = period; k < static_cast<std::int16_t>(kSubframeSamples); k = add16(k, period)) {
    for (auto n = static_cast<std::size_t>(k); n < kSubframeSamples; ++n) {
      dst[n] = add16(dst[n], original[n - static_cast<std::size_t>(k)]);
    }
  }
}

void build_mpmlq_excitation(std::span<std::int16_t, kSubframeSamples> out, const SubframeParams& sub,
                            std::size_t pulses, std::int16_t lag) {
  const std::int16_t gain = kFcbGainTable[static_cast<std::size_t>(sub.fcb_gain_index)];
  std::ranges::fill(out, std::int16_t{0});

  // The index counts, for every empty slot before a pulse, the ways to put that pulse there instead: walk
  // the slots, skipping a slot while the index is at least that count.
  std::size_t row = kMpmlqMaxPulses - pulses;
  std::int32_t rest = sub.positions;
  std::size_t placed = 0;
  for (std::size_t i = 0; i < kGridSlots && row < kMpmlqMaxPulses; ++i) {
    if (rest >= kPositionCombTable[row][i]) {
      rest -= kPositionCombTable[row][i];
      continue;
    }
    const bool negative = ((sub.signs >> (pulses - 1 - placed)) & 1) != 0;
    out[static_cast<std::size_t>(sub.grid) + 2 * i] = negative ? negate16(gain) : gain;
    ++placed;
    ++row;
  }
  if (sub.pulse_train == 1) mpmlq_pulse_train(out, out, lag);
}

void build_fixed_codebook_excitation(const TableSet& tables, std::span<std::int16_t, kSubframeSamples> out, const FrameParams& params,
                                     std::size_t s, bool low_rate) {
  const SubframeParams& sub = params.sub[s];
  const std::int16_t pair_lag = params.olp_lag[s / 2];
  if (low_rate) {
    const AcelpCode code{static_cast<std::int16_t>(sub.positions), sub.fcb_gain_index, sub.grid, sub.signs};
    build_acelp_excitation(out, code, acelp_sharpening(tables, static_cast<std::int16_t>(pair_lag + sub.lag_delta - 1),
                                                       sub.acb_gain_index));
  } else {
    build_mpmlq_excitation(out, sub, static_cast<std::size_t>(kMpmlqPulseCount[s]), pair_lag);
  }
}

}  // namespace g7231
