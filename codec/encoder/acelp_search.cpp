#include "codec/encoder/acelp_search.h"

#include <algorithm>

#include "codec/tables/fixed_codebook_tables.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace g7231 {
namespace {

using namespace fx;

constexpr std::int16_t kAcelpThresholdFactor = 0x4000;  // halfway between mean and maximum

constexpr std::size_t kPairs = kAcelpSearchFrame / 2;

// Halfway between the mean of the 24 track 0-2 targets on grid g (the chain sum of 2 d, shifted down by
// four) and the largest three-pulse sum d[8k + g] + d[8k + 2 + g] + d[8k + 4 + g] from each track's largest.
std::int16_t threshold_of(const std::array<std::int16_t, 3>& largest, std::int32_t sum) {
  const std::int16_t top = add16(add16(largest[0], largest[1]), largest[2]);
  const std::int16_t mean = extract_low(shr32(sum, 4));
  return add16(mult16(sub16(top, mean), kAcelpThresholdFactor), mean);
}

std::int16_t grid_threshold(std::span<const std::int16_t, kAcelpSearchFrame> d, std::size_t g) {
  std::array<std::int16_t, 3> largest{};
  for (std::size_t t = 0; t < 3; ++t) {
    largest[t] = d[2 * t + g];
    for (std::size_t k = 1; k < kAcelpTrackPositions; ++k) largest[t] = std::max(largest[t], d[8 * k + 2 * t + g]);
  }
  std::int32_t sum = 0;
  for (std::size_t k = 0; k < kAcelpTrackPositions; ++k) {
    for (std::size_t t = 0; t < 3; ++t) {
      // 24 steps of 2 d, each at most 2^16 in magnitude, cannot saturate.
      sum = kExactFastPaths ? sum + 2 * d[8 * k + 2 * t + g] : mac32(sum, d[8 * k + 2 * t + g], 1);
    }
  }
  return threshold_of(largest, sum);
}

// The larger of the two grids' thresholds.
std::int16_t search_threshold(std::span<const std::int16_t, kAcelpSearchFrame> d) {
#if defined(__SSE2__)
  if constexpr (kExactFastPaths) {
    // Both grids at once, the eight positions 8k..8k + 7 a row: the largest per lane over the rows, and per
    // lane the plain sum of d (24 values of at most 2^15 in magnitude fit easily), doubled once at the end
    // as the chain's sum of 2 d is.
    const __m128i even = _mm_setr_epi16(1, 0, 1, 0, 1, 0, 1, 0);
    const __m128i odd = _mm_setr_epi16(0, 1, 0, 1, 0, 1, 0, 1);
    __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d.data()));
    __m128i sum0 = _mm_madd_epi16(top, even);
    __m128i sum1 = _mm_madd_epi16(top, odd);
    for (std::size_t k = 1; k < kAcelpTrackPositions; ++k) {
      const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d.data() + 8 * k));
      top = _mm_max_epi16(top, row);
      sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(row, even));
      sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(row, odd));
    }
    alignas(16) std::array<std::int16_t, 8> largest;
    alignas(16) std::array<std::int32_t, 4> s0;
    alignas(16) std::array<std::int32_t, 4> s1;
    _mm_store_si128(reinterpret_cast<__m128i*>(largest.data()), top);
    _mm_store_si128(reinterpret_cast<__m128i*>(s0.data()), sum0);
    _mm_store_si128(reinterpret_cast<__m128i*>(s1.data()), sum1);
    // Lane 2t + g is track t on grid g; track 3 (lanes 6 and 7) takes no part.
    const std::int16_t thr0 = threshold_of({largest[0], largest[2], largest[4]}, 2 * (s0[0] + s0[1] + s0[2]));
    const std::int16_t thr1 = threshold_of({largest[1], largest[3], largest[5]}, 2 * (s1[0] + s1[1] + s1[2]));
    return std::max(thr0, thr1);
  }
