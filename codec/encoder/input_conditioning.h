// Input conditioning: DC removal, block normalisation and the one-subframe analysis delay.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/encoder/encoder_state.h"

namespace g7231 {

// High-pass filters the frame in place (or, with the filter off, halves it, rounding toward minus
// infinity); either way the encoder works on input at half scale. The filter state carries over from
// frame to frame and is neither read nor changed when the filter is off.
void remove_dc(std::span<std::int16_t, kFrameSamples> frame, std::int16_t& prev_input, std::int32_t& prev_output,
               bool highpass_enabled);

// Scales the block in place by a power of two so that its largest magnitude has three bits of headroom
// (2048..4095 for a non-zero block) and returns the exponent e applied: every sample was multiplied by 2^e,
// rounded toward minus infinity when e < 0. An all-zero block stays zero and gives -3.
std::int16_t normalize_block(std::span<std::int16_t> block);

// Keeps the frame's last 120 samples in history for the next frame's analysis, and replaces the frame by
// the same signal delayed by one subframe: the last 60 samples of the old history, then the first 180
// samples of the frame.
void shift_analysis_history(std::span<std::int16_t, kAnalysisHistorySamples> history,
                            std::span<std::int16_t, kFrameSamples> frame);

}  // namespace g7231
