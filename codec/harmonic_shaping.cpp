#include "codec/harmonic_shaping.h"

namespace g7231 {

// Placeholders until harmonic noise shaping is built: no shaping.
HarmonicWeighting estimate_harmonic_weighting(std::span<const std::int16_t, kPitchBufferLength>, std::size_t,
                                              std::int16_t olp) {
  return {olp, 0};
}

void apply_harmonic_weighting(std::span<std::int16_t, kFrameSamples>, std::span<const std::int16_t, kPitchBufferLength>,
                              std::size_t, HarmonicWeighting) {}

}  // namespace g7231
