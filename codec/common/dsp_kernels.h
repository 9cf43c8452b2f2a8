// The inner loops that take most of a frame's time, built once per instruction-set level.
//
// Every kernel exists as plain C++ (the scalar level, built for the processor's baseline) and again for
// each vector level of the processor family, from the same source compiled for that level's instruction
// set (x86/dsp_kernels_*.cpp). Every level computes the same values, bit for bit: the kernels use only
// exact integer arithmetic, and only where a bound rules out saturation. A codec object chooses its level
// when it is created (the best its processor runs, unless told otherwise) and keeps the kernels it uses.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/common/fixed_codebook_excitation.h"
#include "codec/tables/table_set_types.h"

namespace g7231 {

enum class SimdLevel : std::uint8_t {
  scalar,  // plain C++ for the baseline instruction set
  sse41,   // x86 SSE4.1
  avx2,    // x86 AVX2
  avx512,  // x86 AVX-512 (F, BW, VL)
  best,    // the fastest level the processor runs (AVX2 where available)
};

// The level's name: "scalar", "sse41", "avx2", "avx512" or "best".
const char* simd_level_name(SimdLevel level);

// Whether this build and processor run the level (scalar and best always).
bool simd_level_available(SimdLevel level);

// The level `best` stands for here.
SimdLevel best_simd_level();

// The three passes of the per-subframe filter cascade (synthesis, formant weighting, harmonic shaping).
enum class CascadeMode : std::uint8_t {
  impulse,  // response to a unit impulse from zero memories
  ringing,  // zero-input response from the memories, taken off the target
  update,   // the final excitation through the filters: memories advance, excitation becomes speech
};

// Working memory of one cascade pass. f and r hold the synthesis and weighting filter outputs in time
// order: [0..9] the ten outputs before the subframe, oldest first, [10 + n] those of sample n; the six
// entries after them stay zero. shaping holds the 145 weighting outputs before the subframe, then after an
// impulse or ringing pass the 60 of the subframe (an update pass leaves them in r alone).
inline constexpr std::size_t kCascadeLine = kLpcOrder + kSubframeSamples + 6;
struct CascadeWork {
  std::array<std::int16_t, kCascadeLine> f{};
  std::array<std::int16_t, kCascadeLine> r{};
  std::array<std::int16_t, kHistorySamples + kSubframeSamples> shaping{};
};

// A subframe vector padded to 64 values (the last four zero). Kernels read one from a caller unaligned:
// the type carries only an int16 array's alignment.
using PaddedVector = std::array<std::int16_t, 64>;

// A pitch-gain table as the search reads it: its entries (20 values each), the same in blocks of eight
// (fill_acb_gain_blocks), and each entry's sum of squares and sum of magnitudes.
struct AcbGainSearchTable {
  const std::int16_t* entries;
  const AcbGainBlock* blocks;
  const std::int64_t* squares;
  const std::int32_t* magnitudes;
};

// An open-loop pitch lag's score: its squared correlation over its segment's energy as cc / en * 2^-x,
// mantissas in Q15.
struct PitchLagScore {
  std::int16_t lag;
  std::int16_t x;
  std::int16_t cc;
  std::int16_t en;
};

// The best gain entry found so far by the pitch-gain search: its criterion and index.
struct GainSearchBest {
  std::int32_t criterion = 0;
  std::size_t entry = 0;
  bool found = false;  // an entry of the searched table beat the criterion it started from
};

inline constexpr std::size_t kAcelpSearchFrame = 64;  // positions 60..63 lie outside the subframe

// Correlations of the prepared impulse response between even-grid pulse positions: the four diagonal
// blocks D0..D3, then the cross blocks C01, C02, C03, C12, C13, C23 (row = index on the lower track).
struct AcelpCorrMatrix {
  using Block = std::array<std::array<std::int16_t, kAcelpTrackPositions>, kAcelpTrackPositions>;
  std::array<std::array<std::int16_t, kAcelpTrackPositions>, kAcelpTracks> diag{};
  std::array<Block, 6> cross{};

