#include "codec/decoder/postfilter.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "codec/common/bandwidth_expansion.h"
#include "codec/common/comfort_noise_excitation.h"
#include "codec/common/synthesis_filter.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {
namespace {

using namespace fx;

using Subframe = std::array<std::int16_t, kSubframeSamples>;

// Q15 of a fraction in [0, 1).
constexpr std::int16_t q15(double v) { return static_cast<std::int16_t>(v * 32768.0 + 0.5); }

// --- Parameters -------------------------------------------------------------------------------------------

// Formant postfilter A(z/g_n) / A(z/g_d): the numerator's zeros take back part of the poles' emphasis, so
// the formants sharpen and the valleys between them, where this coder's noise lies, deepen by a few dB
// without the whole spectrum tilting.
constexpr double kNumeratorFactor = 0.55;    // zeros: broad, they mostly cancel the poles' overall lean
constexpr double kDenominatorFactor = 0.75;  // poles: valleys a few dB deeper; 0.8 gains nothing more on real
                                             // speech and strays further from its spectrum

// Tilt compensation 1 - mu z^-1 with mu = kTiltFactor k1, k1 the formant postfilter's lean to low
// frequencies (its impulse response's first normalised autocorrelation), applied only when k1 > 0.
constexpr double kTiltFactor = 0.8;  // takes out most of the lean: less leaves the speech darker than the original

// Pitch postfilter on the formant residual r: (r(n) + w r(n - T)) / (1 + w), w = kPitchWeight min(1, C / E),
// T the subframe's decoded lag, C the correlation of r with r(n - T) over the subframe, E the energy of
// r(n - T) and E0 that of r.
constexpr double kPitchWeight = 0.3;     // clearer voicing; a half already adds harmonic energy the original lacks
constexpr double kPitchThreshold = 0.5;  // runs only when C^2 >= 0.5 E E0 (3 dB of prediction gain): weaker
                                         // correlations are noise-like and would only gain a buzz

// Gain control: the gain moves from its last value towards the subframe's target (the root of the
// unfiltered speech's power over the filtered speech's) by a fixed fraction of the difference per sample.
constexpr double kGainKeep = 0.9;            // a time constant of about 1.2 ms: no modulation, yet follows onsets
constexpr std::int16_t kMaxGain = 4 * 4096;  // Q12: the output is never raised more than 12 dB

// Headroom: the filters work on the speech halved, as the formant emphasis can raise the peaks of loud
// speech above full scale before the gain control brings the level back; the output is doubled again.
constexpr std::int16_t kHeadroomBits = 1;

// The formant postfilter's impulse response, for its tilt, over 20 samples: its poles lie within radius 0.75,
// so by then it has fallen below 0.75^20, a third of a percent.
constexpr std::size_t kResponseSamples = 20;

// --- Derived constants ------------------------------------------------------------------------------------

constexpr std::array<std::int16_t, kLpcOrder> kNumeratorPowers = bandwidth_expansion_factors(kNumeratorFactor);
constexpr std::array<std::int16_t, kLpcOrder> kDenominatorPowers = bandwidth_expansion_factors(kDenominatorFactor);
constexpr std::int16_t kTiltQ15 = q15(kTiltFactor);
constexpr std::int16_t kPitchWeightQ15 = q15(kPitchWeight);
constexpr std::int16_t kPitchThresholdQ15 = q15(kPitchThreshold);
constexpr std::int16_t kGainKeepQ15 = q15(kGainKeep);
constexpr std::int16_t kGainFollowQ15 = static_cast<std::int16_t>(32768 - kGainKeepQ15);
constexpr std::int16_t kHeadroomScale = static_cast<std::int16_t>(32768 >> kHeadroomBits);  // Q15

static_assert(kPitchWeightQ15 > 0 && kHeadroomBits >= 1);

struct FormantFilter {
  std::array<std::int16_t, kLpcOrder> num{};  // a_i g_n^i, Q13
  std::array<std::int16_t, kLpcOrder> den{};  // a_i g_d^i, Q13
};

FormantFilter formant_filter(std::span<const std::int16_t, kLpcOrder> a) {
  FormantFilter f;
  for (std::size_t i = 0; i < kLpcOrder; ++i) {
    f.num[i] = mult16_round(a[i], kNumeratorPowers[i]);
    f.den[i] = mult16_round(a[i], kDenominatorPowers[i]);
  }
  return f;
}

// The synthesis filter's start for each sample: x in Q13 of half scale (mult32_16x16(x, 2^13), exact).
template <std::size_t N>
std::array<std::int32_t, N> filter_start(std::span<const std::int16_t, N> x) {
  std::array<std::int32_t, N> start;
  for (std::size_t n = 0; n < N; ++n) start[n] = mult32_16x16(x[n], 0x2000);
  return start;
}

// The right shift that brings every sample of the blocks within 4095, so that sums of up to 64 products
// (mac32) cannot saturate.
std::int16_t headroom_shift(std::initializer_list<std::span<const std::int16_t>> blocks) {
  std::int16_t largest = 0;
  if constexpr (kExactFastPaths) {
    // abs16 is |v| but for -32768, whose 32768 it holds at 32767. The extremes are taken in 16 bits,
    // which vectorises.
    std::int16_t high = 0;
    std::int16_t low = 0;
    for (const auto block : blocks) {
      for (const std::int16_t v : block) {
        high = std::max(high, v);
        low = std::min(low, v);
      }
    }
    largest = static_cast<std::int16_t>(std::min(std::max(std::int32_t{high}, -std::int32_t{low}), std::int32_t{kMax16}));
  } else {
    for (const auto block : blocks) {
      for (const std::int16_t v : block) largest = std::max(largest, abs16(v));
    }
  }
  std::int16_t shift = 0;
  while (shr16(largest, shift) > 4095) ++shift;
  return shift;
}

// The mac32 chain of x y over the blocks shifted right by their headroom_shift: the shifted values lie
// within 4095, and 64 doubled products of 4095^2 stay below 2^31 - 1, so the plain sum is the chain's.
std::int32_t scaled_dot(std::span<const std::int16_t> x, std::span<const std::int16_t> y, std::int16_t shift) {
  std::int32_t acc = 0;
  if constexpr (kExactFastPaths) {
    for (std::size_t n = 0; n < x.size(); ++n) acc += (std::int32_t{x[n]} >> shift) * (std::int32_t{y[n]} >> shift);
    return 2 * acc;
  }
  for (std::size_t n = 0; n < x.size(); ++n) acc = mac32(acc, shr16(x[n], shift), shr16(y[n], shift));
  return acc;
}

// The lagged residual's share (Q15) in the pitch postfilter, 0 when the lag does not predict well.
std::int16_t pitch_weight(std::span<const std::int16_t, kSubframeSamples> current, std::span<const std::int16_t> lagged) {
  const std::int16_t shift = headroom_shift({current, lagged});
  const std::int32_t c = scaled_dot(current, lagged, shift);
  if (c <= 0) return 0;
  const std::int32_t e = scaled_dot(lagged, lagged, shift);
  const std::int32_t e0 = scaled_dot(current, current, shift);
  // All three on one 16-bit scale.
  const std::int16_t n = norm32(std::max({c, e, e0}));
  const std::int16_t cc = extract_high(shl32(c, n));
  const std::int16_t ee = extract_high(shl32(e, n));
  const std::int16_t ee0 = extract_high(shl32(e0, n));
  // Too little prediction gain: C^2 < threshold E E0.
  if (mult32_16x16(cc, cc) < mult32_32x16(mult32_16x16(ee, ee0), kPitchThresholdQ15)) return 0;
  const std::int16_t g = cc >= ee ? kMax16 : div16(cc, ee);
  return mult16(g, kPitchWeightQ15);
}

// k1 of the formant postfilter's impulse response (its lag-1 autocorrelation over lag 0, Q15), when
// positive; 0 otherwise.
std::int16_t response_lean(const FormantFilter& f) {
  std::array<std::int16_t, kResponseSamples> h{};
  std::array<std::int16_t, kLpcOrder> fir{};
  std::array<std::int16_t, kLpcOrder> iir{};
  h[0] = 1024;  // far below full scale at every tap
  all_zero_block(h, f.num, fir, h);
  all_pole_block(filter_start(std::span<const std::int16_t, kResponseSamples>(h)), f.den, iir, h);
  const std::int16_t shift = headroom_shift({h});
  const std::int32_t r0 = scaled_dot(h, h, shift);
  const std::int32_t r1 = scaled_dot(std::span(h).first<kResponseSamples - 1>(), std::span(h).subspan<1>(), shift);
  if (r1 <= 0 || r0 <= 0) return 0;
  const std::int16_t n = norm32(r0);
  const std::int16_t d0 = extract_high(shl32(r0, n));
  const std::int16_t d1 = extract_high(shl32(r1, n));
  return d1 >= d0 ? kMax16 : div16(d1, d0);
}

// sqrt(es / ey) in Q12, at most kMaxGain; 1.0 for a silent output.
std::int16_t gain_target(std::int32_t es, std::int32_t ey) {
  if (ey <= 0) return 4096;
  if (es <= 0) return 0;
  std::int16_t ns_exp = norm32(es);
  const std::int16_t ny_exp = norm32(ey);
  std::int16_t ns = extract_high(shl32(es, ns_exp));
  const std::int16_t ny = extract_high(shl32(ey, ny_exp));
  if (ns >= ny) {
    ns = shr16(ns, 1);
    ns_exp = sub16(ns_exp, 1);
  }
  // es / ey = (ns / ny) 2^k with ns / ny in [0.25, 1).
  std::int32_t ratio = deposit_high(div16(ns, ny));
  std::int16_t k = sub16(ny_exp, ns_exp);
  if ((k & 1) != 0) {
    ratio = shr32(ratio, 1);
    k = add16(k, 1);
  }
  // sqrt(ratio) is Q15; Q12 wants three bits less, and the half exponent more.
  const std::int16_t g = shl16(sqrt32(ratio), static_cast<std::int16_t>(shr16(k, 1) - 3));
  return std::min(g, kMaxGain);
}

}  // namespace

