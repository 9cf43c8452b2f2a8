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
  if (kExactFastPaths) {
    // strongest, r0 >= 0 and the levels are positive, so 2 level r0 (below 2^31) and its distance are plain
    // int32 arithmetic. The products rise strictly with the level (all tie at 0 for r0 = 0, keeping the top):
    // the nearest is the first level to reach strongest or the one below it, the higher on a tie.
    const auto product = [r0](std::int16_t i) {
      return 2 * std::int32_t{kFcbGainTable[static_cast<std::size_t>(i)]} * r0;
    };
    if (r0 == 0) return 21;
    std::int16_t k = 2;
    while (k <= 22 && product(k) < strongest) ++k;
    if (k > 22) return 21;
    if (k == 2) return 1;
    const bool below = strongest - product(static_cast<std::int16_t>(k - 1)) < product(k) - strongest;
    return static_cast<std::int16_t>(below ? k - 2 : k - 1);
  }
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
// largest_autocorr is max |autocorr[d]| for d >= 1; grid_work the grid's correlations slot by slot, then
// zeros, as the placement kernel starts from them.
using GridWork = decltype(MpmlqPlacement::work);
void place_pulses(MpmlqCandidate& cand, const Vector32& err, std::int64_t largest_err, const Vector& autocorr,
                  std::int32_t largest_autocorr, const GridWork& grid_work, MpmlqPlacement& placement,
                  std::size_t pulses, std::int16_t magnitude, const DspKernels& kernels) {
  const auto grid = static_cast<std::size_t>(cand.grid);
  const auto p0 = static_cast<std::size_t>(cand.positions[0]);
  // Each free position's value moves by at most 2 |magnitude| max|autocorr[d]| (d >= 1: a pulse is never
  // at the position it updates) for each of the pulses - 1 pulses after the first; where all of that stays
  // in the 32-bit range from the largest |err|, the msu32 steps cannot saturate (nor can abs32 meet -2^31)
  // and plain arithmetic gives them.
  const std::int64_t swing = 2 * static_cast<std::int64_t>(pulses - 1) * std::abs(std::int32_t{magnitude}) *
                             largest_autocorr;
  if (chain_within(largest_err, swing)) {
    // The grid's slots side by side. Every slot is updated, taken or not: a taken slot is never read
    // again, and its updates stay within the same bound; the strongest free slot is the first of the
    // largest magnitude, as the one-by-one comparison keeps it.
    placement.work = grid_work;
    placement.slots[0] = (p0 - grid) / 2;
    placement.amplitudes[0] = err[p0] >= 0 ? magnitude : negate16(magnitude);
    kernels.mpmlq_place_pulses(placement, pulses, magnitude);
    for (std::size_t j = 0; j < pulses; ++j) {
      cand.positions[j] = static_cast<std::int16_t>(grid + 2 * placement.slots[j]);
      cand.amplitudes[j] = placement.amplitudes[j];
    }
    return;
  }

  Vector32 work = err;
  std::array<bool, kSubframeSamples> occupied{};
  cand.amplitudes[0] = work[p0] >= 0 ? magnitude : negate16(magnitude);
  occupied[p0] = true;
  for (std::size_t j = 1; j < pulses; ++j) {
    std::int32_t strongest = kMpmlqNoCandidate;
    const auto prev = static_cast<std::size_t>(cand.positions[j - 1]);
    for (std::size_t l = grid; l < kSubframeSamples; l += 2) {
      if (occupied[l]) continue;
      const std::size_t distance = l > prev ? l - prev : prev - l;  // positions 0..59: no 16-bit edge cases
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

// Figure of merit 2<t, v> - <v, v> of the candidate's pulses filtered through r, whose largest |r[n]| is
// largest_r.
std::int32_t figure_of_merit(const MpmlqCandidate& cand, const MpmlqMeritInput& in, std::size_t pulses,
                             std::int32_t largest_r, const DspKernels& kernels) {
  const std::span<const std::int16_t, kSubframeSamples> target(in.target.data(), kSubframeSamples);
  const std::span<const std::int16_t, kSubframeSamples> r(in.r_line.data() + 64, kSubframeSamples);
  PaddedVector v;  // written by either path before it is read
  std::int32_t merit = 0;
  const std::int64_t magnitude = std::abs(std::int32_t{cand.amplitudes[0]});  // every pulse has it
  if (chain_within(0, 2 * static_cast<std::int64_t>(pulses) * magnitude * largest_r)) {
    // No partial sum of a sample's chain can saturate: the filtered pulses are plain sums, in any order.
    std::array<std::size_t, kMpmlqMaxPulses> positions;
    for (std::size_t j = 0; j < pulses; ++j) positions[j] = static_cast<std::size_t>(cand.positions[j]);
    if (kernels.mpmlq_merit(in, positions.data(), cand.amplitudes.data(), pulses, v, merit)) return merit;
  } else {
    // The pulses in increasing position. The filter sums over every earlier sample of the pulse vector,
    // but a zero sample adds nothing and cannot saturate, so summing over the pulses alone is the same.
    std::array<std::pair<std::size_t, std::int16_t>, kMpmlqMaxPulses> placed;
    for (std::size_t j = 0; j < pulses; ++j) placed[j] = {static_cast<std::size_t>(cand.positions[j]), cand.amplitudes[j]};
    std::sort(placed.begin(), placed.begin() + static_cast<std::ptrdiff_t>(pulses));
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      std::int32_t a = 0;
      for (std::size_t j = 0; j < pulses && placed[j].first <= n; ++j) a = mac32(a, placed[j].second, r[n - placed[j].first]);
      v[n] = extract_high(shl32(a, 2));
    }
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
                       std::span<const std::int16_t, kSubframeSamples> h, std::size_t pulses, std::int16_t period,
                       const DspKernels& kernels) {
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
  MpmlqMeritInput merit_input;
  std::ranges::copy(r, merit_input.r_line.begin() + 64);
  std::ranges::copy(target, merit_input.target.begin());
  merit_input.target_squares = target_squares;
  // Every lag's correlation at once where mac32_block's Cauchy-Schwarz bound holds for the whole vectors
  // (it then holds for the parts of them each lag sums): the lagged-correlation kernel's plain sums, doubled.
  Vector32 q_lagged{};
  const bool q_plain = products_within(q_squares, q_squares);
  if (q_plain) {
    std::array<std::int16_t, 128> q_line{};
    std::ranges::copy(q, q_line.begin() + 64);
    kernels.lagged_correlations(q_line.data() + 64, q_line.data() + 64, 64, kSubframeSamples, q_lagged.data());
  }
  Vector32 t_lagged{};
  const bool t_plain = products_within(target_squares, r_squares);
  if (t_plain) {
    kernels.lagged_correlations(merit_input.target.data(), merit_input.r_line.data() + 64, 64, kSubframeSamples,
                                t_lagged.data());
  }
  std::int32_t a = q_plain ? 2 * q_lagged[0] : mac32_block(q, q, q_squares, q_squares);
  const std::int16_t e = norm32(a);
  Vector autocorr;
  if (q_plain) {
    // By Cauchy-Schwarz no lag's sum exceeds the zero lag's in magnitude, and norm32 keeps that one's
    // shift within 32 bits, so shl32 is a plain shift.
    for (std::size_t i = 0; i < kSubframeSamples; ++i) {
      autocorr[i] = round32_to16_plain(static_cast<std::int32_t>(static_cast<std::uint32_t>(2 * q_lagged[i]) << e));
    }
  } else {
    autocorr[0] = round32_to16(shl32(a, e));
    for (std::size_t i = 1; i < kSubframeSamples; ++i) {
      a = mac32_block(std::span(q).subspan(i), std::span(q).first(kSubframeSamples - i), q_squares, q_squares);
      autocorr[i] = round32_to16(shl32(a, e));
    }
  }
  Vector32 err;
  const std::int16_t err_shift = sub16(e, 4);
  const std::int64_t largest_t = t_plain ? largest_abs32(t_lagged) : 0;  // plain sums: none is -2^31
  if (t_plain && err_shift <= 0) {
    // A right shift never saturates: shr32 by at most 4 is the arithmetic shift.
    for (std::size_t i = 0; i < kSubframeSamples; ++i) err[i] = (2 * t_lagged[i]) >> -err_shift;
  } else if (t_plain && (2 * largest_t << err_shift) <= kMax32) {
    // No doubled correlation leaves the 32-bit range when shifted: shl32 is a plain shift.
    for (std::size_t i = 0; i < kSubframeSamples; ++i) {
      err[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(2 * t_lagged[i]) << err_shift);
    }
  } else {
    for (std::size_t i = 0; i < kSubframeSamples; ++i) {
      const std::int32_t b = t_plain ? 2 * t_lagged[i]
                                     : mac32_block(target.subspan(i), std::span(r).first(kSubframeSamples - i),
                                                   target_squares, r_squares);
      err[i] = shl32(b, err_shift);
    }
  }

  const std::int64_t largest_err = largest_magnitude32(err);
  MpmlqPlacement placement;
  // Slot distance d at kGridSlots - 1 +- d: the autocorrelation two samples per slot apart, none at d = 0.
  placement.slot_autocorr[kGridSlots - 1] = 0;
  for (std::size_t d = 1; d < kGridSlots; ++d) {
    placement.slot_autocorr[kGridSlots - 1 - d] = autocorr[2 * d];
    placement.slot_autocorr[kGridSlots - 1 + d] = autocorr[2 * d];
  }
  std::array<GridWork, 2> grid_work{};
  for (std::size_t i = 0; i < kGridSlots; ++i) {
    grid_work[0][i] = err[2 * i];
    grid_work[1][i] = err[2 * i + 1];
  }
  // These are the same for every candidate of this search.
  const std::int32_t largest_autocorr = largest_magnitude(std::span(autocorr).subspan(1));
  const std::int32_t largest_r = largest_magnitude(r);

  for (std::int16_t g = 0; g < 2; ++g) {
    cand.grid = g;
    // The first pulse goes where the correlation is strongest (ties to the later position).
    std::int32_t strongest = 0;
    if (kExactFastPaths) {
      // The largest abs32 over the grid's slots first (a reduction that vectorises), then the last slot
      // holding it: the one the one-by-one ">=" comparison ends on.
      const GridWork& w = grid_work[static_cast<std::size_t>(g)];
      strongest = largest_abs32(std::span(w).first(kGridSlots));
      std::size_t at = kGridSlots - 1;
      while (abs32(w[at]) != strongest) --at;
      cand.positions[0] = static_cast<std::int16_t>(g + 2 * static_cast<std::int16_t>(at));
    } else {
      for (auto i = static_cast<std::size_t>(g); i < kSubframeSamples; i += 2) {
        if (abs32(err[i]) >= strongest) {
          strongest = abs32(err[i]);
          cand.positions[0] = static_cast<std::int16_t>(i);
        }
      }
    }
    const std::int16_t lvl = estimate_level(strongest, autocorr[0]);

    for (std::int16_t step = 1; step <= 2 * kMpmlqGainSteps; ++step) {
      cand.gain_index = static_cast<std::int16_t>(lvl - kMpmlqGainSteps + step);
      place_pulses(cand, err, largest_err, autocorr, largest_autocorr, grid_work[static_cast<std::size_t>(g)],
                   placement, pulses, kFcbGainTable[static_cast<std::size_t>(cand.gain_index)], kernels);
      cand.error = figure_of_merit(cand, merit_input, pulses, largest_r, kernels);
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
                           std::int16_t lag, const DspKernels& kernels) {
  MpmlqCandidate best = mpmlq_initial_candidate(pulses);
  mpmlq_best_search(best, vector, h, pulses, static_cast<std::int16_t>(kSubframeSamples), kernels);
  if (lag < kShortLagLimit) mpmlq_best_search(best, vector, h, pulses, lag, kernels);

  std::ranges::fill(vector, std::int16_t{0});  // the target is no longer needed
  for (std::size_t j = 0; j < pulses; ++j) vector[static_cast<std::size_t>(best.positions[j])] = best.amplitudes[j];
  mpmlq_encode_positions(vector, sub, best, pulses);
  // The excitation as a receiver builds it from the code (the same pulses, repeated when the winner uses
  // the pulse train).
  build_mpmlq_excitation(vector, sub, pulses, lag);
}

}  // namespace g7231
