#include "codec/encoder/fixed_codebook_search.h"

#include <algorithm>
#include <array>

#include "codec/encoder/mpmlq_search.h"
#include "codec/tables/fixed_codebook_tables.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

void encode_acelp(std::span<std::int16_t, kSubframeSamples> vector, std::span<std::int16_t, kSubframeSamples> h,
                  G7231Encoder& enc, FrameParams& params, std::size_t s) {
  SubframeParams& sub = params.sub[s];
  const auto lag = static_cast<std::int16_t>(params.olp_lag[s / 2] + sub.lag_delta - 1);
  const AcelpCode code =
      acelp_encode_subframe(vector, h, acelp_sharpening(*enc.tables, lag, sub.acb_gain_index), enc.acelp_budget_carry, *enc.kernels);
  sub.positions = code.position_code;  // sign-extended
  sub.fcb_gain_index = code.fcb_gain_index;
  sub.grid = code.grid;
  sub.signs = code.signs;
  sub.pulse_train = 0;
}

}  // namespace

void search_fixed_codebook(std::span<std::int16_t, kSubframeSamples> vector, std::span<std::int16_t, kSubframeSamples> h,
                           G7231Encoder& enc, FrameParams& params, std::size_t s) {
  if (enc.low_rate != 0) {
    encode_acelp(vector, h, enc, params, s);
  } else {
    mpmlq_encode_subframe(vector, h, params.sub[s], static_cast<std::size_t>(kMpmlqPulseCount[s]),
                          params.olp_lag[s / 2], *enc.kernels);
  }
}

AcelpCode acelp_encode_subframe(std::span<std::int16_t, kSubframeSamples> vector,
                                std::span<std::int16_t, kSubframeSamples> h, AcelpSharpening sharpening,
                                std::int16_t& budget_carry, const DspKernels& kernels) {
  for (std::int16_t& v : h) v = shr16(v, 1);
  apply_sharpening(h, sharpening);

  AcelpCorrMatrix matrix = acelp_correlation_matrix(h, kernels);
  std::array<std::int16_t, kAcelpSearchFrame> d = acelp_backward_target(h, vector, kernels);
  AcelpPulses pulses = acelp_pulse_search(d, matrix, h, budget_carry, kernels);
  const FcbGain gain = quantise_fcb_gain(vector, pulses.filtered);

  // The excitation, built from the code as a receiver builds it, replaces the target.
  const AcelpCode code{pulses.position_code, gain.index, pulses.grid, pulses.signs};
  build_acelp_excitation(vector, code, sharpening);
  return code;
}

AcelpCorrMatrix acelp_correlation_matrix(std::span<const std::int16_t, kSubframeSamples> h, const DspKernels& kernels) {
  std::int32_t energy = 0;
  const std::int64_t squares = sum_of_squares(h);
  if (kExactFastPaths && 2 * squares <= kMax32) {
    energy = static_cast<std::int32_t>(2 * squares);  // no partial sum of the chain reaches 2^31
  } else {
    for (std::int16_t v : h) energy = mac32(energy, v, v);
  }

  // The response normalised, with four leading zeros so that correlations over the 64-position search
  // frame are truncated at the end of the subframe.
  constexpr std::size_t kLead = kAcelpSearchFrame - kSubframeSamples;
  std::array<std::int16_t, kAcelpSearchFrame> p{};
  if (extract_high(energy) > 32000) {
    for (std::size_t n = 0; n < kSubframeSamples; ++n) p[kLead + n] = shr16(h[n], 1);
  } else if (kExactFastPaths) {
    // Every 2 h^2 is at most the energy, below 2^(31 - e) with e its norm (or e is 0), so |h| stays below
    // 2^(15 - e/2) and h << e/2 within 16 bits: the shift never saturates.
    const int k = norm32(energy) / 2;
    for (std::size_t n = 0; n < kSubframeSamples; ++n) p[kLead + n] = static_cast<std::int16_t>(h[n] * (1 << k));
  } else {
    const std::int16_t k = shr16(norm32(energy), 1);
    for (std::size_t n = 0; n < kSubframeSamples; ++n) p[kLead + n] = shl16(h[n], k);
  }
  AcelpCorrMatrix matrix;
  kernels.acelp_correlations(p, matrix);
  return matrix;
}

std::array<std::int16_t, kAcelpSearchFrame> acelp_backward_target(std::span<const std::int16_t, kSubframeSamples> h,
                                                                  std::span<const std::int16_t, kSubframeSamples> x,
                                                                  const DspKernels& kernels) {
  std::array<std::int32_t, kSubframeSamples> y{};
  if (products_within(sum_of_squares(x), sum_of_squares(h))) {
    // No partial sum can saturate: each output is a plain dot product of the target from j on with h,
    // sum over i of x[i] hz[i - j] with hz the response between zeros.
    std::array<std::int16_t, kAcelpSearchFrame> xz{};
    std::array<std::int16_t, 2 * kAcelpSearchFrame> hz{};
    std::ranges::copy(x, xz.begin());
    std::ranges::copy(h, hz.begin() + kAcelpSearchFrame);
    // Output j takes no term before i = j (hz is zero there), so each block of 16 outputs starts its sums
    // at the block's first i: the same plain sums without the zero terms.
    constexpr std::size_t kBlock = 16;
    for (std::size_t j = 0; j < kSubframeSamples; j += kBlock) {
      kernels.lagged_correlations(xz.data() + j, hz.data() + kAcelpSearchFrame, kAcelpSearchFrame - j,
                                  std::min(kBlock, kSubframeSamples - j), y.data() + j);
    }
    for (std::int32_t& v : y) v *= 2;
  } else {
    for (std::size_t j = 0; j < kSubframeSamples; ++j) {
      for (std::size_t i = j; i < kSubframeSamples; ++i) y[j] = mac32(y[j], x[i], h[i - j]);
    }
  }
  std::int32_t largest = 0;
  std::array<std::int16_t, kAcelpSearchFrame> d{};
  if constexpr (kExactFastPaths) {
    // The shift lies in 2..18, where shr32 is the arithmetic shift; extract_low keeps the low 16 bits.
    largest = largest_abs32(y);
    const int shift = 18 - std::min<int>(norm32(largest), 16);
    for (std::size_t j = 0; j < kSubframeSamples; ++j) d[j] = static_cast<std::int16_t>(y[j] >> shift);
    return d;
  }
  for (std::int32_t v : y) largest = std::max(largest, abs32(v));
  const std::int16_t e = std::min<std::int16_t>(norm32(largest), 16);
  const std::int16_t shift = sub16(18, e);
  for (std::size_t j = 0; j < kSubframeSamples; ++j) d[j] = extract_low(shr32(y[j], shift));
  return d;
}

}  // namespace g7231
