#include "codec/encoder/comfort_noise_coding.h"
#include "codec/tables/builtin_table_set.h"
#include "codec/encoder/encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "codec/encoder/lpc_analysis.h"
#include "codec/encoder/lsp_conversion.h"
#include "codec/common/lsp_interpolation.h"
#include "codec/encoder/lsp_quantiser.h"
#include "fixedpoint/basic_ops.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

using namespace fx;
using Lpc = std::array<std::int16_t, kLpcOrder>;
using Frame = std::array<std::int16_t, kFrameSamples>;
using LpcSets = std::array<std::int16_t, kSubframes * kLpcOrder>;

// ---- SID gain ----

std::int16_t ref_quantise(const std::array<std::int16_t, 3>& e, const std::array<std::int16_t, 4>& x, int n) {
  constexpr std::array<std::int16_t, 4> factor = {273, 998, 499, 333};
  constexpr std::array<std::int16_t, 3> base = {0, 32, 96};
  const std::int16_t m = *std::min_element(x.begin(), x.begin() + n);
  std::int32_t acc = 0;
  for (int k = 0; k < n; ++k) acc = add32(acc, deposit_low(mult16_round(factor[n], shr16(e[k], sub16(x[k], m)))));
  const std::int32_t l = shl32(acc, sub16(15, m));
  if (l >= 231233) return 63;
  const int seg = l >= 18432 ? 2 : l >= 2048 ? 1 : 0;
  const int steps = seg == 2 ? 4 : 3;
  auto p = [&](std::int16_t j) {
    const std::int16_t level = add16(base[seg], shl16(j, static_cast<std::int16_t>(seg + 1)));
    return mult32_16x16(level, level);
  };
  std::int16_t j = shl16(1, static_cast<std::int16_t>(steps)), d = static_cast<std::int16_t>(j / 2);
  for (int i = 0; i < steps; ++i, d = shr16(d, 1)) j = l < p(j) ? sub16(j, d) : add16(j, d);
  if (p(j) > l) {
    if (sub32(l, p(static_cast<std::int16_t>(j - 1))) <= sub32(p(j), l)) --j;
  } else if (sub32(p(static_cast<std::int16_t>(j + 1)), l) <= sub32(l, p(j))) {
    ++j;
  }
  return add16(shl16(static_cast<std::int16_t>(seg), 4), j);
}

TEST(SidGain, QuantiserMatchesTheStepwiseSearch) {
  std::mt19937 rng(5);
  std::array<int, 64> hits{};
  for (int i = 0; i < 40000; ++i) {
    std::array<std::int16_t, 3> e;
    std::array<std::int16_t, 4> x;
    for (auto& v : e) v = static_cast<std::int16_t>(rng() % 32768 >> rng() % 15);
    for (auto& v : x) v = static_cast<std::int16_t>(rng() % 20);
    const auto n = static_cast<std::int16_t>(1 + i % 3);
    const std::int16_t q = quantise_sid_gain(e, x, n);
    ASSERT_EQ(q, ref_quantise(e, x, n)) << "case " << i;
    ++hits[static_cast<std::size_t>(q)];
  }
  EXPECT_TRUE(std::ranges::all_of(hits, [](int h) { return h > 0; }));
}

TEST(SidGain, QuantiserEdgesAndTies) {
  // One energy e at exponent x gives L = round(998 e / 2^15) * 2^(15 - x).
  auto index_for = [](int rounded, std::int16_t x) {
    std::int16_t e = 0;
    while (mult16_round(998, e) < rounded) ++e;
    return quantise_sid_gain(std::array<std::int16_t, 3>{e, 9999, 9999}, std::array<std::int16_t, 4>{x, 0, 0, 0}, 1);
  };
  EXPECT_EQ(index_for(0, 0), 0);
  EXPECT_EQ(index_for(1, 13), 0);    // L = 4, halfway between levels 0 and 2: the lower neighbour
  EXPECT_EQ(index_for(5, 13), 2);    // L = 20, halfway between levels 2 and 4: the upper neighbour
  EXPECT_EQ(index_for(903, 7), 62);  // L = 231168
  EXPECT_EQ(index_for(904, 7), 63);  // L = 231424, above the top of the last segment
  EXPECT_EQ(index_for(998, 0), 63);
}