  // Cab for tracks a < b.
  Block& block(std::size_t a, std::size_t b) { return cross[a == 0 ? b - 1 : a + b]; }
  const Block& block(std::size_t a, std::size_t b) const { return cross[a == 0 ? b - 1 : a + b]; }
};
static_assert(sizeof(AcelpCorrMatrix) == 416 * sizeof(std::int16_t));

// The pulses the ACELP search keeps: four even-grid positions, one per track, and the grid (0 or 1).
struct AcelpChoice {
  std::array<std::int16_t, kAcelpTracks> positions = {0, 2, 4, 6};
  std::int16_t grid = 0;
};

// The MP-MLQ search's pulse placement on one grid: work[i] the correlation at slot i (30 slots, then two
// of padding), slot_autocorr[kGridSlots - 1 - p + i] the response's autocorrelation between slots i and p
// (0 for i = p, zeros after the 59 used), slots[0] and amplitudes[0] the first pulse's.
inline constexpr std::size_t kMpmlqWorkSlots = 32;
inline constexpr std::size_t kMpmlqAutocorrLine = 64;
struct MpmlqPlacement {
  alignas(32) std::array<std::int32_t, kMpmlqWorkSlots> work{};
  alignas(32) std::array<std::int32_t, kMpmlqAutocorrLine> slot_autocorr{};
  std::array<std::size_t, kMpmlqMaxPulses> slots{};
  std::array<std::int16_t, kMpmlqMaxPulses> amplitudes{};
};

// The MP-MLQ figure of merit's inputs: the filter r after 64 zeros (r_line[64 + k] = r[k], zeros after
// it), the target padded with zeros and its sum of squares.
struct MpmlqMeritInput {
  alignas(32) std::array<std::int16_t, 128> r_line{};
  alignas(32) PaddedVector target{};
  std::int64_t target_squares = 0;
};

struct DspKernels {
  SimdLevel level;

  // One cascade pass over a subframe with the synthesis filter a and the weighting filter w (numerator
  // w[0..9], denominator w[10..19]). io is written with the impulse response, updated as the target, or
  // read as the excitation and written with the reconstructed speech, by mode. lag and gain shape the
  // impulse response and the ringing only.
  void (*filter_cascade)(CascadeMode mode, std::span<std::int16_t, kSubframeSamples> io,
                         std::span<const std::int16_t, kLpcOrder> a, std::span<const std::int16_t, 2 * kLpcOrder> w,
                         CascadeWork& work, std::int16_t lag, std::int16_t gain);

  // The impulse responses of the four subframes' cascades, as filter_cascade's impulse mode from zero
  // memories each: a holds the four synthesis filters (10 coefficients each), w the four weighting
  // filters (20 each), lags and gains the four harmonic shapings.
  void (*impulse_responses)(std::span<std::array<std::int16_t, kSubframeSamples>, kSubframes> out,
                            std::span<const std::int16_t, kSubframes * kLpcOrder> a,
                            std::span<const std::int16_t, kSubframes * 2 * kLpcOrder> w,
                            std::span<const std::int16_t, kSubframes> lags, std::span<const std::int16_t, kSubframes> gains);

  // The formant weighting filter over a frame, in place: per subframe s, numerator coef[20s .. 20s + 9] on
  // the past inputs (fir_mem) and denominator coef[20s + 10 .. 20s + 19] on the past outputs (iir_mem),
  // memories most recent first and carried on.
  void (*formant_weighting)(std::span<std::int16_t, kFrameSamples> frame,
                            std::span<const std::int16_t, kSubframes * 2 * kLpcOrder> coef,
                            std::span<std::int16_t, kLpcOrder> fir_mem, std::span<std::int16_t, kLpcOrder> iir_mem);

  // out[i] = sum over j < length of x[j] * y[j - i] for i = 0..count-1 (y stepping back one sample per
  // output), in plain 32-bit arithmetic that wraps on overflow: callers use only the outputs that a bound
  // keeps in range. length is a multiple of 8.
  void (*lagged_correlations)(const std::int16_t* x, const std::int16_t* y, std::size_t length, std::size_t count,
                              std::int32_t* out);

  // out[n] = sum over k <= n of seg[k] * h[n - k], n = 0..59, in plain 32-bit arithmetic. Only for inputs
  // whose sums of squares bound every partial sum: 4 sum(seg^2) sum(h^2) <= (2^31 - 1)^2.
  void (*convolve)(std::span<const std::int16_t, kSubframeSamples> seg, std::span<const std::int16_t, kSubframeSamples> h,
                   std::span<std::int32_t, kSubframeSamples> out);

  // The scores of count open-loop pitch lags: lag[k] with correlation corr[k] > 0 and energy[k] >= 0, as
  // the operator sequence gives them (norm32 of each, the rounded mantissas, the correlation's square in
  // Q15 and the common exponent, the square halved where it is not below the energy's mantissa).
  void (*score_pitch_lags)(const std::int16_t* lag, const std::int32_t* corr, const std::int32_t* energy,
                           std::size_t count, PitchLagScore* out);

