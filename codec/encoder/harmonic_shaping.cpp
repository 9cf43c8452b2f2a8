#include "codec/encoder/harmonic_shaping.h"

#include <algorithm>
#include <array>

#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::int16_t kHarmonicGainScale = 10240;  // 0.3125 in Q15: scale and upper bound of the gain
constexpr std::int16_t kSearchHalfWidth = 3;        // lags within 3 of the open-loop lag
constexpr std::size_t kCandidates = 2 * kSearchHalfWidth + 1;

}  // namespace

HarmonicWeighting estimate_harmonic_weighting(std::span<const std::int16_t, kPitchBufferLength> buf,
                                              std::size_t pos, std::int16_t olp, const DspKernels& kernels) {
  // v[0]: subframe energy; v[2i+1], v[2i+2]: energy of and correlation with candidate i's segment.
  std::array<std::int32_t, 2 * kCandidates + 1> v{};
  const auto subframe = buf.subspan(pos, kSubframeSamples);
  const std::int64_t subframe_squares = sum_of_squares(subframe);
  v[0] = mac32_block(subframe, subframe, subframe_squares, subframe_squares);
  // The candidates' correlations with the subframe all at once (plain sums, used only where
  // mac32_block's bound holds); the subframe padded with zeros to the kernel's multiple of 8.
  const std::size_t newest = pos - static_cast<std::size_t>(olp - kSearchHalfWidth);
  std::array<std::int16_t, kSubframeSamples + 4> padded{};
  std::ranges::copy(subframe, padded.begin());
  std::array<std::int32_t, kCandidates> plain{};
  kernels.lagged_correlations(padded.data(), buf.data() + newest, padded.size(), kCandidates, plain.data());
  std::int64_t segment_squares = sum_of_squares(buf.subspan(newest, kSubframeSamples));
  for (std::size_t i = 0; i < kCandidates; ++i) {
    const auto segment = buf.subspan(newest - i, kSubframeSamples);
    if (i > 0) {
      // The window one sample earlier: exact integer sums, slid.
      const std::int32_t leaving = buf[newest - i + kSubframeSamples];
      segment_squares += std::int32_t{segment[0]} * segment[0] - leaving * leaving;
    }
    // mac32_block's plain path gives 2 sum(x^2) and 2 sum(x y) where its bound holds.
    v[2 * i + 1] = products_within(segment_squares, segment_squares)
                       ? static_cast<std::int32_t>(2 * segment_squares)
                       : mac32_block(segment, segment, segment_squares, segment_squares);
    v[2 * i + 2] = products_within(subframe_squares, segment_squares)
                       ? 2 * plain[i]
                       : mac32_block(subframe, segment, subframe_squares, segment_squares);
  }

  std::int32_t largest = 0;
  for (std::int32_t x : v) largest = std::max(largest, abs32(x));
  const std::int16_t e = norm32(largest);
  std::array<std::int16_t, 2 * kCandidates + 1> s{};
  if (kExactFastPaths) {
    // abs32(v[n]) <= largest and largest << e < 2^31 (e = 0 where a sum is -2^31), so shl32 is the plain
    // shift; round32_to16 saturates (to 32767) only from 0x7FFF8000 up.
    for (std::size_t n = 0; n < v.size(); ++n) {
      const std::int64_t scaled = std::int64_t{v[n]} * (std::int64_t{1} << e);
      s[n] = static_cast<std::int16_t>(std::min<std::int64_t>((scaled + 0x8000) >> 16, kMax16));
    }
  } else {
    for (std::size_t n = 0; n < v.size(); ++n) s[n] = round32_to16(shl32(v[n], e));
  }

  // The largest cr^2 / en wins; a tie keeps the shorter lag.
  int best = -1;
  std::int16_t best_corr = 1;
  std::int16_t best_energy = 0x7FFF;
  for (std::size_t i = 0; i < kCandidates; ++i) {
    const std::int16_t en = s[2 * i + 1];
    const std::int16_t cr = s[2 * i + 2];
    if (cr <= 0) continue;
    const std::int16_t t = mult16_round(cr, cr);
    if (msu32(mult32_16x16(t, best_energy), en, best_corr) > 0) {
      best_corr = t;
      best_energy = en;
      best = static_cast<int>(i);
    }
  }
  if (best < 0) return {olp, 0};

  // Shaping only when R^2 > 0.375 E0 EL (a quarter plus an eighth).
  const std::int16_t k = s[2 * static_cast<std::size_t>(best) + 2];
  std::int32_t a = mult32_16x16(s[0], best_energy);
  a = add32(shr32(a, 2), shr32(a, 3));
  a = sub32(a, mult32_16x16(k, k));
  std::int16_t gain = 0;
  if (a < 0) {
    gain = k >= best_energy ? kHarmonicGainScale : mult16_round(div16(k, best_energy), kHarmonicGainScale);
  }
  return {static_cast<std::int16_t>(olp - kSearchHalfWidth + best), gain};
}

void apply_harmonic_weighting(std::span<std::int16_t, kFrameSamples> out,
                              std::span<const std::int16_t, kPitchBufferLength> buf, std::size_t start,
                              HarmonicWeighting hw) {
  const std::size_t base = kPitchBufferLength - kFrameSamples + start;  // the subframe's first sample
  const std::int16_t* x = buf.data() + base;
  const std::int16_t* past = x - static_cast<std::size_t>(hw.lag);
  std::int16_t* y = out.data() + start;
  if (kExactFastPaths && hw.gain >= -16383 && hw.gain <= 16384) {
    // round32_to16(msu32(deposit_high(x), g, v)) = saturate16(x + t), t = (h v + 2^15) >> 16 with h = -2g
    // (a 16-bit value here): the high half of h v plus bit 15 of its low half, then a 16-bit sum whose
    // wrap-around is replaced by the saturated value. All in 16 bits, which vectorises.
    const auto h = static_cast<std::int16_t>(-2 * hw.gain);
    for (std::size_t i = 0; i < kSubframeSamples; ++i) {
      const auto high = static_cast<std::int16_t>((std::int32_t{h} * past[i]) >> 16);
      const auto low = static_cast<std::int16_t>(h * past[i]);
      const auto t = static_cast<std::int16_t>(high - (low >> 15));
      const auto sum = static_cast<std::int16_t>(x[i] + t);
      const bool wrapped = ((x[i] ^ sum) & (t ^ sum)) < 0;
      y[i] = wrapped ? static_cast<std::int16_t>((x[i] >> 15) ^ kMax16) : sum;
    }
    return;
  }
  for (std::size_t i = 0; i < kSubframeSamples; ++i) y[i] = round32_to16(msu32(deposit_high(x[i]), hw.gain, past[i]));
}

}  // namespace g7231
