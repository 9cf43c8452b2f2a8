// Voice activity detection.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"
#include "codec/encoder/encoder_state.h"

namespace g7231 {

// 1 when the frame (high-pass filtered, not yet delayed) is active speech, 0 when it is inactive.
// With detection off every frame is active and no state changes. The kernels (any level gives the same
// decision) filter the frame.
std::int16_t detect_voice_activity(std::span<const std::int16_t, kFrameSamples> frame, VadState& vad,
                                   std::int16_t sine_detector, bool vad_enabled,
                                   const DspKernels& kernels = dsp_kernels());

}  // namespace g7231
