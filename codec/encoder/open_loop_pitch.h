// Open-loop pitch estimation on the formant-weighted speech.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"

namespace g7231 {

// The pitch lag (18..142) of the half-frame starting at `start` in the 385-sample pitch buffer.
std::int16_t estimate_open_loop_pitch(std::span<const std::int16_t, kPitchBufferLength> buf, std::size_t start,
                                      const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

}  // namespace g7231
