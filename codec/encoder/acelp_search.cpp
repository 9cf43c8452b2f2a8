#include "codec/encoder/acelp_search.h"

#include <algorithm>

#include "codec/tables/fixed_codebook_tables.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::int16_t kAcelpThresholdFactor = 0x4000;  // halfway between mean and maximum

// mac32(acc, v, w) in the search's energy chains. Every correlation is a 16-bit value and w is 1 or 2, so
// the longest chain (one diagonal value doubled, then four more terms) stays below 2^21: it can never
// saturate, and plain arithmetic gives the same value.
inline std::int32_t add_weighted(std::int32_t acc, std::int16_t v, std::int16_t w) {
  if constexpr (fx::kExactFastPaths) return acc + 2 * w * v;
  return mac32(acc, v, w);
}
constexpr std::size_t kPairs = kAcelpSearchFrame / 2;

// Halfway between the mean and the largest of the three-pulse sums d[8k + g] + d[8k + 2 + g] + d[8k + 4 + g]
// on grid g.
std::int16_t grid_threshold(std::span<const std::int16_t, kAcelpSearchFrame> d, std::size_t g) {
  std::array<std::int16_t, 3> largest{};
  for (std::size_t t = 0; t < 3; ++t) {
    largest[t] = d[2 * t + g];
    for (std::size_t k = 1; k < kAcelpTrackPositions; ++k) largest[t] = std::max(largest[t], d[8 * k + 2 * t + g]);
  }
  const std::int16_t top = add16(add16(largest[0], largest[1]), largest[2]);
  std::int32_t sum = 0;
  for (std::size_t k = 0; k < kAcelpTrackPositions; ++k) {
    for (std::size_t t = 0; t < 3; ++t) sum = mac32(sum, d[8 * k + 2 * t + g], 1);
  }
  const std::int16_t mean = extract_low(shr32(sum, 4));
  return add16(mult16(sub16(top, mean), kAcelpThresholdFactor), mean);
}

}  // namespace

