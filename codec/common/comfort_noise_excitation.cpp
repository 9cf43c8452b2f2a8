#include "codec/common/comfort_noise_excitation.h"

#include <algorithm>
#include <array>

#include "codec/common/adaptive_codebook.h"
#include "codec/common/lsp_interpolation.h"
#include "codec/tables/comfort_noise_tables.h"
#include "codec/tables/fixed_codebook_tables.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::size_t kHalfFrame = 2 * kSubframeSamples;
constexpr std::size_t kHalfFramePulses = 11;     // 6 + 5
constexpr std::int16_t kInvPulseCount = 2979;    // 1/11 in Q15
constexpr std::int16_t kMaxAmplitude = 10000;
constexpr std::array<std::int16_t, kSubframes> kLagDelta = {1, 0, 1, 3};
// The random lags (122..145) are all long, so the 170-entry pitch-gain table serves them at either rate.
constexpr bool kCngLagsUseLongTable = true;

struct Pulses {
  std::array<std::int16_t, kHalfFramePulses> position{};  // within the half frame, 0..119
  std::array<std::int16_t, kHalfFramePulses> sign{};      // +16384 or -16384
};

// The amplitude of pulses that give the half frame x (adaptive part only) the energy the gain asks for.
std::int16_t pulse_amplitude(std::span<const std::int16_t, kHalfFrame> x, const Pulses& pulses, std::int16_t gain) {
  std::int16_t mx = 0;
  for (std::int16_t v : x) mx = std::max(mx, abs16(v));
  std::int16_t sh = mx == 0 ? std::int16_t{0} : sub16(4, norm16(mx));
  sh = std::max<std::int16_t>(sh, -2);

  std::array<std::int16_t, kHalfFrame> y;
  std::int32_t energy = 0;
  for (std::size_t n = 0; n < kHalfFrame; ++n) {
    y[n] = shr16(x[n], sh);
    energy = mac32(energy, y[n], y[n]);
  }
  std::int32_t acc = 0;
  for (std::size_t k = 0; k < kHalfFramePulses; ++k) {
    acc = mac32(acc, y[static_cast<std::size_t>(pulses.position[k])], pulses.sign[k]);
  }
  const std::int16_t cr = extract_high(shl32(acc, 1));

  const std::int16_t t = extract_low(shr32(mult32_16x16(gain, 60), 6));
  std::int32_t wanted = mult32_16x16(t, gain);
  wanted = shr32(wanted, add16(shl16(sh, 1), 4));

  // Root of smaller magnitude of A^2 + 2bA - (E - T)/11 = 0; a tie takes sqrt - b.
  const std::int32_t a = mult32_32x16(sub32(energy, wanted), kInvPulseCount);
  const std::int16_t b = mult16_round(cr, kInvPulseCount);
  const std::int32_t delta = negate32(msu32(a, b, b));
  std::int16_t amp;
  if (delta <= 0) {
    amp = negate16(b);
  } else {
    const std::int16_t q = sqrt32(delta);
    const std::int16_t a1 = sub16(q, b);
    const std::int16_t a2 = add16(b, q);
    amp = abs16(a2) >= abs16(a1) ? a1 : negate16(a2);
  }
  amp = shl16(amp, add16(sh, 1));
  return std::clamp<std::int16_t>(amp, -kMaxAmplitude, kMaxAmplitude);
}

}  // namespace

std::int16_t random16(std::int16_t& seed) {
  const auto s = static_cast<std::uint16_t>(static_cast<std::uint16_t>(seed) * 521u + 259u);
  seed = static_cast<std::int16_t>(s);
  return seed;
}

std::int16_t random_below(std::int16_t n, std::int16_t& seed) {
  return mult16(static_cast<std::int16_t>(random16(seed) & 0x7FFF), n);
}

std::int16_t sqrt32(std::int32_t x) {
  std::int16_t r = 0;
  std::int16_t b = 0x4000;
  for (int i = 0; i < 14; ++i) {
    const std::int16_t t = add16(r, b);
    if (x >= mult32_16x16(t, t)) r = t;
    b = shr16(b, 1);
  }
  return r;
}

