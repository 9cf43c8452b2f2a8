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

constexpr std::size_t kTaps = kAcbTaps;
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

// The five candidate's excitation segments filtered by h: f[t] is buf[t .. t + 59] through h.
void filter_candidate(std::array<Vector, kTaps>& f, std::span<const std::int16_t, kLaggedExcitationSamples> buf,
                      std::span<const std::int16_t, kSubframeSamples> h, std::int64_t h_squares) {
  const auto segment = buf.last<kSubframeSamples>();
  if (products_within(sum_of_squares(segment), h_squares)) {
    // No partial sum can saturate: accumulate plainly, one input sample at a time.
    std::array<std::int32_t, kSubframeSamples> acc{};
    for (std::size_t k = 0; k < kSubframeSamples; ++k) {
      const std::int32_t b = segment[k];
      for (std::size_t n = k; n < kSubframeSamples; ++n) acc[n] += b * h[n - k];
    }
    for (std::size_t n = 0; n < kSubframeSamples; ++n) f[4][n] = round32_to16(2 * acc[n]);
  } else {
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      std::int32_t acc = 0;
      for (std::size_t k = 0; k <= n; ++k) acc = mac32(acc, segment[k], h[n - k]);
      f[4][n] = round32_to16(acc);
    }
  }
  // Each shorter-lag segment reuses the next one: relies on h[0] being 8192.
  for (std::size_t t = 4; t-- > 0;) {
    f[t][0] = mult16_round(buf[t], 8192);
    for (std::size_t n = 1; n < kSubframeSamples; ++n) {
      f[t][n] = round32_to16(mac32(deposit_high(f[t + 1][n - 1]), buf[t], h[n]));
    }
  }
}

// Correlations of a candidate in the order of a gain entry's values: target with each filtered segment,
// each segment's energy, then the cross-energies of the pairs (1,0), (2,0), (2,1), ..., (4,3).
void candidate_correlations(std::span<std::int32_t, kCorrelations> c, const std::array<Vector, kTaps>& f,
                            const Vector& target, std::int64_t target_squares) {
  std::array<std::int64_t, kTaps> squares;
  for (std::size_t t = 0; t < kTaps; ++t) squares[t] = sum_of_squares(f[t]);
  for (std::size_t t = 0; t < kTaps; ++t) c[t] = shl32(half_mac32_block(target, f[t], target_squares, squares[t]), 1);
  // A saturating sum of the non-negative 2 f^2 (or of the saturated square of -32768) is the plain sum
  // capped at the 32-bit maximum.
  for (std::size_t t = 0; t < kTaps; ++t) {
    c[kTaps + t] = static_cast<std::int32_t>(std::min<std::int64_t>(2 * squares[t], kMax32));
  }
  std::size_t i = 2 * kTaps;
  for (std::size_t t = 1; t < kTaps; ++t) {
    for (std::size_t u = 0; u < t; ++u) c[i++] = shl32(half_mac32_block(f[t], f[u], squares[t], squares[u]), 2);
  }
}

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

  Vector x;
  std::ranges::copy(target, x.begin());
  const std::int64_t x_squares = sum_of_squares(x);
  const std::int64_t h_squares = sum_of_squares(h);
  std::array<std::int32_t, kCorrelations * kMaxCandidates> c{};
  for (std::size_t j = 0; j < candidates; ++j) {
    std::array<std::int16_t, kLaggedExcitationSamples> buf;
    fetch_lagged_excitation(buf, enc.excitation_history, static_cast<std::int16_t>(base + j - 1));
    std::array<Vector, kTaps> f;
    filter_candidate(f, buf, h, h_squares);
    candidate_correlations(std::span(c).subspan(kCorrelations * j).first<kCorrelations>(), f, x, x_squares);
  }

  // Common scaling of every candidate's correlations.
  const std::size_t used = kCorrelations * candidates;
  std::int32_t largest = 0;
  for (std::size_t i = 0; i < used; ++i) largest = std::max(largest, abs32(c[i]));
  const std::int16_t sh = norm32(largest);
  std::array<std::int16_t, kCorrelations * kMaxCandidates> g{};
  for (std::size_t i = 0; i < used; ++i) g[i] = round32_to16(shl32(c[i], sh));

  // Taming bounds how far into each table the search may go.
  const std::int16_t limit = taming_gain_limit(static_cast<std::int16_t>(base - 1),
                                               static_cast<std::int16_t>(base + 1 + (odd ? 1 : 0)),
                                               enc.taming_error, enc.sine_detector);
  const std::size_t entries85 = std::min(
      kAcbShortLagEntries, static_cast<std::size_t>(shl16(limit, kTamingStepLog2_85)) + kTamedEntries85);
  const std::size_t entries170 =
      std::min(kAcbEntries, static_cast<std::size_t>(shl16(limit, kTamingStepLog2_170)) + kTamedEntries170);

  // The largest criterion wins; ties keep the earlier candidate, then the earlier entry.
  std::int32_t best = 0;
  std::size_t best_candidate = 1;
  std::size_t best_entry = 0;
  // The table follows the candidate lag in even subframes and the base lag in odd ones.
  const auto table_lag = [&](std::size_t j) { return static_cast<std::int16_t>(odd ? base : base + j - 1); };
  const auto short_lag_table = [&](std::size_t j) { return uses_short_lag_tables(low_rate, table_lag(j)); };
  for (std::size_t j = 0; j < candidates; ++j) {
    const bool short_table = short_lag_table(j);
    const std::span<const AcbGainEntry> table = acb_gain_table(tables, low_rate, table_lag(j));
    const std::span<const std::int64_t> squares = short_table ? std::span<const std::int64_t>(tables.acb_squares85)
                                                              : std::span<const std::int64_t>(tables.acb_squares170);
    const std::size_t entries = short_table ? entries85 : entries170;
    const auto gj = std::span<const std::int16_t>(g).subspan(kCorrelations * j).first<kCorrelations>();
    const std::int64_t g_squares = sum_of_squares(gj);
    for (std::size_t e = 0; e < entries; ++e) {
      // sum of add32(crit, shr32(mult32_16x16(g[i], entry[i]), 1))
      const std::int32_t crit = half_mac32_block(gj, table[e], g_squares, squares[e]);
      if (crit > best) {
        best = crit;
        best_candidate = j;
        best_entry = e;
      }
    }
  }

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
    std::array<std::int32_t, kSubframeSamples> conv{};
    for (std::size_t k = 0; k < kSubframeSamples; ++k) {
      const std::int32_t vk = v[k];
      for (std::size_t n = k; n < kSubframeSamples; ++n) conv[n] += vk * h[n - k];
    }
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      target[n] = round32_to16(shl32(shr32(deposit_high(target[n]), 1) - 2 * conv[n], 1));
    }
    return;
  }
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    std::int32_t acc = shr32(deposit_high(target[n]), 1);
    for (std::size_t k = 0; k <= n; ++k) acc = msu32(acc, v[k], h[n - k]);
    target[n] = round32_to16(shl32(acc, 1));
  }
}

}  // namespace g7231
