#include "codec/encoder/comfort_noise_coding.h"

#include <algorithm>

#include "codec/common/comfort_noise_excitation.h"
#include "codec/encoder/lpc_analysis.h"
#include "codec/encoder/lsp_conversion.h"
#include "codec/encoder/lsp_quantiser.h"
#include "codec/tables/comfort_noise_tables.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;

using Lpc = std::array<std::int16_t, kLpcOrder>;

// The current frame's autocorrelation set: the newest in the history.
std::span<const std::int16_t, kLpcOrder + 1> current_acf(const CngState& cng) {
  return std::span(cng.cng_acf_history).first<kLpcOrder + 1>();
}

// LPC filter of an autocorrelation set; returns the final prediction error.
std::int16_t filter_of(Lpc& lpc, std::span<const std::int16_t, kLpcOrder + 1> r) {
  std::int16_t p2 = 0;
  return levinson_durbin(lpc, r.last<kLpcOrder>(), r[0], p2);
}

// Squared level of index j of a gain segment (level = base + j * 2^(seg + 1)).
std::int32_t level_power(std::size_t seg, std::int16_t j) {
  const std::int16_t level =
      add16(kSidGainSegmentBase[seg], shl16(j, static_cast<std::int16_t>(seg + 1)));
  return mult32_16x16(level, level);
}

}  // namespace

void encode_inactive_frame(G7231Encoder& enc, std::span<std::int16_t, kFrameSamples> exc, FrameKind& kind,
                           FrameParams& params, std::span<std::int16_t, kSubframes * kLpcOrder> lpc) {
  CngState& cng = enc.cng;
  const bool after_speech = cng.prev_frame_kind == static_cast<std::int16_t>(FrameKind::active);

  cng.energy_history[2] = cng.energy_history[1];
  cng.energy_history[1] = cng.energy_history[0];
  Lpc cur{};
  cng.energy_history[0] = filter_of(cur, current_acf(cng));

  // The first inactive frame after speech is always a SID frame; later ones only when the spectrum no
  // longer fits the last SID filter or the gain has moved by more than the threshold.
  std::int16_t q;
  const FilterAcf last_sid{cng.sid_filter_acf, cng.sid_filter_acf_shift};
  if (after_speech) {
    kind = FrameKind::sid;
    cng.energy_count = 1;
    q = quantise_sid_gain(cng.energy_history, cng.cng_acf_exponents, 1);
  } else {
    cng.energy_count = std::min<std::int16_t>(static_cast<std::int16_t>(cng.energy_count + 1), 3);
    q = quantise_sid_gain(cng.energy_history, cng.cng_acf_exponents, cng.energy_count);
    if (filter_matches_spectrum(last_sid, current_acf(cng), cng.energy_history[0]) == 0) {
      kind = FrameKind::sid;
    } else {
      kind = abs16(sub16(q, cng.sid_gain_index)) <= kSidGainThreshold ? FrameKind::untransmitted : FrameKind::sid;
    }
  }

  if (kind == FrameKind::sid) {
    Lpc sid_lpc = average_past_filter(cng);
    if (enc.vad.adapt_count == 0) enc.vad.noise_lpc = sid_lpc;
    FilterAcf sid = filter_autocorrelation(sid_lpc);
    if (filter_matches_spectrum(sid, current_acf(cng), cng.energy_history[0]) == 0) {
      sid_lpc = cur;
      sid = filter_autocorrelation(cur);
    }
    cng.sid_lpc = sid_lpc;
    cng.sid_filter_acf = sid.r;
    cng.sid_filter_acf_shift = sid.shift;

    lpc_to_lsp(cng.sid_lsp, cng.sid_lpc, enc.prev_lsp);
    params.lsp_index = quantise_lsp(*enc.tables, cng.sid_lsp, enc.prev_lsp, *enc.kernels);
    dequantise_lsp(*enc.tables, cng.sid_lsp, enc.prev_lsp, params.lsp_index, 0);

    params.sub[0].fcb_gain_index = q;
    cng.sid_gain_index = q;
    cng.sid_gain = decode_sid_gain(q);
  }

  generate_comfort_noise(*enc.tables, {cng.cur_gain, cng.random_seed, enc.excitation_history, enc.prev_lsp}, cng.sid_lsp,
                         cng.sid_gain, after_speech, exc, lpc, params);
  cng.prev_frame_kind = static_cast<std::int16_t>(kind);
}

