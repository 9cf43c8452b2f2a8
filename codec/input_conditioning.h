// Input conditioning: DC removal, block normalisation and the one-subframe analysis delay.
#pragma once

#include <cstdint>
#include <span>

#include "codec/constants.h"

namespace g7231 {

// High-pass filters the frame in place (or, with the filter off, halves it); either way the encoder works
// on input at half scale. The filter state carries over from frame to frame.
void remove_dc(std::span<std::int16_t, kFrameSamples> frame, std::int16_t& prev_input, std::int32_t& prev_output,
               bool highpass_enabled);

// Scales the block by a power of two to three bits of headroom and returns the exponent applied.
std::int16_t normalize_block(std::span<std::int16_t> block);

// Keeps the frame's last 120 samples for the next frame's analysis and delays the frame by one subframe.
void shift_analysis_history(std::span<std::int16_t, 120> history, std::span<std::int16_t, kFrameSamples> frame);

}  // namespace g7231
