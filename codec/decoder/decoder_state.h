// The decoder's state record: everything that links one received frame to the next, held inline in one
// object. Its first fields mirror the encoder's local decoder, so that for an undamaged stream the two stay
// in step sample for sample.
#pragma once

#include <array>
#include <cstdint>

#include "bitstream/frame_params.h"
#include "codec/common/constants.h"
#include "codec/decoder/postfilter.h"
#include "codec/tables/builtin_table_set.h"
#include "codec/tables/lsp_quantiser_tables.h"

namespace g7231 {

// Comfort noise: the last SID description and the generator that continues it through silence.
struct DecoderCngState {
  std::int16_t cur_gain = 0;                               // smoothed comfort-noise gain
  std::int16_t prev_frame_kind = 1;                        // FrameKind of the previous frame (1 after concealed speech)
  std::array<std::int16_t, kLpcOrder> sid_lsp{};           // quantised LSP vector of the last SID frame
  std::int16_t sid_gain = 0;                               // gain of the last SID frame
  bool sid_received = false;                               // sid_lsp and sid_gain hold a received description
  std::int16_t random_seed = kRandomSeedInit;              // comfort-noise generator; reset after every active frame
};

// Concealment of lost frames in speech: the excitation continues from the last good frame, fading to
// silence over kConcealmentFadeSamples.
struct ConcealmentState {
  std::int16_t lost_frames = 0;          // consecutive frames concealed so far (saturating)
  std::int16_t pitch_lag = kPitchMin;    // predictor lag of the last good subframe
  std::int16_t elapsed = 0;              // samples since the loss began, up to the fade length
  std::int16_t voiced = 0;               // 1: repeat the last pitch cycle; 0: noise of the last level
  std::int16_t noise_amplitude = 0;      // peak of the uniform noise for an unvoiced loss
  std::int16_t noise_seed = kRandomSeedInit;
  std::array<std::int16_t, kHistorySamples> last_good{};  // the excitation history when the loss began
};

class G7231Decoder {
 public:
  // A decoder coding with the given set (null: the built-in one), which must outlive it.
  explicit G7231Decoder(bool postfilter_enabled, const TableSet* tables = nullptr) noexcept
      : tables(tables != nullptr ? tables : &kBuiltinTableSet), postfilter_enabled(postfilter_enabled) {}

  std::array<std::int16_t, kLpcOrder> prev_lsp = kLspMean;         // quantised LSP vector of the previous frame
  std::array<std::int16_t, kHistorySamples> excitation_history{};  // past excitation, oldest first
  std::array<std::int16_t, kLpcOrder> synth_filter_mem{};          // synthesis filter outputs, most recent first
  DecoderCngState cng;
  ConcealmentState concealment;
  PostfilterState postfilter;
  std::uint64_t frames_concealed = 0;  // lost, cut-short and invalid frames, since creation
  const TableSet* tables;              // the set it decodes with, immutable, owned by the caller

  const bool postfilter_enabled;
};

}  // namespace g7231
