// Excitation error taming: bounds the adaptive-codebook gains while a channel error could grow.
#pragma once

#include <array>
#include <cstdint>

namespace g7231 {

// Folds a subframe's predictor lag and gain entry into the per-zone error estimates.
void update_taming_error(std::array<std::int32_t, 5>& taming_error, std::int16_t base_lag, std::int16_t lag_delta,
                         std::int16_t gain_index, bool low_rate);

}  // namespace g7231
