// Closed-loop search of the adaptive codebook: the lag and five-tap gain entry that best predict a
// subframe's target from the past excitation.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/common/adaptive_codebook.h"
#include "codec/common/constants.h"
#include "codec/encoder/encoder_state.h"

namespace g7231 {

// Chooses subframe s's lag and gain entry in closed loop, records them in params (olp_lag of an even
// subframe, lag_delta and acb_gain_index) and removes the filtered predictor output from the target.
void search_adaptive_codebook(std::span<std::int16_t, kSubframeSamples> target,
                              std::span<const std::int16_t, kSubframeSamples> h, const G7231Encoder& enc,
                              FrameParams& params, std::size_t s);

}  // namespace g7231
