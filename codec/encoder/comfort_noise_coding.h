// Comfort-noise coding of inactive frames: the choice between a SID frame (a new description of the
// background noise) and an untransmitted frame, the SID filter and gain, and the excitation that keeps the
// encoder's memories running through silence.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/common/comfort_noise_excitation.h"
#include "codec/common/constants.h"
#include "codec/encoder/encoder_state.h"

namespace g7231 {

using AcfSet = std::array<std::int16_t, kLpcOrder + 1>;  // autocorrelation, lags 0..10

// Decides between a SID and an untransmitted frame (kind is untransmitted on entry), fills the SID fields
// of params, writes the comfort-noise excitation into exc and the four subframe LPC sets into lpc, and
// updates the comfort-noise state, prev_lsp and noise_lpc.
void encode_inactive_frame(G7231Encoder& enc, std::span<std::int16_t, kFrameSamples> exc, FrameKind& kind,
                           FrameParams& params, std::span<std::int16_t, kSubframes * kLpcOrder> lpc);

// The LPC filter of the three previous frames' summed autocorrelations.
std::array<std::int16_t, kLpcOrder> average_past_filter(const CngState& cng);

struct FilterAcf {
  AcfSet r{};             // twice the autocorrelation of 1, -c[0], ..., -c[9], normalised
  std::int16_t shift = 0; // the normalisation shift
};

// Normalised autocorrelation of an LPC filter's coefficients.
FilterAcf filter_autocorrelation(std::span<const std::int16_t, kLpcOrder> c);

// 1 when the filter (its autocorrelation) still fits a frame's spectrum (its autocorrelation a and
// residual energy e), else 0.
std::int16_t filter_matches_spectrum(const FilterAcf& filter, std::span<const std::int16_t, kLpcOrder + 1> a,
                                     std::int16_t e);

// SID gain index (0..63) of the average of the newest n (1..3) residual energies.
std::int16_t quantise_sid_gain(std::span<const std::int16_t, 3> energies, std::span<const std::int16_t, 4> exponents,
                               std::int16_t n);


}  // namespace g7231
