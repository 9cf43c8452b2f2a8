// Harmonic noise shaping y(n) = x(n) - g x(n - L), per subframe.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"

namespace g7231 {

struct HarmonicWeighting {
  std::int16_t lag = 0;   // shaping lag, within 3 of the open-loop lag
  std::int16_t gain = 0;  // Q15, 0 (no shaping) to 10240
};

// The shaping lag and gain of the subframe starting at `pos` in the normalised pitch buffer.
HarmonicWeighting estimate_harmonic_weighting(std::span<const std::int16_t, kPitchBufferLength> buf,
                                              std::size_t pos, std::int16_t olp, const DspKernels& kernels = dsp_kernels());

// Writes the shaped subframe starting at `start` into out, from the unnormalised pitch buffer.
void apply_harmonic_weighting(std::span<std::int16_t, kFrameSamples> out,
                              std::span<const std::int16_t, kPitchBufferLength> buf, std::size_t start,
                              HarmonicWeighting hw);

}  // namespace g7231
