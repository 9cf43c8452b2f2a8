// Comfort-noise excitation: the random excitation a receiver builds for inactive frames, built here too
// so that the encoder's filter memories, excitation history and taming estimates stay in step with it.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/common/constants.h"

namespace g7231 {

// 16-bit linear congruential generator: seed = seed * 521 + 259 (mod 2^16); returns the new seed.
std::int16_t random16(std::int16_t& seed);

// A random value from 0 to n - 1.
std::int16_t random_below(std::int16_t n, std::int16_t& seed);

// Square root of a Q31 value, in Q15 (bit 0 always 0).
std::int16_t sqrt32(std::int32_t x);

// Draws random lags, pitch-gain entries, pulse positions and signs (recording the lags and entries in
// params), builds the frame's excitation of the given gain into exc and appends it to the history.
void build_comfort_noise_excitation(std::int16_t gain, std::span<std::int16_t, kHistorySamples> excitation_history,
                                    std::span<std::int16_t, kFrameSamples> exc, std::int16_t& random_seed,
                                    FrameParams& params, bool low_rate);

}  // namespace g7231