#endif
  return std::max(grid_threshold(d, 0), grid_threshold(d, 1));
}

}  // namespace

AcelpPulses acelp_pulse_search(std::span<std::int16_t, kAcelpSearchFrame> d, AcelpCorrMatrix& matrix,
                               std::span<const std::int16_t, kSubframeSamples> h, std::int16_t& budget_carry,
                               const DspKernels& kernels) {
  std::fill(d.begin() + kSubframeSamples, d.end(), std::int16_t{0});

  // Each position pair gets the sign of its summed correlation; the search then treats every pulse as
  // positive in the sign-corrected target.
  std::array<std::int16_t, kPairs> sgn;
  sgn.fill(1);
#if defined(__SSE2__)
  if constexpr (kExactFastPaths) {
    // Four pairs a step, with no branch on the signs: the saturated sum add16 forms has the sign of the
    // plain one, and (v ^ m) - m negates v where m is all ones, wrapping -32768 as the plain negation does.
    // Pairs 30 and 31 lie in the zero padding and keep the sign 1.
    for (std::size_t j = 0; j < kPairs; j += 4) {
      auto* at = reinterpret_cast<__m128i*>(d.data() + 2 * j);
      const __m128i v = _mm_loadu_si128(at);
      const __m128i negative = _mm_cmpgt_epi32(_mm_setzero_si128(), _mm_madd_epi16(v, _mm_set1_epi16(1)));
      _mm_storeu_si128(at, _mm_sub_epi16(_mm_xor_si128(v, negative), negative));
      const __m128i signs = _mm_or_si128(negative, _mm_set1_epi32(1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(sgn.data() + j), _mm_packs_epi32(signs, signs));
    }
  } else
#endif
  {
    for (std::size_t j = 0; j < kSubframeSamples / 2; ++j) {
      if (add16(d[2 * j], d[2 * j + 1]) < 0) {
        sgn[j] = -1;
        d[2 * j] = static_cast<std::int16_t>(-d[2 * j]);  // plain negation: -32768 stays -32768
        d[2 * j + 1] = static_cast<std::int16_t>(-d[2 * j + 1]);
      }
    }
  }

  const std::int16_t thr = search_threshold(d);

  for (std::size_t a = 0; a < kAcelpTracks; ++a) {
    for (std::size_t b = a + 1; b < kAcelpTracks; ++b) {
      AcelpCorrMatrix::Block& c = matrix.block(a, b);
      std::array<std::int16_t, kAcelpTrackPositions> sgn_b;
      for (std::size_t kb = 0; kb < kAcelpTrackPositions; ++kb) sgn_b[kb] = sgn[4 * kb + b];
      for (std::size_t ka = 0; ka < kAcelpTrackPositions; ++ka) {
        for (std::size_t kb = 0; kb < kAcelpTrackPositions; ++kb) {
          const auto s = static_cast<std::int16_t>(sgn[4 * ka + a] * sgn_b[kb]);
          // extract_low(mult16_wrap(c, s)) is the product's low 16 bits, which a plain row-wide product gives.
          c[ka][kb] = kExactFastPaths ? static_cast<std::int16_t>(c[ka][kb] * s) : extract_low(mult16_wrap(c[ka][kb], s));
        }
      }
    }
  }

  std::int16_t budget = add16(kAcelpSearchBudget, budget_carry);
  AcelpChoice choice;
  kernels.acelp_search(d, matrix, thr, budget, choice);
  std::array<std::int16_t, kAcelpTracks> ip = choice.positions;
  const std::int16_t shift = choice.grid;
  budget_carry = budget;

  AcelpPulses out;
  std::array<std::int16_t, kAcelpTracks> s;
  for (std::size_t t = 0; t < kAcelpTracks; ++t) s[t] = sgn[static_cast<std::size_t>(shr16(ip[t], 1))];
  if (shift > 0) {
    for (std::int16_t& p : ip) p = add16(p, 1);
  }

  // Pulses of tracks 2 and 3 beyond the subframe are coded but leave no trace in the excitation.
#if defined(__SSE2__)
  if constexpr (kExactFastPaths) {
    // add16 and sub16 are the 16-bit saturating vector add and subtract; each sample still takes the
    // pulses in order. The response and the sum padded with zeros past the subframe.
    alignas(16) std::array<std::int16_t, kSubframeSamples + 8> response{};
    std::copy(h.begin(), h.end(), response.begin());
    alignas(16) std::array<std::int16_t, 2 * kSubframeSamples + 8> sum{};
    for (std::size_t t = 0; t < kAcelpTracks; ++t) {
      const auto p = static_cast<std::size_t>(ip[t]);
      if (p >= kSubframeSamples) continue;
      out.code[p] = s[t];
      for (std::size_t n = p; n < kSubframeSamples; n += 8) {
        auto* at = reinterpret_cast<__m128i*>(sum.data() + n);
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(response.data() + n - p));
        _mm_storeu_si128(at, s[t] > 0 ? _mm_adds_epi16(_mm_loadu_si128(at), r) : _mm_subs_epi16(_mm_loadu_si128(at), r));
      }
    }
    std::copy_n(sum.begin(), kSubframeSamples, out.filtered.begin());
  } else
#endif
  {
    for (std::size_t t = 0; t < kAcelpTracks; ++t) {
      const auto p = static_cast<std::size_t>(ip[t]);
      if (p >= kSubframeSamples) continue;
      out.code[p] = s[t];
      for (std::size_t n = p; n < kSubframeSamples; ++n) {
        out.filtered[n] = s[t] > 0 ? add16(out.filtered[n], h[n - p]) : sub16(out.filtered[n], h[n - p]);
      }
    }
  }

  out.grid = shift;
  for (std::size_t t = 0; t < kAcelpTracks; ++t) {
    if (s[t] > 0) out.signs = add16(out.signs, static_cast<std::int16_t>(1 << t));
  }
  out.position_code = shr16(ip[0], 3);
  out.position_code = add16(out.position_code, shl16(shr16(ip[1], 3), 3));
  out.position_code = add16(out.position_code, shl16(shr16(ip[2], 3), 6));
  out.position_code = add16(out.position_code, shl16(shr16(ip[3], 3), 9));
  return out;
}

