// Fixed-codebook excitation of a subframe from its coded parameters, at both rates. The encoder builds
// the excitation it appends to its history with these functions, so that a receiver building it from the
// same bits gets the same samples.
//
// 5.3 kbit/s (ACELP): four signed unit pulses, one per interleaved track, all on the even or all on the
// odd grid, scaled by a gain level and sharpened at the pitch lag.
// 6.3 kbit/s (MP-MLQ): five or six pulses of one magnitude and individual signs on one grid, given by a
// combinatorial index of the occupied grid slots, optionally repeated at the pitch period.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/common/constants.h"
#include "codec/tables/table_set_types.h"

namespace g7231 {

inline constexpr std::size_t kAcelpTracks = 4;
inline constexpr std::size_t kAcelpTrackPositions = 8;  // track t holds positions 8k + 2t (+1 on the odd grid)

inline constexpr std::size_t kMpmlqMaxPulses = 6;
inline constexpr std::size_t kGridSlots = kSubframeSamples / 2;

// Pitch sharpening of an ACELP subframe.
struct AcelpSharpening {
  std::int16_t lag = 0;   // T; at kShortLagLimit or more nothing is sharpened
  std::int16_t gain = 0;  // gT, Q15
};

// Sharpening lag and gain for a subframe's pitch lag and 170-entry pitch-gain entry, from the set's
// sharpening tables.
AcelpSharpening acelp_sharpening(const TableSet& tables, std::int16_t lag, std::int16_t acb_gain_index);

// v[n] += gT v[n - T] for n = T..59 in increasing order, in place, so that samples already sharpened
// feed later ones when T < 30 (a truncated recursive comb); nothing when T >= kShortLagLimit.
void apply_sharpening(std::span<std::int16_t, kSubframeSamples> v, AcelpSharpening sharpening);

// The coded ACELP innovation of one subframe.
struct AcelpCode {
  std::int16_t position_code = 0;   // 3 bits per track: the pulse's index k on its track, track 0 lowest
  std::int16_t fcb_gain_index = 0;  // gain level 0..23
  std::int16_t grid = 0;            // 0 even, 1 odd positions
  std::int16_t signs = 0;           // bit t set when track t's pulse is positive
};

// The sharpened excitation of an ACELP code. Pulses of tracks 2 and 3 at positions 60..63 lie beyond the
// subframe and leave no trace.
void build_acelp_excitation(std::span<std::int16_t, kSubframeSamples> out, const AcelpCode& code,
                            AcelpSharpening sharpening);

// kPositionCombTable[row][i] = C(29 - i, 5 - row), 0 where 29 - i < 5 - row: the number of ways to place
// the pulses still to come in the slots after slot i.
inline constexpr std::array<std::array<std::int32_t, kGridSlots>, kMpmlqMaxPulses> kPositionCombTable = [] {
  std::array<std::array<std::int32_t, kGridSlots>, kMpmlqMaxPulses> t{};
  for (std::size_t row = 0; row < kMpmlqMaxPulses; ++row) {
    const std::int64_t k = 5 - static_cast<std::int64_t>(row);
    for (std::size_t i = 0; i < kGridSlots; ++i) {
      const std::int64_t n = 29 - static_cast<std::int64_t>(i);
      std::int64_t c = 0;
      if (n >= k) {
        c = 1;
        for (std::int64_t j = 1; j <= k; ++j) c = c * (n - k + j) / j;
      }
      t[row][i] = static_cast<std::int32_t>(c);
    }
  }
  return t;
}();

// How many position indices exist for a number of pulses: C(30, pulses).
constexpr std::int32_t mpmlq_position_codes(std::size_t pulses) {
  std::int64_t c = 1;
  for (std::size_t j = 1; j <= pulses; ++j) c = c * static_cast<std::int64_t>(kGridSlots - pulses + j) / static_cast<std::int64_t>(j);
  return static_cast<std::int32_t>(c);
}
static_assert(mpmlq_position_codes(6) == 593775 && mpmlq_position_codes(5) == 142506);

// dst[n] = src[n] + the sum of src[n - k period] for k >= 1, saturating; dst may be src.
void mpmlq_pulse_train(std::span<std::int16_t, kSubframeSamples> dst, std::span<const std::int16_t, kSubframeSamples> src,
                       std::int16_t period);

// The excitation of an MP-MLQ subframe of `pulses` pulses: the slots of the position index on the
// subframe's grid, each pulse +- the gain level (the first sign bit, the most significant, belonging to the
// earliest pulse; 1 for negative), repeated at `lag` when the pulse-train flag is set.
void build_mpmlq_excitation(std::span<std::int16_t, kSubframeSamples> out, const SubframeParams& sub,
                            std::size_t pulses, std::int16_t lag);

// Subframe s's fixed-codebook excitation from the frame's parameters, at 5.3 kbit/s (low_rate) or
// 6.3 kbit/s: sharpened at the subframe's pitch lag, or repeated at the pair's lag when the pulse-train
// flag is set.
void build_fixed_codebook_excitation(const TableSet& tables, std::span<std::int16_t, kSubframeSamples> out, const FrameParams& params,
                                     std::size_t s, bool low_rate);

}  // namespace g7231
