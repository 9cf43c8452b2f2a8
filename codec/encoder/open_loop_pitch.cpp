#include "codec/encoder/open_loop_pitch.h"

#include <array>

#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::size_t kCorrelationLength = 120;
constexpr std::int16_t kHighestLag = kPitchMax - 3;  // lags 143..145 are never returned
constexpr std::int16_t kShorterLagMargin = 18;       // a lag this much longer must be better by 4/3

}  // namespace

std::int16_t estimate_open_loop_pitch(std::span<const std::int16_t, kPitchBufferLength> buf, std::size_t start,
                                      const DspKernels& kernels) {
  // Energy of the segment one lag shorter than the first candidate, updated incrementally per lag.
  std::int16_t p = static_cast<std::int16_t>(start - (kPitchMin - 1));
  std::int32_t energy = 0;
  for (std::size_t j = 0; j < kCorrelationLength; ++j) energy = mac32(energy, buf[p + j], buf[p + j]);

  // Exact sums of squares of the half-frame and of the lagged segment, which tell when the correlation
  // can be summed without saturation.
  const auto half_frame = buf.subspan(start, kCorrelationLength);
  const std::int64_t frame_squares = sum_of_squares(half_frame);
  std::int64_t lagged_squares = sum_of_squares(buf.subspan(static_cast<std::size_t>(p), kCorrelationLength));

  // Best candidate so far: its value is best_corr / best_energy * 2^-best_exp.
  std::int16_t best_lag = kPitchMin;
  std::int16_t best_exp = 30;
  std::int16_t best_corr = 0x4000;
  std::int16_t best_energy = 0x7FFF;

  // Lagged segments whose sum of squares is at most plain_limit satisfy the Cauchy-Schwarz bound with the
  // half-frame (products_within): their correlation is the plain sum, computed here for every lag.
  const std::int64_t plain_limit = squares_limit(frame_squares);
  constexpr std::size_t kLags = kHighestLag - kPitchMin + 1;
  std::array<std::int32_t, kLags> plain;
  kernels.lagged_correlations(half_frame.data(), buf.data() + start - kPitchMin, kCorrelationLength, kLags, plain.data());

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
    if (r <= 0) continue;

    // Squared correlation and energy as mantissas with a common exponent.
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

}  // namespace g7231