std::array<std::int16_t, kLpcOrder> average_past_filter(const CngState& cng) {
  const auto& exps = cng.cng_acf_exponents;
  const std::int16_t m = std::min({exps[1], exps[2], exps[3]});
  const std::int16_t s = add16(m, 14);
  std::array<std::int32_t, kLpcOrder + 1> sum{};
  for (std::size_t k = 1; k <= 3; ++k) {
    const std::int16_t t = sub16(s, exps[k]);
    for (std::size_t i = 0; i <= kLpcOrder; ++i) {
      sum[i] = add32(sum[i], shl32(deposit_low(cng.cng_acf_history[(kLpcOrder + 1) * k + i]), t));
    }
  }
  std::int16_t u = sub16(16, norm32(sum[0]));
  if (u < 0) u = 0;
  AcfSet r;
  for (std::size_t i = 0; i <= kLpcOrder; ++i) r[i] = extract_low(shr32(sum[i], u));
  Lpc lpc{};
  filter_of(lpc, r);
  return lpc;
}

FilterAcf filter_autocorrelation(std::span<const std::int16_t, kLpcOrder> c) {
  std::int32_t acc = 0;
  for (std::int16_t v : c) acc = mac32(acc, v, v);
  acc = add32(shr32(acc, 1), 0x04000000);  // 1 + sum of squares, Q26

  FilterAcf out;
  out.shift = static_cast<std::int16_t>(norm32(acc) - 2);
  out.r[0] = round32_to16(shl32(acc, out.shift));
  for (std::size_t j = 1; j <= kLpcOrder; ++j) {
    acc = mult32_16x16(-8192, c[j - 1]);
    for (std::size_t k = 0; k + j < kLpcOrder; ++k) acc = mac32(acc, c[k], c[k + j]);
    out.r[j] = round32_to16(shl32(acc, out.shift));
  }
  return out;
}

std::int16_t filter_matches_spectrum(const FilterAcf& filter, std::span<const std::int16_t, kLpcOrder + 1> a,
                                     std::int16_t e) {
  std::int32_t acc = 0;
  for (std::size_t i = 0; i <= kLpcOrder; ++i) acc = mac32(acc, filter.r[i], shr16(a[i], 2));
  const std::int32_t limit = shl32(add32(mult16_round(e, 7000), e), add16(filter.shift, 9));  // e * 1.2136
  return acc < limit ? 1 : 0;
}

std::int16_t quantise_sid_gain(std::span<const std::int16_t, 3> energies, std::span<const std::int16_t, 4> exponents,
                               std::int16_t n) {
  const auto count = static_cast<std::size_t>(n);
  const std::int16_t m = *std::min_element(exponents.begin(), exponents.begin() + n);
  std::int32_t acc = 0;
  for (std::size_t k = 0; k < count; ++k) {
    acc = add32(acc, deposit_low(mult16_round(kSidGainFactor[count], shr16(energies[k], sub16(exponents[k], m)))));
  }
  const std::int32_t l = shl32(acc, sub16(15, m));
  if (l >= kSidGainSegmentBounds[2]) return 63;

  std::size_t seg;
  std::int16_t steps;
  if (l >= kSidGainSegmentBounds[1]) {
    seg = 2;
    steps = 4;
  } else {
    steps = 3;
    seg = l >= kSidGainSegmentBounds[0] ? 1 : 0;
  }

  // Bisection over the segment's levels, then the nearer neighbour; ties go to the neighbour.
  std::int16_t j = shl16(1, steps);
  std::int16_t d = static_cast<std::int16_t>(j / 2);
  for (std::int16_t i = 0; i < steps; ++i) {
    j = l < level_power(seg, j) ? sub16(j, d) : add16(j, d);
    d = shr16(d, 1);
  }
  const std::int32_t pj = level_power(seg, j);
  if (pj > l) {
    const auto below = static_cast<std::int16_t>(j - 1);
    if (sub32(l, level_power(seg, below)) <= sub32(pj, l)) j = below;
  } else {
    const auto above = static_cast<std::int16_t>(j + 1);
    if (sub32(level_power(seg, above), l) <= sub32(l, pj)) j = above;
  }
  return add16(shl16(static_cast<std::int16_t>(seg), 4), j);
}


}  // namespace g7231
