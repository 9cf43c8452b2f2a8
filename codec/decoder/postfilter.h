// Postfilter of the decoded speech: a long-term (pitch) postfilter on the decoded lag, a short-term
// formant postfilter A(z/g_n) / A(z/g_d) from the subframe's decoded LPC set with tilt compensation, and a
// gain control that keeps each subframe's output power that of the unfiltered speech, smoothed. It works on
// a copy of the speech: the decoder's own memories never see its output.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/common/constants.h"

namespace g7231 {

struct PostfilterState {
  std::array<std::int16_t, kLpcOrder> residual_fir_mem{};  // past speech samples, most recent first
  std::array<std::int16_t, kLpcOrder> synthesis_mem{};     // past outputs of 1/A(z/g_d), most recent first
  std::array<std::int16_t, kHistorySamples> residual_history{};  // past formant residual, oldest first
  std::int16_t tilt_mem = 0;   // the last input of the tilt filter
  std::int16_t gain = 4096;    // smoothed output gain, Q12
};

// Postfilters one subframe of decoded speech into out. a is the subframe's LPC set (Q13); pitch_lag is its
// decoded predictor lag, or 0 where there is no pitch to enhance (comfort noise).
void postfilter_subframe(PostfilterState& state, std::span<const std::int16_t, kSubframeSamples> speech,
                         std::span<const std::int16_t, kLpcOrder> a, std::int16_t pitch_lag,
                         std::span<std::int16_t, kSubframeSamples> out);

}  // namespace g7231
