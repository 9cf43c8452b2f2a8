// Fixed-codebook search: dispatch by rate, and the 5.3 kbit/s (ACELP) preparation of the pulse search:
// the sharpened response, its correlation matrix and the backward-filtered target.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"
#include "codec/common/constants.h"
#include "codec/common/fixed_codebook_excitation.h"
#include "codec/encoder/acelp_search.h"
#include "codec/encoder/encoder_state.h"

namespace g7231 {

// Finds subframe s's innovation for the residual target through the impulse response h, records its
// parameters in params, and returns the fixed-codebook excitation in `vector`. At 5.3 kbit/s h is used as
// scratch and left altered.
void search_fixed_codebook(std::span<std::int16_t, kSubframeSamples> vector, std::span<std::int16_t, kSubframeSamples> h,
                           G7231Encoder& enc, FrameParams& params, std::size_t s);

// Codes one 5.3 kbit/s subframe: the target in `vector` is replaced by the fixed-codebook excitation.
// h is halved and sharpened in place.
AcelpCode acelp_encode_subframe(std::span<std::int16_t, kSubframeSamples> vector,
                                std::span<std::int16_t, kSubframeSamples> h, AcelpSharpening sharpening,
                                std::int16_t& budget_carry, const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

// Correlations of the prepared response between every pair of even-grid pulse positions.
AcelpCorrMatrix acelp_correlation_matrix(std::span<const std::int16_t, kSubframeSamples> h,
                                         const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

// The target filtered backwards through the prepared response, scaled to 16 bits; d[60..63] are zero.
std::array<std::int16_t, kAcelpSearchFrame> acelp_backward_target(std::span<const std::int16_t, kSubframeSamples> h,
                                                                  std::span<const std::int16_t, kSubframeSamples> x,
                                                                  const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

}  // namespace g7231
