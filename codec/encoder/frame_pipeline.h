// The spine of the encoder: every stage of one frame, in order.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/encoder/encoder_state.h"

namespace g7231 {

// Codes one frame of 240 samples into out (at least 24 bytes). The frame array is the working buffer:
// it passes through weighted speech, targets and excitation and does not keep its input.
void encode_frame_pipeline(G7231Encoder& enc, std::span<std::int16_t, kFrameSamples> frame,
                           std::span<std::uint8_t, kMaxFrameBytes> out);

}  // namespace g7231
