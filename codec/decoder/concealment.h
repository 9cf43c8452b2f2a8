// Concealment of frames lost in speech (flagged lost, cut short, or holding fields no encoder writes).
//
// The excitation continues from the last good frame: voiced speech (a pitch predictor of at least half
// gain) repeats the last pitch cycle of the excitation, unvoiced speech becomes noise of the last level.
// Either fades linearly from full level to silence over kConcealmentFadeSamples (90 ms, three frames), so
// a burst of losses falls steadily quiet. The LSP vector takes the erased path of the inverse quantiser.
// The concealed excitation enters the history, so the first good frame's pitch predictor continues it.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/common/constants.h"
#include "codec/decoder/decoder_state.h"

namespace g7231 {

inline constexpr std::int16_t kConcealmentFadeSamples = 3 * static_cast<std::int16_t>(kFrameSamples);

// Remembers what a later loss continues from: the pitch lag and voicing of a good active frame's last
// subframe.
void note_good_frame(const TableSet& tables, ConcealmentState& c, const FrameParams& params, bool low_rate);

// The excitation of one lost frame into exc, appended to the history.
void conceal_excitation(ConcealmentState& c, std::span<std::int16_t, kHistorySamples> excitation_history,
                        std::span<std::int16_t, kFrameSamples> exc);

}  // namespace g7231
