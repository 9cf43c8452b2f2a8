#include "codec/encoder/voice_activity.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "codec/tables/voice_activity_tables.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::int16_t kMaxAdaptCount = 6;
constexpr std::int16_t kHangoverFrames = 6;
constexpr std::int32_t kMinNoiseLevel = 128;
constexpr std::int32_t kMaxNoiseLevel = 0x1FFFF;

// Number of (lag, multiple of the shortest lag) pairs that lie within 3 of each other: 4 for four lags
// that all sit on one pitch period.
std::int16_t pitch_stationarity(const std::array<std::int16_t, 4>& lags) {
  std::int16_t m = kPitchMax;
  for (std::int16_t p : lags) m = std::min(m, p);
  std::int16_t count = 0;
  if (kExactFastPaths) {
    // The add16 chain adds m each time, so it saturates as k m does; and a difference that sub16 or abs16
    // saturates is beyond 3 either way: plain sums give the same count, and vectorise.
    for (std::int16_t p : lags) {
      for (std::int32_t k = 1; k <= 8; ++k) {
        const std::int32_t t = std::clamp<std::int32_t>(k * m, kMin16, kMax16);
        count = static_cast<std::int16_t>(count + (std::abs(t - p) <= 3));
      }
    }
    return count;
  }
  for (std::int16_t p : lags) {
    std::int16_t t = m;
    for (int k = 0; k < 8; ++k) {
      if (abs16(sub16(t, p)) <= 3) ++count;
      t = add16(t, m);
    }
  }
  return count;
}

// Energy of samples 60..239 through the noise inverse filter.
std::int32_t inverse_filtered_energy(std::span<const std::int16_t, kFrameSamples> frame,
                                     const std::array<std::int16_t, kLpcOrder>& noise_lpc, const DspKernels& kernels) {
  constexpr std::size_t kCount = kFrameSamples - kSubframeSamples;
  // Each sample's chain starts within 2^14 max|x| and moves by at most 2 sum|c| max|x| over the samples
  // it reads (50..239): within 2^31 - 1, no partial sum saturates and the filter is summed plainly.
  const std::int64_t largest = largest_magnitude(frame.subspan(kSubframeSamples - kLpcOrder));
  if (chain_within(largest << 14, 2 * sum_of_magnitudes(noise_lpc) * largest)) {
    // All outputs at once as lagged correlations of the taps, oldest sample first (the coefficients,
    // -8192 for the sample itself, then zeros to the kernel's multiple of 8), with the samples 50..239
    // (then zeros, which only those zero taps read): out[i] = -acc / 2 for sample 239 - i. Its partial
    // sums, in whatever order the kernel takes them, are within half the bound above.
    constexpr std::size_t kTaps = 16;
    std::array<std::int16_t, kTaps> taps{};
    for (std::size_t k = 0; k < kLpcOrder; ++k) taps[kLpcOrder - 1 - k] = noise_lpc[k];
    taps[kLpcOrder] = -8192;
    std::array<std::int16_t, kCount + kTaps> line;
    const auto end = std::copy(frame.begin() + (kSubframeSamples - kLpcOrder), frame.end(), line.begin());
    std::fill(end, line.end(), std::int16_t{0});
    std::array<std::int32_t, kCount> half;
    kernels.lagged_correlations(taps.data(), line.data() + kCount - 1, kTaps, kCount, half.data());
    // round32_to16 (whose add32 saturates only upwards from here), then the energy: a mac32 chain of
    // squares only grows, so it is min(2 sum r^2, 2^31 - 1) in any order, the saturated square of
    // -32768 included.
    std::uint64_t squares = 0;
    const std::int64_t largest_r = ((largest << 14) + 2 * sum_of_magnitudes(noise_lpc) * largest + 0x8000) >> 16;
    if (largest_r * largest_r * std::int64_t{kCount} <= std::numeric_limits<std::uint32_t>::max()) {
      // Every |r| is within the chain's bound over 2^16, rounded: the squares' sum fits 32 bits unsigned.
      std::uint32_t sum = 0;
      for (std::size_t j = 0; j < kCount; ++j) {
        const std::int32_t acc = -2 * half[j];
        const std::int32_t r = (acc >> 16) + ((acc >> 15) & 1);
        sum += static_cast<std::uint32_t>(r * r);
      }
      squares = sum;
    } else {
      for (std::size_t j = 0; j < kCount; ++j) {
        const std::int32_t acc = -2 * half[j];
        const std::int32_t r = round32_to16_plain(acc);
        squares += static_cast<std::uint32_t>(r * r);
      }
    }
    return mult32_32x16(static_cast<std::int32_t>(std::min<std::uint64_t>(2 * squares, kMax32)), 2913);
  }
  std::int32_t energy = 0;
  for (std::size_t j = 0; j < kCount; ++j) {
    std::int32_t acc = mult32_16x16(frame[kSubframeSamples + j], 8192);
    for (std::size_t k = 0; k < kLpcOrder; ++k) acc = msu32(acc, frame[kSubframeSamples - 1 + j - k], noise_lpc[k]);
    const std::int16_t r = round32_to16(acc);
    energy = mac32(energy, r, r);
  }
  return mult32_32x16(energy, 2913);
}

