// Adaptive codebook: the five-tap long-term predictor that continues the past excitation, and the
// subframe excitation it completes. Encoder and decoder build every subframe's excitation with it.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/tables/table_set_types.h"

namespace g7231 {

inline constexpr std::size_t kLaggedExcitationSamples = kSubframeSamples + 4;  // two taps either side
inline constexpr std::size_t kAcbTaps = 5;

// The gain table a lag selects: the 170-entry table at 5.3 kbit/s or for lags of 58 and more, the
// 85-entry table for shorter lags at 6.3 kbit/s, of the given set.
std::span<const AcbGainEntry> acb_gain_table(const TableSet& tables, bool low_rate, std::int16_t lag);

// The past excitation around lag: buf[m] is the sample lag + 2 - m before the subframe's first sample.
// Where that falls inside the subframe, the last `lag` samples of the past repeat with period `lag`.
// The past is history[origin + k], origin + 144 standing for the sample just before the subframe; every
// index read must lie in the history: lags 17..143 at origin 0, and at origin 60 (the second subframe of
// a comfort-noise half frame, whose past the history does not yet hold) only lags of 122 and more.
void fetch_lagged_excitation(std::span<std::int16_t, kLaggedExcitationSamples> buf,
                             std::span<const std::int16_t, kHistorySamples> history, std::int16_t lag,
                             std::size_t origin = 0);

// The 60-sample predictor output for a base lag, lag offset and gain entry. The table follows the base lag.
void decode_adaptive_codebook(const TableSet& tables, std::span<std::int16_t, kSubframeSamples> out,
                              std::span<const std::int16_t, kHistorySamples> history, std::int16_t lag,
                              std::int16_t lag_delta, std::int16_t gain_index, bool low_rate,
                              std::size_t origin = 0);

// Completes a subframe's excitation: exc holds the fixed-codebook excitation on entry and receives twice
// it plus the predictor output of (lag, lag_delta, gain_index); the history is aged by one subframe and
// takes the new excitation as its most recent samples.
void complete_subframe_excitation(const TableSet& tables, std::span<std::int16_t, kSubframeSamples> exc,
                                  std::span<std::int16_t, kHistorySamples> history, std::int16_t lag,
                                  std::int16_t lag_delta, std::int16_t gain_index, bool low_rate);

}  // namespace g7231