  // The 20 correlations of each pitch candidate, in the order of a gain entry's values, 20 per candidate
  // in c: bufs holds each candidate's lagged excitation (64 values), h is the impulse response
  // (h[0] = 8192) with its sum of squares, x the target (padded) with its sum of squares.
  void (*pitch_candidate_correlations)(std::span<const std::array<std::int16_t, kSubframeSamples + 4>> bufs,
                                       std::span<const std::int16_t, kSubframeSamples> h, std::int64_t h_squares,
                                       const PaddedVector& x, std::int64_t x_squares, std::span<std::int32_t> c);

  // The target less the chosen predictor output filtered by h: target[n] = round32_to16(shl32(t, 1)) with
  // t = shr32(deposit_high(target[n]), 1) - 2 sum over k <= n of v[k] h[n - k]. Only where the products
  // cannot carry a partial sum past the target's headroom: 4 sum(v^2) sum(h^2) <= (2^31 - 1 - 2^30)^2.
  void (*pitch_target_update)(std::span<std::int16_t, kSubframeSamples> target, std::span<const std::int16_t, kSubframeSamples> v,
                              std::span<const std::int16_t, kSubframeSamples> h);

  // The candidates' correlations c on a common scale, g[i] = round32_to16(shl32(c[i], norm32(largest)))
  // where largest is the largest abs32(c[i]); c and g of the same size, at most 80.
  void (*pitch_scale_correlations)(std::span<const std::int32_t> c, std::span<std::int16_t> g);

  // Entries 0..count-1 of a pitch-gain table: the criterion of entry e is the saturating sum of
  // g[i] * entry[i] (add32 of shr32(mult32_16x16, 1)). An entry replaces best only with a strictly greater
  // criterion, so the first of equal entries stays.
  void (*pitch_gain_search)(std::span<const std::int16_t, 20> g, const AcbGainSearchTable& table, std::size_t count,
                            GainSearchBest& best);

  // The ACELP correlation matrix from the normalised response p (4 zeros, then the 60 samples): every
  // entry the extract_high of a mac32 accumulation of p[m] p[m + |u - v|] over m <= 63 - max(u, v).
  void (*acelp_correlations)(std::span<const std::int16_t, kAcelpSearchFrame> p, AcelpCorrMatrix& matrix);

  // The budgeted depth-first search over the four tracks, on the sign-corrected target d and the
  // sign-adjusted matrix: the fourth track only for three-pulse sums above thr, one unit of budget per
  // fourth-track loop, the search ending when the budget reaches 0. The first best candidate is kept.
  void (*acelp_search)(std::span<const std::int16_t, kAcelpSearchFrame> d, const AcelpCorrMatrix& matrix,
                       std::int16_t thr, std::int16_t& budget, AcelpChoice& choice);

  // Places pulses 1 .. pulses-1 in plain 32-bit arithmetic (the caller has bounded every value the
  // updates reach within +-(2^31 - 1)): pulse j takes 2 amplitudes[j-1] times the autocorrelation from
  // slot j-1 off every slot, then goes to the first free slot of the largest |work|, with amplitude
  // magnitude, or negate16(magnitude) where work is negative. work is left changed.
  void (*mpmlq_place_pulses)(MpmlqPlacement& p, std::size_t pulses, std::int16_t magnitude);

  // The row of a 256-row LSP codebook in the padded layout (four values a row; a 3-value band's fourth
  // value, target and weight are zero) with the largest score 4 sum target t - 2 sum c t, t = (w c + 2^14)
  // >> 15 (mult16_round of a weight w >= 0), the first of equal ones; row 0 must score 0 (all zeros) so
  // that the winner scores at least 0. Plain 32-bit sums: the caller has bounded every score's partial
  // sums within the 32-bit range.
  std::int16_t (*lsp_band_search)(const LspPaddedCodebook& book, const std::array<std::int16_t, 4>& target,
                                  const std::array<std::int16_t, 4>& weights);

  // The pulses (positions and amplitudes, any order) filtered through r, each sum plain (the caller has
  // bounded each within +-(2^31 - 1) / 2): v[n] = clamp(sum amp r[n - pos], -2^28, 2^28 - 1) >> 13 for
  // n < 60, v[60..63] = 0. Then the merit 2<t, v> - <v, v> as its mac32/sub32 chain gives it, when a
  // bound shows that the chain cannot saturate (true), else false with merit untouched.
  bool (*mpmlq_merit)(const MpmlqMeritInput& in, const std::size_t* positions, const std::int16_t* amplitudes,
                      std::size_t pulses, PaddedVector& v, std::int32_t& merit);
};

// The kernels of a level; an unavailable level gives the scalar kernels, best the best available.
const DspKernels& dsp_kernels(SimdLevel level = SimdLevel::best);

}  // namespace g7231
