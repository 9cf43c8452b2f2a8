#include "codec/encoder/open_loop_pitch.h"

#include <algorithm>
#include <array>

#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::size_t kCorrelationLength = 120;
constexpr std::int16_t kHighestLag = kPitchMax - 3;  // lags 143..145 are never returned
constexpr std::int16_t kShorterLagMargin = 18;       // a lag this much longer must be better by 4/3
constexpr std::size_t kLags = kHighestLag - kPitchMin + 1;

// The score of correlation r > 0 against energy: norm32, shl32, round32_to16, mult32_16x16 and the common
// exponent step by step.
PitchLagScore score_lag(std::int16_t lag, std::int32_t r, std::int32_t energy) {
  const std::int16_t e = norm32(r);
  const std::int16_t m = round32_to16(shl32(r, e));
  std::int16_t x = shl16(e, 1);
  std::int32_t a = mult32_16x16(m, m);
  const std::int16_t e2 = norm32(a);
  a = shl32(a, e2);
  x = add16(x, e2);
  std::int16_t cc = extract_high(a);

  const std::int16_t e3 = norm32(energy);
  const std::int16_t en = round32_to16(shl32(energy, e3));
  x = sub16(x, e3);
  if (cc >= en) {
    x = sub16(x, 1);
    cc = shr16(cc, 1);
  }
  return {lag, x, cc, en};
}

// The search's comparison of the candidates in increasing lag order: the highest cc / en * 2^-x wins, a
// tie keeps the shorter lag, and a lag kShorterLagMargin or more above the best so far must beat it by 4/3.
// Without a candidate the search returns the shortest lag.
std::int16_t best_lag(std::span<const PitchLagScore> candidates) {
  std::int16_t best_lag = kPitchMin;
  std::int16_t best_exp = 30;
  std::int16_t best_corr = 0x4000;
  std::int16_t best_energy = 0x7FFF;
  for (const auto& [lag, x, cc, en] : candidates) {
    if (x > best_exp) continue;
    if (x + 1 >= best_exp) {
      // Same or next exponent: compare the mantissas.
      const std::int16_t t = (x + 1 == best_exp) ? shr16(best_corr, 1) : best_corr;
      std::int32_t d = msu32(mult32_16x16(cc, best_energy), en, t);
      if (d <= 0) continue;
      if (lag - best_lag >= kShorterLagMargin) {
        // 0.75 cc * best_energy must exceed en * t.
        d = mult32_16x16(cc, best_energy);
        d = negate32(shr32(d, 2));
        d = mac32(d, cc, best_energy);
        d = msu32(d, en, t);
        if (d <= 0) continue;
      }
    }
    best_lag = lag;
    best_exp = x;
    best_corr = cc;
    best_energy = en;
  }
  return best_lag;
}

}  // namespace

std::int16_t estimate_open_loop_pitch(std::span<const std::int16_t, kPitchBufferLength> buf, std::size_t start,
                                      const DspKernels& kernels) {
  // Exact sums of squares of the half-frame and of the lagged segment, which tell when the correlation
  // and the energy can be summed without saturation.
  const auto half_frame = buf.subspan(start, kCorrelationLength);
  const std::int64_t frame_squares = sum_of_squares(half_frame);
  // The segment one lag shorter than the first candidate; its sums are updated incrementally per lag.
  std::int16_t p = static_cast<std::int16_t>(start - (kPitchMin - 1));
  std::int64_t lagged_squares = sum_of_squares(buf.subspan(static_cast<std::size_t>(p), kCorrelationLength));

  // Lagged segments whose sum of squares is at most plain_limit satisfy the Cauchy-Schwarz bound with the
  // half-frame (products_within): their correlation is the plain sum, computed here for every lag.
  const std::int64_t plain_limit = squares_limit(frame_squares);
  std::array<std::int32_t, kLags> plain;
  kernels.lagged_correlations(half_frame.data(), buf.data() + start - kPitchMin, kCorrelationLength, kLags, plain.data());

  // Only lags with a positive correlation can win. They are gathered without a branch on the
  // correlation's sign, which follows the signal and is hard to predict, and then scored and compared.
  std::array<std::int16_t, kLags> candidate_lag;
  std::array<std::int32_t, kLags> candidate_corr;
  std::array<std::int32_t, kLags> candidate_energy;
  std::size_t count = 0;

  // Every segment lies within this region. The energy is a chain of mac32 steps, then one msu32 and one
  // mac32 per lag, whose partial sums are twice sums of squares within the region: when twice the
  // region's fits in 32 bits (which also rules out the one saturating square, (-32768)^2), the energy is
  // exactly 2 lagged_squares, and when the region's is within plain_limit, so is every segment's.
  const auto region = buf.subspan(start - kHighestLag, kHighestLag - kPitchMin + 1 + kCorrelationLength);
  const std::int64_t region_squares = kExactFastPaths ? sum_of_squares(region) : 0;
  if (kExactFastPaths && 2 * region_squares <= kMax32 && region_squares <= plain_limit) {
    auto squares = static_cast<std::int32_t>(lagged_squares);
    for (std::size_t i = 0; i < kLags; ++i) {
      const std::int32_t entering = buf[static_cast<std::size_t>(p) - 1 - i];
      const std::int32_t leaving = buf[static_cast<std::size_t>(p) - 1 - i + kCorrelationLength];
      squares += entering * entering - leaving * leaving;
      candidate_lag[count] = static_cast<std::int16_t>(kPitchMin + i);
      candidate_corr[count] = 2 * plain[i];
      candidate_energy[count] = 2 * squares;
      count += plain[i] > 0 ? 1 : 0;
    }
  } else {
    std::int32_t energy = 0;
    for (std::size_t j = 0; j < kCorrelationLength; ++j) energy = mac32(energy, buf[p + j], buf[p + j]);
    for (std::int16_t lag = kPitchMin; lag <= kHighestLag; ++lag) {
      p = sub16(p, 1);
      energy = msu32(energy, buf[p + kCorrelationLength], buf[p + kCorrelationLength]);
      energy = mac32(energy, buf[p], buf[p]);
      lagged_squares += std::int32_t{buf[p]} * buf[p] -
                        std::int32_t{buf[p + kCorrelationLength]} * buf[p + kCorrelationLength];
      const std::int32_t r = lagged_squares <= plain_limit
                                 ? 2 * plain[static_cast<std::size_t>(lag - kPitchMin)]
                                 : mac32_block(half_frame, buf.subspan(static_cast<std::size_t>(p), kCorrelationLength),
                                               frame_squares, lagged_squares);
      candidate_lag[count] = lag;
      candidate_corr[count] = r;
      candidate_energy[count] = energy;
      count += r > 0 ? 1 : 0;
    }
  }

  // The kernel's branch-free scores are the operator sequence's wherever the energies are >= 0, as exact
  // energies always are; a saturated chain's may not be.
  std::array<PitchLagScore, kLags> scores;
  if (kExactFastPaths && std::all_of(candidate_energy.begin(), candidate_energy.begin() + count, [](std::int32_t e) { return e >= 0; })) {
    kernels.score_pitch_lags(candidate_lag.data(), candidate_corr.data(), candidate_energy.data(), count, scores.data());
  } else {
    for (std::size_t k = 0; k < count; ++k) scores[k] = score_lag(candidate_lag[k], candidate_corr[k], candidate_energy[k]);
  }
  return best_lag(std::span(scores).first(count));
}

}  // namespace g7231
