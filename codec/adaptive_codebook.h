// Adaptive codebook: the 5-tap long-term predictor's closed-loop search and its decoding.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/constants.h"
#include "codec/encoder.h"

namespace g7231 {

// Chooses the subframe's lag and gain entry, records them in params and removes the filtered predictor
// output from the target.
void search_adaptive_codebook(std::span<std::int16_t, kSubframeSamples> target,
                              std::span<const std::int16_t, kSubframeSamples> h, const G7231Encoder& enc,
                              FrameParams& params, std::size_t s);

// The 60-sample predictor output for a lag, lag offset and gain entry.
void decode_adaptive_codebook(std::span<std::int16_t, kSubframeSamples> out,
                              std::span<const std::int16_t, kHistorySamples> history, std::int16_t lag,
                              std::int16_t lag_delta, std::int16_t gain_index, bool low_rate);

}  // namespace g7231
