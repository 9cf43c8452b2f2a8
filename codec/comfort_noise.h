// Comfort-noise coding of inactive frames: SID or untransmitted, and the excitation that keeps the
// encoder's memories running through silence.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/constants.h"
#include "codec/encoder.h"

namespace g7231 {

// Decides between a SID and an untransmitted frame (kind is 0 on entry), fills the SID fields of params,
// writes the comfort-noise excitation into exc and the four subframe LPC sets into lpc.
void encode_inactive_frame(G7231Encoder& enc, std::span<std::int16_t, kFrameSamples> exc, FrameKind& kind,
                           FrameParams& params, std::span<std::int16_t, kSubframes * kLpcOrder> lpc);

}  // namespace g7231
