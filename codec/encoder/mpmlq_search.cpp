#include "codec/encoder/mpmlq_search.h"

#include <algorithm>
#include <cstdlib>

#include "codec/tables/fixed_codebook_tables.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

using Vector = std::array<std::int16_t, kSubframeSamples>;
using Vector32 = std::array<std::int32_t, kSubframeSamples>;

// The level whose energy through the response best matches the strongest correlation, less one.
std::int16_t estimate_level(std::int32_t strongest, std::int16_t r0) {
  std::int32_t dist = 0x40000000;
  std::int16_t lvl = 22;
  for (std::int16_t i = 22; i >= 2; --i) {
    const std::int32_t d = abs32(sub32(mult32_16x16(kFcbGainTable[static_cast<std::size_t>(i)], r0), strongest));
    if (d < dist) {
      dist = d;
      lvl = i;
    }
  }
  return static_cast<std::int16_t>(lvl - 1);
}

// Places the pulses one at a time against the correlation left by those already placed.
void place_pulses(MpmlqCandidate& cand, const Vector32& err, const Vector& autocorr, std::size_t pulses,
                  std::int16_t magnitude) {
  Vector32 work = err;
  std::array<bool, kSubframeSamples> occupied{};
  const auto grid = static_cast<std::size_t>(cand.grid);

  const auto p0 = static_cast<std::size_t>(cand.positions[0]);
  cand.amplitudes[0] = work[p0] >= 0 ? magnitude : negate16(magnitude);
  occupied[p0] = true;
  // Each free position's value moves by at most 2 |magnitude| max|autocorr[d]| (d >= 1: a pulse is never
  // at the position it updates) for each of the pulses - 1 pulses after the first; where all of that stays
  // in the 32-bit range from the largest |err|, the msu32 steps cannot saturate (nor can abs32 meet -2^31)
  // and plain arithmetic gives them.
  std::int64_t largest_err = 0;
  for (std::int32_t v : err) largest_err = std::max<std::int64_t>(largest_err, std::abs(std::int64_t{v}));
  const std::int64_t swing = 2 * static_cast<std::int64_t>(pulses - 1) * std::abs(std::int32_t{magnitude}) *
                             largest_magnitude(std::span(autocorr).subspan(1));
  const bool plain = chain_within(largest_err, swing);
  for (std::size_t j = 1; j < pulses; ++j) {
    std::int32_t strongest = kMpmlqNoCandidate;
    const auto prev = static_cast<std::size_t>(cand.positions[j - 1]);
    const std::int32_t amp = cand.amplitudes[j - 1];
    for (std::size_t l = grid; l < kSubframeSamples; l += 2) {
      if (occupied[l]) continue;
      const std::size_t distance = l > prev ? l - prev : prev - l;  // positions 0..59: no 16-bit edge cases
      if (plain) {
        work[l] -= 2 * amp * autocorr[distance];
        if (std::abs(work[l]) > strongest) {
          strongest = std::abs(work[l]);
          cand.positions[j] = static_cast<std::int16_t>(l);
        }
        continue;
      }
      work[l] = msu32(work[l], cand.amplitudes[j - 1], autocorr[distance]);
      if (abs32(work[l]) > strongest) {
        strongest = abs32(work[l]);
        cand.positions[j] = static_cast<std::int16_t>(l);
      }
    }
    const auto pj = static_cast<std::size_t>(cand.positions[j]);
    cand.amplitudes[j] = work[pj] >= 0 ? magnitude : negate16(magnitude);
    occupied[pj] = true;
  }
}

// Figure of merit 2<t, v> - <v, v> of the candidate's pulses filtered through r.
std::int32_t figure_of_merit(const MpmlqCandidate& cand, std::span<const std::int16_t, kSubframeSamples> target,
                             const Vector& r, std::size_t pulses) {
  // The pulses in increasing position. The filter sums over every earlier sample of the pulse vector,
  // but a zero sample adds nothing and cannot saturate, so summing over the pulses alone is the same.
  std::array<std::pair<std::size_t, std::int16_t>, kMpmlqMaxPulses> placed;
  for (std::size_t j = 0; j < pulses; ++j) placed[j] = {static_cast<std::size_t>(cand.positions[j]), cand.amplitudes[j]};
  std::sort(placed.begin(), placed.begin() + static_cast<std::ptrdiff_t>(pulses));
  Vector v{};
  const std::int64_t magnitude = std::abs(std::int32_t{cand.amplitudes[0]});  // every pulse has it
  if (chain_within(0, 2 * static_cast<std::int64_t>(pulses) * magnitude * largest_magnitude(r))) {
    // No partial sum of a sample's chain can saturate: the filtered pulses are plain sums, and
    // extract_high(shl32(2 acc, 2)) is the top half of 8 acc clipped to 32 bits.
    Vector32 acc{};
    for (std::size_t j = 0; j < pulses; ++j) {
      const std::int32_t amp = placed[j].second;
      for (std::size_t n = placed[j].first; n < kSubframeSamples; ++n) acc[n] += amp * r[n - placed[j].first];
    }
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      v[n] = static_cast<std::int16_t>(std::clamp<std::int64_t>(8 * std::int64_t{acc[n]}, kMin32, kMax32) >> 16);
    }
  } else {
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      std::int32_t a = 0;
      for (std::size_t j = 0; j < pulses && placed[j].first <= n; ++j) a = mac32(a, placed[j].second, r[n - placed[j].first]);
      v[n] = extract_high(shl32(a, 2));
    }
  }
  // The merit's chain moves by at most sum(2 |t v| + v^2); where that fits in 32 bits (and no v is -32768,
  // whose saturated square would differ) the plain sum is its value.
  std::int64_t swing = 0;
  bool full_scale = false;
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    const std::int64_t vn = v[n];
    swing += 2 * std::abs(std::int64_t{target[n]} * vn) + vn * vn;
    full_scale |= v[n] == kMin16;
  }
  if (!full_scale && chain_within(0, swing)) {
    std::int64_t e = 0;
    for (std::size_t n = 0; n < kSubframeSamples; ++n) e += 2 * std::int64_t{target[n]} * v[n] - std::int64_t{v[n]} * v[n];
    return static_cast<std::int32_t>(e);
  }
  std::int32_t e = 0;
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    e = mac32(e, target[n], v[n]);
    e = sub32(e, shr32(mult32_16x16(v[n], v[n]), 1));
  }
  return e;
}

}  // namespace

