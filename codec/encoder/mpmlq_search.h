// 6.3 kbit/s fixed codebook: multipulse maximum-likelihood quantisation (MP-MLQ). Six or five pulses of
// one common magnitude and individual signs, all on the even or all on the odd positions, optionally
// repeated at the pitch period, coded with a combinatorial position index.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"
#include "codec/common/fixed_codebook_excitation.h"

namespace g7231 {

inline constexpr std::int16_t kMpmlqGainSteps = 2;          // gain levels tried on each side of the estimate
inline constexpr std::int32_t kMpmlqNoCandidate = -0x40000000;

// One candidate excitation of the search.
struct MpmlqCandidate {
  std::int32_t error = kMpmlqNoCandidate;  // figure of merit 2<t, v> - <v, v>, larger is better
  std::int16_t grid = 0;
  std::int16_t gain_index = 0;
  std::int16_t pulse_train = 0;
  std::array<std::int16_t, kMpmlqMaxPulses> positions{};   // in the order placed
  std::array<std::int16_t, kMpmlqMaxPulses> amplitudes{};  // +- the gain level
};

// The best record before any candidate: the first slots of the even grid at the smallest gain, so that a
// subframe where no candidate reaches the initial figure of merit still codes a valid excitation.
MpmlqCandidate mpmlq_initial_candidate(std::size_t pulses);

// Searches both grids and four gain levels for the target through h (with the pulse train of `period`
// when it is below kShortLagLimit; 60 for none), replacing best with every candidate that beats it.
void mpmlq_best_search(MpmlqCandidate& best, std::span<const std::int16_t, kSubframeSamples> target,
                       std::span<const std::int16_t, kSubframeSamples> h, std::size_t pulses, std::int16_t period,
                       const DspKernels& kernels = dsp_kernels());

// Codes the pulse vector of the best candidate into the subframe's parameters: the combinatorial index
// of the occupied grid slots, one sign bit per pulse (first pulse in the most significant bit, 1 for
// negative), the gain level, the grid and the pulse-train flag.
void mpmlq_encode_positions(std::span<const std::int16_t, kSubframeSamples> excitation, SubframeParams& sub,
                            const MpmlqCandidate& best, std::size_t pulses);

// The whole 6.3 kbit/s subframe: search without and (for short lags) with the pulse train, build and code
// the excitation into `vector`, repeated at the lag when the winner uses the pulse train.
void mpmlq_encode_subframe(std::span<std::int16_t, kSubframeSamples> vector,
                           std::span<const std::int16_t, kSubframeSamples> h, SubframeParams& sub, std::size_t pulses,
                           std::int16_t lag, const DspKernels& kernels = dsp_kernels());

}  // namespace g7231
