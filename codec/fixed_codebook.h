// Fixed codebook: the innovation search of each rate.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/constants.h"
#include "codec/encoder.h"

namespace g7231 {

// Finds subframe s's innovation for the residual target through the impulse response h, records its
// parameters in params, and returns the fixed-codebook excitation in `vector`. h may be left altered.
void search_fixed_codebook(std::span<std::int16_t, kSubframeSamples> vector, std::span<std::int16_t, kSubframeSamples> h,
                           G7231Encoder& enc, FrameParams& params, std::size_t s);

}  // namespace g7231
