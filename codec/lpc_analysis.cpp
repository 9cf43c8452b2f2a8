#include "codec/lpc_analysis.h"

namespace g7231 {

// Pass-through stage until the LPC analysis is built.
void analyse_lpc(std::span<std::int16_t, kSubframes * kLpcOrder>, std::span<const std::int16_t, kAnalysisHistorySamples>,
                 std::span<const std::int16_t, kFrameSamples>, std::int16_t&, CngState&) {}

}  // namespace g7231
