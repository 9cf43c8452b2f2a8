// Linear-prediction analysis: four sets of LPC coefficients per frame, the sinusoid detector and the
// autocorrelation history of the comfort-noise coder.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"
#include "codec/encoder/encoder_state.h"
#include "codec/tables/lpc_analysis_tables.h"

namespace g7231 {

// One autocorrelation set: lags 0..10.
inline constexpr std::size_t kAcfLags = kLpcOrder + 1;

// Autocorrelation of one analysis block: lags 0..10, lag 0 normalised to 16384..32767 (all zero for a silent
// block), and the exponent x that puts the set on a common scale with others (r = R * 2^x, R the
// autocorrelation of the unscaled block; 40 for a silent block).
struct BlockAutocorrelation {
  std::array<std::int16_t, kAcfLags> r{};
  std::int16_t exponent = 0;
};

// Normalises and Hamming-windows the block in place, then autocorrelates it with a white-noise correction
// (lag 0 times 1025/1024) and the binomial lag window.
BlockAutocorrelation autocorrelate_block(std::span<std::int16_t, kLpcWindowLength> block,
                                         const DspKernels& kernels = dsp_kernels());

// Computes the unquantised LPC set (Q13) of each subframe from the analysis history and the frame, and
// updates the sinusoid detector and the comfort-noise autocorrelation history. Each subframe's set comes
// from the 180 samples that end with it (120 before it, then the subframe), normalised, Hamming-windowed,
// autocorrelated with a white-noise correction and a binomial lag window.
void analyse_lpc(std::span<std::int16_t, kSubframes * kLpcOrder> lpc_out,
                 std::span<const std::int16_t, kAnalysisHistorySamples> history,
                 std::span<const std::int16_t, kFrameSamples> frame, std::int16_t& sine_detector, CngState& cng,
                 const DspKernels& kernels = dsp_kernels());

// Order-10 Levinson-Durbin recursion. corr holds the autocorrelations of lags 1..10 and energy the lag-0
// value, on one scale. lpc_out receives the predictor coefficients a_1..a_10 in Q13 (x^(n) = sum a_i x(n-i)).
// p2_out receives the negated partial correlation of the second stage (Q15; near +1 for a sinusoid), or
// 32767 when the recursion stops early because the prediction error no longer exceeds the correlation
// (the coefficients of that stage and later ones are then 0). Returns the final prediction error, on the
// scale of energy.
std::int16_t levinson_durbin(std::span<std::int16_t, kLpcOrder> lpc_out, std::span<const std::int16_t, kLpcOrder> corr,
                             std::int16_t energy, std::int16_t& p2_out);

// Ages the comfort-noise autocorrelation history by one frame and stores, as its newest set, the sum of
// the four subframe sets r (subframe 0 first, lags 0..10 each) brought to a common scale by their
// exponents x, renormalised to 16 bits, with the resulting exponent.
void store_frame_autocorrelation(std::span<const std::int16_t, kSubframes * kAcfLags> r,
                                 std::span<const std::int16_t, kSubframes> x, CngState& cng);

// Sinusoid detector, one bit per subframe (bit 0 the most recent): shifts in the flag of a subframe whose
// second partial correlation p2 exceeds the sinusoid threshold.
[[nodiscard]] std::int16_t push_sine_flag(std::int16_t detector, std::int16_t p2);

// End of frame for the sinusoid detector: bit 15 (the sign) is set when at least 14 of the flags of the
// last 15 subframes (bits 0..14) are set, and cleared otherwise.
[[nodiscard]] std::int16_t settle_sine_detector(std::int16_t detector);

}  // namespace g7231