// ---- filters ----

AcfSet ref_filter_acf(const Lpc& c, std::int16_t& shift) {
  std::int32_t acc = 0;
  for (std::int16_t v : c) acc = mac32(acc, v, v);
  acc = add32(shr32(acc, 1), 0x04000000);
  shift = static_cast<std::int16_t>(norm32(acc) - 2);
  AcfSet r;
  r[0] = round32_to16(shl32(acc, shift));
  for (int j = 1; j <= 10; ++j) {
    acc = mult32_16x16(-8192, c[j - 1]);
    for (int k = 0; k <= 9 - j; ++k) acc = mac32(acc, c[k], c[k + j]);
    r[j] = round32_to16(shl32(acc, shift));
  }
  return r;
}

std::int16_t ref_matches(const AcfSet& r, std::int16_t shift, const AcfSet& a, std::int16_t e) {
  std::int32_t acc = 0;
  for (int i = 0; i <= 10; ++i) acc = mac32(acc, r[i], shr16(a[i], 2));
  return acc < shl32(add32(mult16_round(e, 7000), e), add16(shift, 9)) ? 1 : 0;
}

TEST(SidFilter, AutocorrelationAndFitMatchTheStepwiseComputation) {
  const FilterAcf flat = filter_autocorrelation(Lpc{});
  EXPECT_EQ(flat.shift, 2);
  EXPECT_EQ(flat.r, (AcfSet{4096, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

  std::mt19937 rng(11);
  std::array<int, 2> outcomes{};
  for (int i = 0; i < 5000; ++i) {
    Lpc c;
    const int range = 1 << (8 + i % 8);
    for (auto& v : c) v = static_cast<std::int16_t>(static_cast<int>(rng() % (2 * range)) - range);
    std::int16_t shift = 0;
    const AcfSet r = ref_filter_acf(c, shift);
    const FilterAcf got = filter_autocorrelation(c);
    ASSERT_EQ(got.r, r) << "case " << i;
    ASSERT_EQ(got.shift, shift) << "case " << i;

    AcfSet a;
    a[0] = static_cast<std::int16_t>(rng() % 32768);
    for (int k = 1; k <= 10; ++k) a[k] = static_cast<std::int16_t>(static_cast<int>(rng() % (2 * a[0] + 1)) - a[0]);
    const auto e = static_cast<std::int16_t>(rng() % 32768 >> rng() % 12);
    const std::int16_t fit = filter_matches_spectrum(got, a, e);
    ASSERT_EQ(fit, ref_matches(r, shift, a, e)) << "case " << i;
    ++outcomes[static_cast<std::size_t>(fit)];
  }
  EXPECT_GT(outcomes[0], 0);
  EXPECT_GT(outcomes[1], 0);

  // Equality with the limit is no fit: E = 32 gives limit (32 + 7) << 9 = 2 * 39 * (1024 >> 2).
  const FilterAcf r39{AcfSet{39}, 0};
  EXPECT_EQ(filter_matches_spectrum(r39, AcfSet{1024}, 32), 0);
  EXPECT_EQ(filter_matches_spectrum(r39, AcfSet{1020}, 32), 1);
}

Lpc filter_of(std::span<const std::int16_t> r, std::int16_t* error = nullptr) {
  Lpc lpc;
  std::int16_t p2 = 0;
  const std::int16_t e = levinson_durbin(lpc, r.subspan(1).first<kLpcOrder>(), r[0], p2);
  if (error) *error = e;
  return lpc;
}

Lpc ref_average(const CngState& cng) {
  const auto& x = cng.cng_acf_exponents;
  const std::int16_t s = add16(std::min({x[1], x[2], x[3]}), 14);
  std::array<std::int32_t, 11> sum{};
  for (int k = 1; k <= 3; ++k) {
    for (int i = 0; i <= 10; ++i)
      sum[i] = add32(sum[i], shl32(deposit_low(cng.cng_acf_history[11 * k + i]), sub16(s, x[k])));
  }
  const std::int16_t u = std::max<std::int16_t>(0, sub16(16, norm32(sum[0])));
  AcfSet r;
  for (int i = 0; i <= 10; ++i) r[i] = extract_low(shr32(sum[i], u));
  return filter_of(r);
}

// ---- inactive frames on a real encoder state ----

using EncoderPtr = std::unique_ptr<G7231Encoder>;

// Encodes frames of a speech file, calling check(encoder before, encoder after, frame-type code) per frame.
template <class Check>
void run_speech(G7231Encoder& enc, const char* file, Check check) {
  const std::vector<std::int16_t> speech = load_speech_sample(file);
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    Frame frame;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> out;
    const G7231Encoder before = enc;
    ASSERT_TRUE(encode_frame(&enc, frame, out));
    if (!check(before, enc, out[0] & 3, f / kFrameSamples)) return;
  }
}

std::int16_t seed_after_30_draws(std::int16_t seed) {
  for (int i = 0; i < 30; ++i) seed = static_cast<std::int16_t>(static_cast<std::uint16_t>(seed) * 521u + 259u);
  return seed;
}

TEST(InactiveFrames, SpeechWithPausesKeepsTheComfortNoiseRules) {
  for (const char* file : {"cross.raw", "hts1a.raw", "big_dog.raw"}) {
    std::array<int, 4> kinds{};
    auto enc = std::make_unique<G7231Encoder>(1, 1, 1, 1);
    run_speech(*enc, file, [&](const G7231Encoder& was, const G7231Encoder& is, int type, std::size_t f) {
      ++kinds[static_cast<std::size_t>(type)];
      const CngState &a = was.cng, &b = is.cng;
      EXPECT_EQ(average_past_filter(b), ref_average(b)) << file << " frame " << f;
      if (type == 1) {
        EXPECT_EQ(b.random_seed, 12345);
        EXPECT_EQ(b.prev_frame_kind, 1);
        return true;
      }
      EXPECT_NE(type, 0) << file << " frame " << f;
      if (a.prev_frame_kind == 1) {
        EXPECT_EQ(type, 2) << "first inactive frame, " << file << " frame " << f;
      }
      EXPECT_EQ(b.prev_frame_kind, type == 2 ? 2 : 0);
      EXPECT_EQ(b.random_seed, seed_after_30_draws(a.random_seed));
      EXPECT_EQ(b.energy_count, a.prev_frame_kind == 1 ? 1 : std::min(a.energy_count + 1, 3));
      EXPECT_EQ(is.prev_lsp, b.sid_lsp);
      if (type == 2 && is.vad.adapt_count == 0) {
        EXPECT_EQ(is.vad.noise_lpc, average_past_filter(b)) << file << " frame " << f;
      } else {
        EXPECT_EQ(is.vad.noise_lpc, was.vad.noise_lpc) << file << " frame " << f;
      }
      if (type == 3) {  // untransmitted: the last SID description stands, the gain glides towards it
        EXPECT_EQ(b.sid_lsp, a.sid_lsp);
        EXPECT_EQ(b.sid_lpc, a.sid_lpc);
        EXPECT_EQ(b.sid_filter_acf, a.sid_filter_acf);
        EXPECT_EQ(b.sid_gain_index, a.sid_gain_index);
        EXPECT_LE(std::abs(quantise_sid_gain(b.energy_history, b.cng_acf_exponents, b.energy_count) - a.sid_gain_index),
                  3);
        EXPECT_EQ(b.cur_gain, extract_high(add32(mult32_16x16(a.cur_gain, 0x7000), mult32_16x16(a.sid_gain, 0x1000))));
      }
      return true;
    });
    EXPECT_GT(kinds[1], 0) << file;
    EXPECT_GT(kinds[2], 0) << file;
    EXPECT_GT(kinds[3], 0) << file;
  }
}

TEST(InactiveFrames, DetectionOffKeepsEveryFrameActive) {
  auto enc = std::make_unique<G7231Encoder>(1, 1, 0, 1);
  run_speech(*enc, "cross.raw", [](const G7231Encoder&, const G7231Encoder& is, int type, std::size_t f) {
    EXPECT_EQ(type, 1) << "frame " << f;
    EXPECT_EQ(is.cng.random_seed, 12345);
    EXPECT_EQ(is.cng.prev_frame_kind, 1);
    return true;
  });
}

// An encoder whose current autocorrelation set is a voiced frame of real speech.
EncoderPtr voiced_state() {
  auto enc = std::make_unique<G7231Encoder>(1, 1, 1, 1);
  run_speech(*enc, "hts1a.raw",
             [](const G7231Encoder&, const G7231Encoder&, int type, std::size_t f) { return !(type == 1 && f >= 20); });
  return enc;
}

struct Outcome {
  FrameKind kind = FrameKind::untransmitted;
  FrameParams params;
  LpcSets lpc{};
};

Outcome run_inactive(G7231Encoder& enc) {
  Outcome o;
  o.params.lsp_index = -1;
  o.params.sub[0].fcb_gain_index = -1;
  Frame exc;
  encode_inactive_frame(enc, exc, o.kind, o.params, o.lpc);
  return o;
}

TEST(InactiveFrames, GainChangeOfMoreThanThreeOrAMovedSpectrumSendsASid) {
  const EncoderPtr base = voiced_state();
  CngState& cng = base->cng;
  std::int16_t e0 = 0;
  const Lpc cur = filter_of(cng.cng_acf_history, &e0);
  const FilterAcf own = filter_autocorrelation(cur);
  ASSERT_EQ(filter_matches_spectrum(own, std::span(cng.cng_acf_history).first<11>(), e0), 1);
  cng.prev_frame_kind = 0;
  cng.energy_count = 1;
  cng.sid_filter_acf = own.r;
  cng.sid_filter_acf_shift = own.shift;
  const std::array<std::int16_t, 3> aged = {e0, cng.energy_history[0], cng.energy_history[1]};
  const std::int16_t q = ref_quantise(aged, cng.cng_acf_exponents, 2);
  const int dir = q >= 32 ? -1 : 1;
  for (const int change : {0, 3, 4}) {
    G7231Encoder enc = *base;
    enc.cng.sid_gain_index = static_cast<std::int16_t>(q + dir * change);
    const Outcome o = run_inactive(enc);
    EXPECT_EQ(o.kind, change <= 3 ? FrameKind::untransmitted : FrameKind::sid) << "change " << change;
    EXPECT_EQ(enc.cng.sid_gain_index, change <= 3 ? q + dir * change : q);
    EXPECT_EQ(o.params.sub[0].fcb_gain_index, change <= 3 ? -1 : q);
    if (change <= 3) {
      EXPECT_EQ(o.params.lsp_index, -1);  // nothing of a SID is written
    }
  }
  // Same gain, but the last SID filter (flat) no longer describes the spectrum.
  G7231Encoder enc = *base;
  enc.cng.sid_gain_index = q;
  const FilterAcf flat = filter_autocorrelation(Lpc{});
  enc.cng.sid_filter_acf = flat.r;
  enc.cng.sid_filter_acf_shift = flat.shift;
  ASSERT_EQ(filter_matches_spectrum(flat, std::span(cng.cng_acf_history).first<11>(), e0), 0);
  EXPECT_EQ(run_inactive(enc).kind, FrameKind::sid);
}

TEST(InactiveFrames, FirstInactiveFrameAfterSpeechIsASidOfThisFramesEnergy) {
  G7231Encoder enc = *voiced_state();
  enc.cng.prev_frame_kind = 1;
  enc.cng.energy_history = {3, 30000, 30000};
  enc.cng.energy_count = 3;
  enc.cng.cur_gain = 5000;
  std::int16_t e0 = 0;
  const FilterAcf own = filter_autocorrelation(filter_of(enc.cng.cng_acf_history, &e0));
  const std::int16_t q = ref_quantise({e0, 0, 0}, enc.cng.cng_acf_exponents, 1);
  enc.cng.sid_filter_acf = own.r;  // a last SID that still fits, with the same gain
  enc.cng.sid_filter_acf_shift = own.shift;
  enc.cng.sid_gain_index = q;
  const Outcome o = run_inactive(enc);
  EXPECT_EQ(o.kind, FrameKind::sid);
  EXPECT_EQ(enc.cng.energy_count, 1);
  EXPECT_EQ(enc.cng.energy_history, (std::array<std::int16_t, 3>{e0, 3, 30000}));
  EXPECT_EQ(o.params.sub[0].fcb_gain_index, q);
  EXPECT_EQ(enc.cng.sid_gain, decode_sid_gain(q));
  EXPECT_EQ(enc.cng.cur_gain, enc.cng.sid_gain);
  EXPECT_EQ(enc.cng.random_seed, seed_after_30_draws(12345));
}

TEST(InactiveFrames, SidFilterIsTheAverageWhileItFitsAndNoiseFilterTakesTheAverage) {
  const EncoderPtr base = voiced_state();
  base->cng.prev_frame_kind = 1;
  base->vad.noise_lpc.fill(77);
  const std::span<const std::int16_t> current = std::span(base->cng.cng_acf_history).first<11>();

  std::int16_t e0 = 0;
  const Lpc cur = filter_of(current, &e0);

  // The previous three frames have a slightly smoother spectrum: their average still fits and is sent.
  G7231Encoder same = *base;
  for (std::size_t k = 1; k <= 3; ++k) {
    for (std::size_t i = 0; i <= 10; ++i) {
      same.cng.cng_acf_history[11 * k + i] = static_cast<std::int16_t>(i == 0 ? current[0] : current[i] * 31 / 32);
    }
    same.cng.cng_acf_exponents[k] = same.cng.cng_acf_exponents[0];
  }
  const Lpc average = average_past_filter(same.cng);
  ASSERT_NE(average, cur);
  ASSERT_EQ(filter_matches_spectrum(filter_autocorrelation(average), current.first<11>(), e0), 1);
  run_inactive(same);
  EXPECT_EQ(same.cng.sid_lpc, average);
  EXPECT_EQ(same.vad.noise_lpc, average);

  // White previous frames: the flat average does not fit the voiced frame, whose own filter is sent;
  // the noise filter still takes the flat average, and stays put while adapt_count is non-zero.
  G7231Encoder white = *base;
  for (int k = 1; k <= 3; ++k) {
    std::ranges::fill(std::span(white.cng.cng_acf_history).subspan(11 * k, 11), 0);
    white.cng.cng_acf_history[11 * k] = 16384;
  }
  ASSERT_EQ(average_past_filter(white.cng), Lpc{});
  ASSERT_EQ(filter_matches_spectrum(filter_autocorrelation(Lpc{}), current.first<11>(), e0), 0);
  G7231Encoder held = white;
  held.vad.adapt_count = 2;
  const auto old_prev = white.prev_lsp;
  const Outcome o = run_inactive(white);
  EXPECT_EQ(white.cng.sid_lpc, cur);
  EXPECT_EQ(white.cng.sid_filter_acf, filter_autocorrelation(cur).r);
  EXPECT_EQ(white.vad.noise_lpc, Lpc{});
  run_inactive(held);
  EXPECT_EQ(held.cng.sid_lpc, cur);
  EXPECT_EQ(held.vad.noise_lpc, base->vad.noise_lpc);

  // The sent filter travels as a quantised LSP vector, which also drives the four subframe filters.
  Lpc lsp;
  lpc_to_lsp(lsp, cur, old_prev);
  EXPECT_EQ(o.params.lsp_index, quantise_lsp(kBuiltinTableSet, lsp, old_prev));
  dequantise_lsp(kBuiltinTableSet, lsp, old_prev, o.params.lsp_index, 0);
  EXPECT_EQ(white.cng.sid_lsp, lsp);
  EXPECT_EQ(white.prev_lsp, lsp);
  LpcSets expected;
  interpolate_lsp(expected, lsp, old_prev);
  EXPECT_EQ(o.lpc, expected);
}

}  // namespace
}  // namespace g7231