// Speech threshold from the noise level: the factor is interpolated in the table by the level's octave.
std::int32_t speech_threshold(std::int32_t noise_level) {
  const std::int32_t a = shl32(noise_level, 13);
  const std::int16_t sh = norm32(a);
  const std::int32_t b = shl32(a, sh);
  const std::int16_t f = extract_high((b & 0x3F000000) * 2);
  const auto i = static_cast<std::size_t>(sh);
  const std::int16_t q = extract_high(
      msu32(mac32(deposit_high(kVadThresholdTable[i]), f, kVadThresholdTable[i - 1]), f, kVadThresholdTable[i]));
  return mult32_16x16(extract_low(shr32(noise_level, 2)), q) >> 11;
}

}  // namespace

std::int16_t detect_voice_activity(std::span<const std::int16_t, kFrameSamples> frame, VadState& vad,
                                   std::int16_t sine_detector, bool vad_enabled, const DspKernels& kernels) {
  if (!vad_enabled) return 1;

  // The noise level adapts quickly only while the signal shows neither a stable pitch nor a sinusoid.
  if (pitch_stationarity(vad.lag_history) == 4 || sine_detector < 0) {
    vad.adapt_count = static_cast<std::int16_t>(vad.adapt_count + 2);
  } else {
    vad.adapt_count = static_cast<std::int16_t>(vad.adapt_count - 1);
  }
  vad.adapt_count = std::clamp<std::int16_t>(vad.adapt_count, 0, kMaxAdaptCount);

  const std::int32_t energy = inverse_filtered_energy(frame, vad.noise_lpc, kernels);

  if (vad.noise_level > vad.prev_energy) {
    vad.noise_level = add32(sub32(vad.prev_energy, shr32(vad.prev_energy, 2)), shr32(vad.noise_level, 2));
  }
  if (vad.adapt_count == 0) {
    vad.noise_level = add32(vad.noise_level, shr32(vad.noise_level, 5));
  } else {
    vad.noise_level = sub32(vad.noise_level, shr32(vad.noise_level, 11));
  }
  vad.prev_energy = energy;
  vad.noise_level = std::clamp(vad.noise_level, kMinNoiseLevel, kMaxNoiseLevel);

  if (energy >= speech_threshold(vad.noise_level)) {
    ++vad.voice_count;
    ++vad.hangover;
  } else if (vad.voice_count > 0) {
    --vad.voice_count;
  }

  // Hold the decision active for a while after sustained speech.
  if (vad.voice_count >= 2) {
    vad.hangover = kHangoverFrames;
    if (vad.voice_count >= 3) vad.voice_count = 3;
  }
  const bool active = vad.hangover != 0;
  if (active && vad.voice_count == 0) --vad.hangover;

  vad.lag_history[0] = vad.lag_history[2];
  vad.lag_history[1] = vad.lag_history[3];
  return active ? 1 : 0;
}

}  // namespace g7231