MpmlqCandidate mpmlq_initial_candidate(std::size_t pulses) {
  MpmlqCandidate c;
  for (std::size_t j = 0; j < pulses; ++j) {
    c.positions[j] = static_cast<std::int16_t>(2 * j);
    c.amplitudes[j] = kFcbGainTable[0];
  }
  return c;
}

void mpmlq_best_search(MpmlqCandidate& best, std::span<const std::int16_t, kSubframeSamples> target,
                       std::span<const std::int16_t, kSubframeSamples> h, std::size_t pulses, std::int16_t period) {
  MpmlqCandidate cand;
  Vector r;
  if (period < kShortLagLimit) {
    cand.pulse_train = 1;
    mpmlq_pulse_train(r, h, period);
  } else {
    cand.pulse_train = 0;
    std::ranges::copy(h, r.begin());
  }

  // Normalised autocorrelation of the halved response, and its correlation with the target.
  Vector q;
  for (std::size_t n = 0; n < kSubframeSamples; ++n) q[n] = shr16(r[n], 1);
  const std::int64_t q_squares = sum_of_squares(q);
  const std::int64_t r_squares = sum_of_squares(r);
  const std::int64_t target_squares = sum_of_squares(target);
  std::int32_t a = mac32_block(q, q, q_squares, q_squares);
  const std::int16_t e = norm32(a);
  Vector autocorr;
  autocorr[0] = round32_to16(shl32(a, e));
  for (std::size_t i = 1; i < kSubframeSamples; ++i) {
    a = mac32_block(std::span(q).subspan(i), std::span(q).first(kSubframeSamples - i), q_squares, q_squares);
    autocorr[i] = round32_to16(shl32(a, e));
  }
  Vector32 err;
  for (std::size_t i = 0; i < kSubframeSamples; ++i) {
    const std::int32_t b =
        mac32_block(target.subspan(i), std::span(r).first(kSubframeSamples - i), target_squares, r_squares);
    err[i] = shl32(b, sub16(e, 4));
  }

  for (std::int16_t g = 0; g < 2; ++g) {
    cand.grid = g;
    // The first pulse goes where the correlation is strongest (ties to the later position).
    std::int32_t strongest = 0;
    for (auto i = static_cast<std::size_t>(g); i < kSubframeSamples; i += 2) {
      if (abs32(err[i]) >= strongest) {
        strongest = abs32(err[i]);
        cand.positions[0] = static_cast<std::int16_t>(i);
      }
    }
    const std::int16_t lvl = estimate_level(strongest, autocorr[0]);

    for (std::int16_t step = 1; step <= 2 * kMpmlqGainSteps; ++step) {
      cand.gain_index = static_cast<std::int16_t>(lvl - kMpmlqGainSteps + step);
      place_pulses(cand, err, autocorr, pulses, kFcbGainTable[static_cast<std::size_t>(cand.gain_index)]);
      cand.error = figure_of_merit(cand, target, r, pulses);
      if (cand.error > best.error) best = cand;
    }
  }
}

void mpmlq_encode_positions(std::span<const std::int16_t, kSubframeSamples> excitation, SubframeParams& sub,
                            const MpmlqCandidate& best, std::size_t pulses) {
  std::size_t row = kMpmlqMaxPulses - pulses;
  std::int16_t signs = 0;
  std::int32_t positions = 0;
  for (std::size_t i = 0; i < kGridSlots; ++i) {
    const std::int16_t x = excitation[static_cast<std::size_t>(best.grid) + 2 * i];
    if (x == 0) {
      positions = add32(positions, kPositionCombTable[row][i]);
      continue;
    }
    signs = shl16(signs, 1);
    if (x < 0) signs = add16(signs, 1);
    if (++row == kMpmlqMaxPulses) break;  // no empty slot after the last pulse counts
  }
  sub.signs = signs;
  sub.positions = positions;
  sub.fcb_gain_index = best.gain_index;
  sub.grid = best.grid;
  sub.pulse_train = best.pulse_train;
}

void mpmlq_encode_subframe(std::span<std::int16_t, kSubframeSamples> vector,
                           std::span<const std::int16_t, kSubframeSamples> h, SubframeParams& sub, std::size_t pulses,
                           std::int16_t lag) {
  MpmlqCandidate best = mpmlq_initial_candidate(pulses);
  mpmlq_best_search(best, vector, h, pulses, static_cast<std::int16_t>(kSubframeSamples));
  if (lag < kShortLagLimit) mpmlq_best_search(best, vector, h, pulses, lag);

  std::ranges::fill(vector, std::int16_t{0});  // the target is no longer needed
  for (std::size_t j = 0; j < pulses; ++j) vector[static_cast<std::size_t>(best.positions[j])] = best.amplitudes[j];
  mpmlq_encode_positions(vector, sub, best, pulses);
  // The excitation as a receiver builds it from the code (the same pulses, repeated when the winner uses
  // the pulse train).
  build_mpmlq_excitation(vector, sub, pulses, lag);
}

}  // namespace g7231
