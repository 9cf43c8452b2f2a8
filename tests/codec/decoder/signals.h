// Synthetic test signals at the extremes of the input range, generated here: silence, full-scale square
// waves and sweeps, noise bursts between silences, and real speech amplified until it clips.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/speech_samples.h"

namespace g7231 {

struct Signal {
  std::string name;
  std::vector<std::int16_t> samples;
};

inline std::vector<Signal> synthetic_signals() {
  constexpr std::size_t kLength = 40 * 240;
  std::vector<Signal> out;
  out.push_back({"silence", std::vector<std::int16_t>(kLength, 0)});

  for (const int period : {16, 57, 160}) {
    std::vector<std::int16_t> square(kLength);
    for (std::size_t n = 0; n < kLength; ++n) square[n] = (n / static_cast<std::size_t>(period / 2)) % 2 ? -32768 : 32767;
    out.push_back({"square " + std::to_string(period), square});
  }

  std::vector<std::int16_t> sweep(kLength);
  double phase = 0;
  for (std::size_t n = 0; n < kLength; ++n) {
    phase += 2 * 3.14159265358979 * (50.0 + 3900.0 * static_cast<double>(n) / kLength) / 8000.0;
    sweep[n] = static_cast<std::int16_t>(std::lround(32767 * std::sin(phase)));
  }
  out.push_back({"sweep", sweep});

  // Steady quiet noise with bursts of loud noise: the silence-compression path in all its transitions.
  std::mt19937 rng(6202);
  std::vector<std::int16_t> bursts(3 * kLength, 0);
  for (std::size_t n = 0; n < bursts.size(); ++n) {
    const std::size_t frame = n / 240;
    const int amp = frame % 40 >= 30 && frame % 40 < 34 ? 32767 : frame % 40 == 36 ? 0 : 40;
    bursts[n] = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-amp, amp)(rng));
  }
  out.push_back({"noise bursts", bursts});

  std::vector<std::int16_t> clipped = load_speech_sample("mmt1.raw");
  for (auto& v : clipped) v = static_cast<std::int16_t>(std::clamp(v * 16, -32768, 32767));
  out.push_back({"clipped speech", clipped});
  return out;
}

}  // namespace g7231
