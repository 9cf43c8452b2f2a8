// Training the pitch-gain tables, and the taming and sharpening tables derived from them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "corpus.h"
#include "table_sets.h"

namespace g7231::training {

// What one pitch-gain search saw: the normalised correlations of each candidate lag (in the layout of a
// gain entry), which table each candidate searched, how many entries taming allowed, and the choice.
struct GainRecord {
  std::array<std::array<std::int16_t, 20>, 4> g{};
  std::uint8_t candidates = 0;
  std::array<bool, 4> short_lag_table{};
  std::uint8_t entries85 = 0;
  std::uint8_t entries170 = 0;
  std::uint8_t chosen_candidate = 0;
  std::uint8_t chosen_entry = 0;
};

// Encodes the recordings at one rate with the installed set, recording every pitch-gain search.
std::vector<GainRecord> record_gain_searches(const std::vector<Recording>& recordings, bool high_rate);

struct GainTrainingOptions {
  int passes = 5;               // closed-loop passes through the encoder
  int first_iterations = 30;    // Lloyd iterations on the first pass
  int iterations = 10;          // on each later pass
  std::uint32_t seed = 2;
};

// Generalised Lloyd training of both pitch-gain tables on the search's own criterion, closed loop
// through the encoder at both rates: each pass encodes the corpus with the set so far, then refines the
// entries, each cell's entry becoming the taps that maximise the summed criterion of its cell. Entry 0
// stays zero. The taming and sharpening tables are derived after every pass (see below). Installs the result.
void train_gain_tables(TableSet& set, const std::vector<Recording>& recordings, const GainTrainingOptions& options);

// The taming bound of an entry (Q13): the sum of the magnitudes of its taps, the largest factor by which
// the predictor can amplify an error in the excitation, and never below 1/8 (1024).
std::int16_t taming_bound(const AcbGainEntry& entry);

// Orders entries 1.. of both gain tables by their taming bound, fills the taming tables (non-decreasing)
// and derives the sharpening tables from the 170-entry table.
void derive_dependent_tables(TableSet& set);

// Sharpening for one 170-entry gain entry: the single tap that stands for the five-tap predictor is its
// largest tap; the sharpening lag is that tap's lag and the gain the predictor's total gain (the sum of
// the taps, as a single tap at the pitch lag would carry it), capped at 0.8 so the truncated comb stays
// damped. Where that stand-in is weak - a total gain below 0.2, or a largest tap holding less than half of
// the taps' summed magnitude - sharpening is off (offset 60, gain 0).
std::pair<std::int16_t, std::int16_t> sharpening_for(const AcbGainEntry& entry);

}  // namespace g7231::training
