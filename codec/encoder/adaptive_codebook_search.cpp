#include "codec/encoder/adaptive_codebook_search.h"

#include <algorithm>
#include <array>

#include "codec/encoder/excitation_taming.h"
#include "codec/encoder/training_hooks.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::size_t kCorrelations = 20;  // per candidate, in the layout of a gain entry
constexpr std::size_t kMaxCandidates = 4;

// Even subframes search at most up to one above this base lag, so that the odd partner's window (up to
// two above the even subframe's lag) stays within the lags the excitation history serves (up to 143).
constexpr std::int16_t kMaxEvenBaseLag = 140;

// Gain entries open to the search whatever the taming estimates, and how many more each step of the
// taming limit opens, in the 85-entry and the 170-entry table.
constexpr std::size_t kTamedEntries85 = 51;
constexpr std::int16_t kTamingStepLog2_85 = 2;
constexpr std::size_t kTamedEntries170 = 93;
constexpr std::int16_t kTamingStepLog2_170 = 3;

using Vector = std::array<std::int16_t, kSubframeSamples>;

}  // namespace

void search_adaptive_codebook(std::span<std::int16_t, kSubframeSamples> target,
                              std::span<const std::int16_t, kSubframeSamples> h, const G7231Encoder& enc,
                              FrameParams& params, std::size_t s) {
  const bool low_rate = enc.low_rate != 0;
  const TableSet& tables = *enc.tables;
  const bool odd = (s & 1) != 0;
  std::int16_t& pair_lag = params.olp_lag[s / 2];

  // Candidates around the base lag: B-1..B+1 for even subframes, B-1..B+2 for odd ones.
  std::int16_t base = pair_lag;
  if (!odd && base == kPitchMin) base = kPitchMin + 1;
  if (!odd && base > kMaxEvenBaseLag) base = kMaxEvenBaseLag;
  const std::size_t candidates = odd ? 4 : 3;

  const DspKernels& kernels = *enc.kernels;
  alignas(32) PaddedVector x{};
  std::ranges::copy(target, x.begin());
  const std::int64_t x_squares = sum_of_squares(x);
  const std::int64_t h_squares = sum_of_squares(h);
  std::array<std::int32_t, kCorrelations * kMaxCandidates> c;  // the first `candidates` twenties written
  std::array<std::array<std::int16_t, kLaggedExcitationSamples>, kMaxCandidates> bufs;
  for (std::size_t j = 0; j < candidates; ++j) {
    fetch_lagged_excitation(bufs[j], enc.excitation_history, static_cast<std::int16_t>(base + j - 1));
  }
  kernels.pitch_candidate_correlations(std::span(bufs).first(candidates), h, h_squares, x, x_squares, c);

  // Common scaling of every candidate's correlations.
  const std::size_t used = kCorrelations * candidates;
  std::array<std::int16_t, kCorrelations * kMaxCandidates> g;
  kernels.pitch_scale_correlations(std::span(c).first(used), std::span(g).first(used));

  // Taming bounds how far into each table the search may go.
  const std::int16_t limit = taming_gain_limit(static_cast<std::int16_t>(base - 1),
                                               static_cast<std::int16_t>(base + 1 + (odd ? 1 : 0)),
                                               enc.taming_error, enc.sine_detector);
  const std::size_t entries85 = std::min(
      kAcbShortLagEntries, static_cast<std::size_t>(shl16(limit, kTamingStepLog2_85)) + kTamedEntries85);
  const std::size_t entries170 =
      std::min(kAcbEntries, static_cast<std::size_t>(shl16(limit, kTamingStepLog2_170)) + kTamedEntries170);

  // The largest criterion wins; ties keep the earlier candidate, then the earlier entry.
  GainSearchBest best;
  std::size_t best_candidate = 1;
  // The table follows the candidate lag in even subframes and the base lag in odd ones.
  const auto table_lag = [&](std::size_t j) { return static_cast<std::int16_t>(odd ? base : base + j - 1); };
  const auto short_lag_table = [&](std::size_t j) { return uses_short_lag_tables(low_rate, table_lag(j)); };
  for (std::size_t j = 0; j < candidates; ++j) {
    const bool short_table = short_lag_table(j);
    const std::span<const AcbGainEntry> table = acb_gain_table(tables, low_rate, table_lag(j));
    const AcbGainSearchTable search_table =
        short_table ? AcbGainSearchTable{table.front().data(), tables.acb_blocks85.data(), tables.acb_squares85.data(),
                                         tables.acb_magnitudes85.data()}
                    : AcbGainSearchTable{table.front().data(), tables.acb_blocks170.data(), tables.acb_squares170.data(),
                                         tables.acb_magnitudes170.data()};
    const std::size_t entries = short_table ? entries85 : entries170;
    const auto gj = std::span<const std::int16_t>(g).subspan(kCorrelations * j).first<kCorrelations>();
    best.found = false;
    kernels.pitch_gain_search(gj, search_table, entries, best);
    if (best.found) best_candidate = j;
  }
  const std::size_t best_entry = best.entry;

#if defined(G7231_TRAINING_HOOKS)
  training::PitchSearchRecord record{std::span(g).first(used), candidates, {}, entries85, entries170,
                                     best_candidate, best_entry};
  for (std::size_t j = 0; j < candidates; ++j) record.short_lag_table[j] = short_lag_table(j);
  training::observe_pitch_search(record);
#endif

  SubframeParams& sub = params.sub[s];
  if (odd) {
    sub.lag_delta = static_cast<std::int16_t>(best_candidate);
  } else {
    pair_lag = static_cast<std::int16_t>(base + best_candidate - 1);
    sub.lag_delta = 1;
  }
  sub.acb_gain_index = static_cast<std::int16_t>(best_entry);

  // Remove the filtered predictor output from the target.
  Vector v;
  decode_adaptive_codebook(tables, v, enc.excitation_history, pair_lag, sub.lag_delta, sub.acb_gain_index, low_rate);
  // The target starts each sum at x * 2^15 (at most 2^30 in magnitude); when the products cannot carry a
  // partial sum past the remaining headroom, plain sums are exact.
  if (products_within(sum_of_squares(v), h_squares, kMax32 - (std::int64_t{1} << 30))) {
    kernels.pitch_target_update(target, v, h);
    return;
  }
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    std::int32_t acc = shr32(deposit_high(target[n]), 1);
    for (std::size_t k = 0; k <= n; ++k) acc = msu32(acc, v[k], h[n - k]);
    target[n] = round32_to16(shl32(acc, 1));
  }
}

}  // namespace g7231
