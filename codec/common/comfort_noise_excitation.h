// Comfort noise: the random excitation and the filters of inactive frames, built from the last SID
// description alike by the receiver and by the encoder, whose filter memories, excitation history and
// taming estimates must stay in step with the receiver's.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/common/constants.h"
#include "codec/tables/table_set_types.h"

namespace g7231 {

// 16-bit linear congruential generator: seed = seed * 521 + 259 (mod 2^16); returns the new seed.
std::int16_t random16(std::int16_t& seed);

// A random value from 0 to n - 1.
std::int16_t random_below(std::int16_t n, std::int16_t& seed);

// Square root of a Q31 value, in Q15 (bit 0 always 0).
std::int16_t sqrt32(std::int32_t x);

// The gain a SID gain index (0..63) stands for.
std::int16_t decode_sid_gain(std::int16_t index);

// The comfort-noise gain of a frame: the SID gain itself in the first inactive frame after speech, then
// gliding towards each new SID gain by one eighth per frame.
std::int16_t smooth_comfort_noise_gain(std::int16_t cur_gain, std::int16_t sid_gain, bool after_speech);

// Draws random lags, pitch-gain entries, pulse positions and signs (recording the lags and entries in
// params), builds the frame's excitation of the given gain into exc and appends it to the history.
void build_comfort_noise_excitation(const TableSet& tables, std::int16_t gain, std::span<std::int16_t, kHistorySamples> excitation_history,
                                    std::span<std::int16_t, kFrameSamples> exc, std::int16_t& random_seed,
                                    FrameParams& params);

// The state an inactive frame advances, wherever it is held.
struct ComfortNoiseMemory {
  std::int16_t& cur_gain;                                   // smoothed gain
  std::int16_t& random_seed;                                // generator state
  std::span<std::int16_t, kHistorySamples> excitation_history;
  std::span<std::int16_t, kLpcOrder> prev_lsp;              // quantised LSP vector of the previous frame
};

// One inactive frame from the last SID description (its quantised LSP vector and gain): the smoothed gain,
// the random excitation into exc (its random lags and pitch-gain entries recorded in params), and the four
// subframe LPC sets into lpc, interpolated from prev_lsp, which then takes sid_lsp.
void generate_comfort_noise(const TableSet& tables, const ComfortNoiseMemory& mem, std::span<const std::int16_t, kLpcOrder> sid_lsp,
                            std::int16_t sid_gain, bool after_speech, std::span<std::int16_t, kFrameSamples> exc,
                            std::span<std::int16_t, kSubframes * kLpcOrder> lpc, FrameParams& params);

}  // namespace g7231
