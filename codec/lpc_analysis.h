// Linear-prediction analysis: four sets of LPC coefficients per frame, the sinusoid detector and the
// autocorrelation history of the comfort-noise coder.
#pragma once

#include <cstdint>
#include <span>

#include "codec/constants.h"
#include "codec/encoder.h"

namespace g7231 {

// Computes the unquantised LPC set (Q13) of each subframe from the analysis history and the frame, and
// updates the sinusoid detector and the comfort-noise autocorrelation history.
void analyse_lpc(std::span<std::int16_t, kSubframes * kLpcOrder> lpc_out,
                 std::span<const std::int16_t, kAnalysisHistorySamples> history,
                 std::span<const std::int16_t, kFrameSamples> frame, std::int16_t& sine_detector, CngState& cng);

}  // namespace g7231