void build_comfort_noise_excitation(const TableSet& tables, std::int16_t gain, std::span<std::int16_t, kHistorySamples> excitation_history,
                                    std::span<std::int16_t, kFrameSamples> exc, std::int16_t& random_seed,
                                    FrameParams& params) {
  // Random parameters, drawn in this order: lags, gain entries, per half frame the grid bases and signs,
  // then the positions.
  for (std::int16_t& lag : params.olp_lag) lag = static_cast<std::int16_t>(random_below(21, random_seed) + 123);
  for (SubframeParams& sub : params.sub) {
    sub.acb_gain_index = static_cast<std::int16_t>(random_below(50, random_seed) + 1);
  }
  for (std::size_t s = 0; s < kSubframes; ++s) params.sub[s].lag_delta = kLagDelta[s];

  std::array<std::int16_t, kSubframes> base{};
  std::array<Pulses, 2> pulses;
  for (std::size_t h = 0; h < 2; ++h) {
    const std::int16_t r = random_below(8192, random_seed);
    base[2 * h] = static_cast<std::int16_t>(r & 1);
    base[2 * h + 1] = static_cast<std::int16_t>(60 + ((r >> 1) & 1));
    for (std::size_t k = 0; k < kHalfFramePulses; ++k) {
      pulses[h].sign[k] = ((r >> (2 + k)) & 1) != 0 ? std::int16_t{16384} : std::int16_t{-16384};
    }
  }
  for (std::size_t s = 0; s < kSubframes; ++s) {
    std::array<std::int16_t, 30> slot;
    for (std::size_t i = 0; i < slot.size(); ++i) slot[i] = static_cast<std::int16_t>(i);
    const std::size_t first = (s & 1) != 0 ? static_cast<std::size_t>(kMpmlqPulseCount[s - 1]) : 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(kMpmlqPulseCount[s]); ++j) {
      const auto i = static_cast<std::size_t>(random_below(static_cast<std::int16_t>(30 - j), random_seed));
      pulses[s / 2].position[first + j] = add16(shl16(slot[i], 1), base[s]);
      slot[i] = slot[29 - j];
    }
  }

  for (std::size_t h = 0; h < 2; ++h) {
    const auto x = exc.subspan(kHalfFrame * h).first<kHalfFrame>();
    const SubframeParams& even = params.sub[2 * h];
    const SubframeParams& odd = params.sub[2 * h + 1];
    // The second subframe's pitch part reads the history as if it started 60 samples later.
    decode_adaptive_codebook(tables, x.first<kSubframeSamples>(), excitation_history, params.olp_lag[h], even.lag_delta,
                             even.acb_gain_index, kCngLagsUseLongTable);
    decode_adaptive_codebook(tables, x.last<kSubframeSamples>(), excitation_history, params.olp_lag[h], odd.lag_delta,
                             odd.acb_gain_index, kCngLagsUseLongTable, kSubframeSamples);

    const std::int16_t amp = pulse_amplitude(x, pulses[h], gain);
    for (std::size_t k = 0; k < kHalfFramePulses; ++k) {
      const auto p = static_cast<std::size_t>(pulses[h].position[k]);
      x[p] = add16(x[p], mult16(amp, pulses[h].sign[k]));
    }

    std::copy(excitation_history.begin() + kHalfFrame, excitation_history.end(), excitation_history.begin());
    std::ranges::copy(x, excitation_history.end() - kHalfFrame);
  }
}

std::int16_t decode_sid_gain(std::int16_t index) {
  std::int16_t seg = shr16(index, 4);
  if (seg == 3) seg = 2;
  const std::int16_t j = sub16(index, shl16(seg, 4));
  const auto s = static_cast<std::size_t>(seg);
  return shl16(add16(shl16(j, add16(seg, 1)), kSidGainSegmentBase[s]), 5);
}

std::int16_t smooth_comfort_noise_gain(std::int16_t cur_gain, std::int16_t sid_gain, bool after_speech) {
  if (after_speech) return sid_gain;
  return extract_high(add32(mult32_16x16(cur_gain, 0x7000), mult32_16x16(sid_gain, 0x1000)));
}

void generate_comfort_noise(const TableSet& tables, const ComfortNoiseMemory& mem, std::span<const std::int16_t, kLpcOrder> sid_lsp,
                            std::int16_t sid_gain, bool after_speech, std::span<std::int16_t, kFrameSamples> exc,
                            std::span<std::int16_t, kSubframes * kLpcOrder> lpc, FrameParams& params) {
  mem.cur_gain = smooth_comfort_noise_gain(mem.cur_gain, sid_gain, after_speech);
  build_comfort_noise_excitation(tables, mem.cur_gain, mem.excitation_history, exc, mem.random_seed, params);
  interpolate_lsp(lpc, sid_lsp, mem.prev_lsp);
  std::ranges::copy(sid_lsp, mem.prev_lsp.begin());
}

}  // namespace g7231