FcbGain quantise_fcb_gain(std::span<const std::int16_t, kSubframeSamples> x,
                          std::span<std::int16_t, kSubframeSamples> y) {
  for (std::int16_t& v : y) v = shr16(v, 3);

  // Both chains through mac32_block: plain sums where the sums of squares rule out saturation.
  const std::int64_t y_squares = sum_of_squares(y);
  const std::int32_t lxy = mac32_block(x, y, sum_of_squares(x), y_squares);
  const std::int16_t exy = norm32(lxy);
  const std::int16_t xy = extract_high(shl32(lxy, exy));
  if (xy <= 0) return {0, kFcbGainTable[0]};

  const std::int32_t lyy = mac32_block(y, y, y_squares, y_squares);
  const std::int16_t eyy = norm32(lyy);
  const std::int16_t yy = extract_high(shl32(lyy, eyy));

  // Optimal gain in the scale of the gain table (xy halved so that the quotient stays below one).
  std::int16_t g = div16(shr16(xy, 1), yy);
  g = shr16(g, sub16(add16(exy, 5), eyy));

  std::int16_t index = 0;
  std::int16_t dist = abs16(sub16(g, kFcbGainTable[0]));
  for (std::size_t i = 1; i < kFcbGainLevels; ++i) {
    const std::int16_t di = abs16(sub16(g, kFcbGainTable[i]));
    if (di < dist) {
      dist = di;
      index = static_cast<std::int16_t>(i);
    }
  }
  return {index, kFcbGainTable[static_cast<std::size_t>(index)]};
}

}  // namespace g7231
