// Quality of the encoder's own reconstruction.
#pragma once

#include <vector>

#include "corpus.h"

namespace g7231::training {

struct SegmentalSnr {
  double mean_db = 0;
  std::size_t frames = 0;
};

// Segmental SNR of the encoder's locally reconstructed speech (the output of its filter-memory update)
// against its conditioned, delayed input at full scale, over the frames coded as active speech whose
// input is not silence; each frame's SNR is limited to -10..35 dB. Uses the installed table set.
SegmentalSnr segmental_snr(const std::vector<Recording>& recordings, bool high_rate);

}  // namespace g7231::training
