// Excitation error taming: while an excitation error at the receiver could grow from pitch period to
// pitch period, the pitch-gain search is kept away from the gain entries with the largest gains.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/tables/table_set_types.h"

namespace g7231 {

inline constexpr std::int32_t kTamingThreshold = 0x40000000;

using TamingError = std::array<std::int32_t, 5>;  // per 30-sample lag zone, zone 0 the most recent

// The amplification bounds of the gain table that a lag selects (the same rule as the gain table).
std::span<const std::int16_t> taming_gain_table(const TableSet& tables, bool low_rate, std::int16_t lag);

// T (0..128) from which the pitch-gain search derives how many gain entries it may try for candidate lags
// lo..hi; 0 while the estimates exceed the threshold or the sinusoid detector has fired.
std::int16_t taming_gain_limit(std::int16_t lo, std::int16_t hi, const TamingError& taming_error,
                               std::int16_t sine_detector);

// Folds a subframe's predictor lag and gain entry into the per-zone error estimates.
void update_taming_error(const TableSet& tables, TamingError& taming_error, std::int16_t base_lag, std::int16_t lag_delta,
                         std::int16_t gain_index, bool low_rate);

}  // namespace g7231
