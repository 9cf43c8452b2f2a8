// Training the three LSP split codebooks, and measuring the quantiser's spectral distortion.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "corpus.h"
#include "table_sets.h"

namespace g7231::training {

// The unquantised LSP vector of every frame of one recording, as the encoder computes it.
struct LspTrack {
  std::vector<std::array<std::int16_t, 10>> lsp;
  std::vector<std::uint8_t> found;   // the conversion found all ten frequencies
  std::vector<std::uint8_t> speech;  // the frame carries sound, not (near) digital silence
};

std::vector<LspTrack> extract_lsp_tracks(const std::vector<Recording>& recordings);

struct LspTrainingOptions {
  int passes = 6;               // closed-loop passes through the quantiser
  int first_iterations = 30;    // Lloyd iterations on the first pass
  int iterations = 8;           // Lloyd iterations on each later pass
  std::uint32_t seed = 1;
};

// Generalised Lloyd training of the three codebooks of `set` on the prediction residuals the quantiser
// sees, closed loop: each pass runs the quantiser (prediction from the previous quantised vector) with the
// codebooks so far, then refines them on its residuals with the quantiser's weighted error. Row 0 stays
// zero. Installs the result.
void train_lsp_codebooks(TableSet& set, const std::vector<LspTrack>& tracks, const LspTrainingOptions& options);

struct SpectralDistortion {
  double mean_db = 0;
  double share_2_to_4_db = 0;  // fraction of frames
  double share_over_4_db = 0;
  std::size_t frames = 0;
};

// Spectral distortion between the unquantised and the quantised LSP vector of every speech frame, with
// the installed codebooks.
SpectralDistortion lsp_spectral_distortion(const std::vector<LspTrack>& tracks);

}  // namespace g7231::training