AcelpPulses acelp_pulse_search(std::span<std::int16_t, kAcelpSearchFrame> d, AcelpCorrMatrix& matrix,
                               std::span<const std::int16_t, kSubframeSamples> h, std::int16_t& budget_carry) {
  std::fill(d.begin() + kSubframeSamples, d.end(), std::int16_t{0});

  // Each position pair gets the sign of its summed correlation; the search then treats every pulse as
  // positive in the sign-corrected target.
  std::array<std::int16_t, kPairs> sgn;
  sgn.fill(1);
  for (std::size_t j = 0; j < kSubframeSamples / 2; ++j) {
    if (add16(d[2 * j], d[2 * j + 1]) < 0) {
      sgn[j] = -1;
      d[2 * j] = static_cast<std::int16_t>(-d[2 * j]);  // plain negation: -32768 stays -32768
      d[2 * j + 1] = static_cast<std::int16_t>(-d[2 * j + 1]);
    }
  }

  const std::int16_t thr = std::max(grid_threshold(d, 0), grid_threshold(d, 1));

  for (std::size_t a = 0; a < kAcelpTracks; ++a) {
    for (std::size_t b = a + 1; b < kAcelpTracks; ++b) {
      AcelpCorrMatrix::Block& c = matrix.block(a, b);
      for (std::size_t ka = 0; ka < kAcelpTrackPositions; ++ka) {
        for (std::size_t kb = 0; kb < kAcelpTrackPositions; ++kb) {
          const auto s = static_cast<std::int16_t>(sgn[4 * ka + a] * sgn[4 * kb + b]);
          c[ka][kb] = extract_low(mult16_wrap(c[ka][kb], s));
        }
      }
    }
  }

  const auto& dg = matrix.diag;
  const AcelpCorrMatrix::Block& c01 = matrix.block(0, 1);
  const AcelpCorrMatrix::Block& c02 = matrix.block(0, 2);
  const AcelpCorrMatrix::Block& c03 = matrix.block(0, 3);
  const AcelpCorrMatrix::Block& c12 = matrix.block(1, 2);
  const AcelpCorrMatrix::Block& c13 = matrix.block(1, 3);
  const AcelpCorrMatrix::Block& c23 = matrix.block(2, 3);

  std::array<std::int16_t, kAcelpTracks> ip = {0, 2, 4, 6};
  std::int16_t shift = 0;
  std::int16_t num = 0;
  std::int16_t den = 32767;
  std::int16_t budget = add16(kAcelpSearchBudget, budget_carry);

  // Depth-first over the tracks; the fourth level only for three-pulse sums above the threshold, and only
  // as often as the budget allows.
  bool exhausted = false;
  for (std::size_t k0 = 0; k0 < kAcelpTrackPositions && !exhausted; ++k0) {
    const std::size_t i0 = 8 * k0;
    const std::int16_t ps0 = d[i0];
    const std::int16_t ps0a = d[i0 + 1];
    const std::int16_t alp0 = dg[0][k0];
    for (std::size_t k1 = 0; k1 < kAcelpTrackPositions && !exhausted; ++k1) {
      const std::size_t i1 = 8 * k1 + 2;
      const std::int16_t ps1 = add16(ps0, d[i1]);
      const std::int16_t ps1a = add16(ps0a, d[i1 + 1]);
      const std::int32_t alp1 = add_weighted(add_weighted(add_weighted(0, alp0, 1), dg[1][k1], 1), c01[k0][k1], 2);
      for (std::size_t k2 = 0; k2 < kAcelpTrackPositions && !exhausted; ++k2) {
        const std::size_t i2 = 8 * k2 + 4;
        std::int16_t ps2 = add16(ps1, d[i2]);
        const std::int16_t ps2a = add16(ps1a, d[i2 + 1]);
        const std::int32_t alp2 =
            add_weighted(add_weighted(add_weighted(alp1, dg[2][k2], 1), c02[k0][k2], 2), c12[k1][k2], 2);
        std::size_t sh = 0;
        if (ps2a > ps2) {
          sh = 1;
          ps2 = ps2a;
        }
        if (ps2 <= thr) continue;
        for (std::size_t k3 = 0; k3 < kAcelpTrackPositions; ++k3) {
          const std::size_t i3 = 8 * k3 + 6;
          const std::int16_t ps3 = add16(ps2, d[i3 + sh]);
          const std::int32_t alp3 = add_weighted(
              add_weighted(add_weighted(add_weighted(alp2, dg[3][k3], 1), c03[k0][k3], 2), c13[k1][k3], 2),
              c23[k2][k3], 2);
          const std::int16_t alp = extract_low(shr32(alp3, 5));
          const std::int16_t sq = mult16(ps3, ps3);
          if (mult32_16x16(sq, den) > mult32_16x16(num, alp)) {
            num = sq;
            den = alp;
            ip = {static_cast<std::int16_t>(i0), static_cast<std::int16_t>(i1), static_cast<std::int16_t>(i2),
                  static_cast<std::int16_t>(i3)};
            shift = static_cast<std::int16_t>(sh);
          }
        }
        budget = static_cast<std::int16_t>(budget - 1);
        if (budget <= 0) exhausted = true;
      }
    }
  }
  budget_carry = budget;

  AcelpPulses out;
  std::array<std::int16_t, kAcelpTracks> s;
  for (std::size_t t = 0; t < kAcelpTracks; ++t) s[t] = sgn[static_cast<std::size_t>(shr16(ip[t], 1))];
  if (shift > 0) {
    for (std::int16_t& p : ip) p = add16(p, 1);
  }

  // Pulses of tracks 2 and 3 beyond the subframe are coded but leave no trace in the excitation.
  for (std::size_t t = 0; t < kAcelpTracks; ++t) {
    const auto p = static_cast<std::size_t>(ip[t]);
    if (p >= kSubframeSamples) continue;
    out.code[p] = s[t];
    for (std::size_t n = p; n < kSubframeSamples; ++n) {
      out.filtered[n] = s[t] > 0 ? add16(out.filtered[n], h[n - p]) : sub16(out.filtered[n], h[n - p]);
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

  std::int32_t lxy = 0;
  for (std::size_t n = 0; n < kSubframeSamples; ++n) lxy = mac32(lxy, x[n], y[n]);
  const std::int16_t exy = norm32(lxy);
  const std::int16_t xy = extract_high(shl32(lxy, exy));
  if (xy <= 0) return {0, kFcbGainTable[0]};

  std::int32_t lyy = 0;
  for (std::size_t n = 0; n < kSubframeSamples; ++n) lyy = mac32(lyy, y[n], y[n]);
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
