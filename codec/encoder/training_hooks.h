// Observation points for the table-training tool. Only the training build (G7231_TRAINING_HOOKS) has
// them; the encoder proper compiles none of this.
#pragma once

#if defined(G7231_TRAINING_HOOKS)

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace g7231::training {

// One pitch-gain search: the normalised correlations of each candidate lag (20 per candidate, in the
// layout of a gain entry), which table each candidate searched, the entries taming allowed, and the choice.
struct PitchSearchRecord {
  std::span<const std::int16_t> correlations;
  std::size_t candidates = 0;
  std::array<bool, 4> short_lag_table{};  // candidate searched the 85-entry table
  std::size_t entries85 = 0;
  std::size_t entries170 = 0;
  std::size_t chosen_candidate = 0;
  std::size_t chosen_entry = 0;
};

// Defined by the training tool.
void observe_pitch_search(const PitchSearchRecord& record);

}  // namespace g7231::training

#endif