void postfilter_subframe(PostfilterState& state, std::span<const std::int16_t, kSubframeSamples> speech,
                         std::span<const std::int16_t, kLpcOrder> a, std::int16_t pitch_lag,
                         std::span<std::int16_t, kSubframeSamples> out) {
  const FormantFilter f = formant_filter(a);
  Subframe x;
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    // A positive scale: mult16_round cannot saturate and is the plain rounded product.
    static_assert(kHeadroomScale > 0);
    x[n] = kExactFastPaths ? static_cast<std::int16_t>((std::int32_t{speech[n]} * kHeadroomScale + 0x4000) >> 15)
                           : mult16_round(speech[n], kHeadroomScale);
  }

  // Formant residual, appended to its history: residual[kHistorySamples + n] is sample n of this subframe.
  std::array<std::int16_t, kHistorySamples + kSubframeSamples> residual;
  std::ranges::copy(state.residual_history, residual.begin());
  const auto current = std::span(residual).subspan<kHistorySamples, kSubframeSamples>();
  all_zero_block(x, f.num, state.residual_fir_mem, current);
  std::copy(residual.end() - kHistorySamples, residual.end(), state.residual_history.begin());

  // Pitch postfilter on the residual, normalised by 1 + w.
  Subframe enhanced;
  std::ranges::copy(current, enhanced.begin());
  if (pitch_lag > 0 && static_cast<std::size_t>(pitch_lag) <= kHistorySamples) {
    const auto lagged = std::span(residual).subspan(kHistorySamples - static_cast<std::size_t>(pitch_lag), kSubframeSamples);
    const std::int16_t w = pitch_weight(current, lagged);
    if (w > 0) {
      const std::int16_t b0 = div16(16384, add16(16384, shr16(w, 1)));  // 1 / (1 + w)
      const std::int16_t b1 = mult16(w, b0);
      for (std::size_t n = 0; n < kSubframeSamples; ++n) {
        if constexpr (kExactFastPaths) {
          // b0 > 0 and b1 >= 0: neither product saturates; the sum's saturation and the rounding's both
          // land where saturate16 of the rounded 64-bit sum does.
          const std::int64_t sum = 2 * (std::int64_t{current[n]} * b0 + std::int64_t{lagged[n]} * b1);
          enhanced[n] = saturate16(static_cast<std::int32_t>((sum + 0x8000) >> 16));
        } else {
          enhanced[n] = round32_to16(mac32(mult32_16x16(current[n], b0), lagged[n], b1));
        }
      }
    }
  }

  // Formant synthesis, then the tilt compensation.
  const std::int16_t mu = mult16(response_lean(f), kTiltQ15);
  Subframe v;
  all_pole_block(filter_start(std::span<const std::int16_t, kSubframeSamples>(enhanced)), f.den, state.synthesis_mem, v);
  Subframe y;
  y[0] = sub16(v[0], mult16_round(mu, state.tilt_mem));
  if (kExactFastPaths && mu >= 0) {
    // mu >= 0: mult16_round cannot saturate; sub16 is the clamped difference.
    for (std::size_t n = 1; n < kSubframeSamples; ++n) {
      const std::int32_t d = v[n] - ((std::int32_t{mu} * v[n - 1] + 0x4000) >> 15);
      y[n] = static_cast<std::int16_t>(std::clamp(d, std::int32_t{kMin16}, std::int32_t{kMax16}));
    }
  } else {
    for (std::size_t n = 1; n < kSubframeSamples; ++n) y[n] = sub16(v[n], mult16_round(mu, v[n - 1]));
  }
  state.tilt_mem = v[kSubframeSamples - 1];

  // Gain control towards the power of the unfiltered speech, and the headroom given back.
  const std::int16_t shift = headroom_shift({x, y});
  const std::int16_t target = gain_target(scaled_dot(x, x, shift), scaled_dot(y, y, shift));
  // With the gain within [0, 32000] and the target within [0, kMaxGain], the smoothing step cannot
  // saturate and keeps the gain within [0, 32000]: round(0.9 g) + round(0.1 t) <= 28800 + 1639.
  static_assert(kMaxGain <= 16384);
  if (kExactFastPaths && state.gain >= 0 && state.gain <= 32000 && target >= 0 && target <= kMaxGain) {
    const std::int32_t follow = (std::int32_t{target} * kGainFollowQ15 + 0x4000) >> 15;
    std::int32_t gain = state.gain;
    for (std::size_t n = 0; n < kSubframeSamples; ++n) {
      gain = ((gain * kGainKeepQ15 + 0x4000) >> 15) + follow;
      // round32_to16(shl32(2 y g, 4)): the shift's saturation and the rounding's land where saturate16 of
      // the rounded 64-bit value does.
      const std::int64_t scaled = std::int64_t{y[n]} * gain * (2 << (3 + kHeadroomBits));
      out[n] = saturate16(static_cast<std::int32_t>((scaled + 0x8000) >> 16));
    }
    state.gain = static_cast<std::int16_t>(gain);
    return;
  }
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    state.gain = add16(mult16_round(state.gain, kGainKeepQ15), mult16_round(target, kGainFollowQ15));
    out[n] = round32_to16(shl32(mult32_16x16(y[n], state.gain), static_cast<std::int16_t>(3 + kHeadroomBits)));
  }
}

}  // namespace g7231
