#include "codec/encoder/lpc_analysis.h"

#include <algorithm>
#include <array>
#include <bit>

#include "codec/encoder/input_conditioning.h"
#include "codec/tables/lpc_analysis_tables.h"
#include "fixedpoint/basic_ops.h"
#include "fixedpoint/block_ops.h"

namespace g7231 {

using fx::abs32;
using fx::add16;
using fx::add32;
using fx::kExactFastPaths;
using fx::kMax32;
using fx::sum_of_squares;
using fx::deposit_high;
using fx::deposit_low;
using fx::div32_16;
using fx::extract_low;
using fx::msu32;
using fx::mult16_round;
using fx::mult32_16x16;
using fx::mult32_32x16;
using fx::negate16;
using fx::norm32;
using fx::round32_to16;
using fx::shl16;
using fx::shl32;
using fx::shr32;
using fx::sub16;

namespace {

constexpr std::size_t kBlockSamples = kLpcWindowLength;  // 120 samples before the subframe, then the subframe
constexpr std::int16_t kSilentExponent = 40;             // exponent of an all-zero block's autocorrelation

}  // namespace

BlockAutocorrelation autocorrelate_block(std::span<std::int16_t, kLpcWindowLength> block, const DspKernels& kernels) {
  BlockAutocorrelation out;
  const std::int16_t shift = normalize_block(block);
  // The window is positive, so mult16_round never saturates here and is the plain rounded product.
  static_assert(std::ranges::all_of(kLpcWindow, [](std::int16_t w) { return w > 0; }));
  if (kExactFastPaths) {
    for (std::size_t n = 0; n < kBlockSamples; ++n) {
      block[n] = static_cast<std::int16_t>((std::int32_t{block[n]} * kLpcWindow[n] + 0x4000) >> 15);
    }
  } else {
    for (std::size_t n = 0; n < kBlockSamples; ++n) block[n] = mult16_round(block[n], kLpcWindow[n]);
  }

  // The energy: a saturating sum of the non-negative v^2 (2^30 - 1 for v = -32768, whose doubled square
  // saturates) is the plain sum capped at the 32-bit maximum.
  const std::int64_t squares = sum_of_squares(block);
  std::int32_t acc = 0;
  if (kExactFastPaths) {
    const auto full_scale = static_cast<std::int64_t>(std::ranges::count(block, std::int16_t{-32768}));
    acc = static_cast<std::int32_t>(std::min<std::int64_t>(squares - full_scale, kMax32));
  } else {
    for (const std::int16_t v : block) acc = add32(acc, shr32(mult32_16x16(v, v), 1));
  }
  acc = add32(acc, shr32(acc, 10));  // white-noise correction: energy times 1025/1024
  const std::int16_t e = norm32(acc);
  out.r[0] = round32_to16(shl32(acc, e));
  if (out.r[0] == 0) {
    out.exponent = kSilentExponent;
    return out;
  }

  // Every partial sum of the lagged products is at most the block's sum of squares in magnitude; within
  // 32 bits (which also rules out two samples of -32768) the plain sums, all lags at once, are exact.
  const bool plain = kExactFastPaths && squares <= kMax32;
  std::array<std::int32_t, kAcfLags> lagged{};
  if (plain) {
    // The block after zeros (for the lags) and before zeros (to the kernel's multiple of 8).
    constexpr std::size_t kLead = 16;
    std::array<std::int16_t, kLead + kBlockSamples + 4> line{};
    std::ranges::copy(block, line.begin() + kLead);
    kernels.lagged_correlations(line.data() + kLead, line.data() + kLead, kBlockSamples + 4, kAcfLags, lagged.data());
  }
  for (std::size_t lag = 1; lag < kAcfLags; ++lag) {
    if (plain) {
      acc = lagged[lag];
    } else {
      acc = 0;
      for (std::size_t n = lag; n < kBlockSamples; ++n) acc = add32(acc, shr32(mult32_16x16(block[n], block[n - lag]), 1));
    }
    out.r[lag] = round32_to16(mult32_32x16(shl32(acc, e), kLagWindow[lag - 1]));
  }
  out.exponent = add16(e, shl16(shift, 1));
  return out;
}

std::int16_t push_sine_flag(std::int16_t detector, std::int16_t p2) {
  // A plain 16-bit shift: the top bit falls out.
  auto bits = static_cast<std::uint16_t>(static_cast<std::uint16_t>(detector) << 1);
  if (p2 > kSineThreshold) bits |= 1U;
  return static_cast<std::int16_t>(bits);
}

std::int16_t settle_sine_detector(std::int16_t detector) {
  auto bits = static_cast<std::uint16_t>(static_cast<std::uint16_t>(detector) & 0x7FFFU);
  if (std::popcount(bits) >= 14) bits |= 0x8000U;
  return static_cast<std::int16_t>(bits);
}

void analyse_lpc(std::span<std::int16_t, kSubframes * kLpcOrder> lpc_out,
                 std::span<const std::int16_t, kAnalysisHistorySamples> history,
                 std::span<const std::int16_t, kFrameSamples> frame, std::int16_t& sine_detector, CngState& cng,
                 const DspKernels& kernels) {
  std::array<std::int16_t, kAnalysisHistorySamples + kFrameSamples> seq;
  std::ranges::copy(history, seq.begin());
  std::ranges::copy(frame, seq.begin() + kAnalysisHistorySamples);

  std::array<std::int16_t, kSubframes * kAcfLags> r{};
  std::array<std::int16_t, kSubframes> x{};
  for (std::size_t k = 0; k < kSubframes; ++k) {
    std::array<std::int16_t, kBlockSamples> block;
    std::copy_n(seq.begin() + kSubframeSamples * k, kBlockSamples, block.begin());
    const BlockAutocorrelation acf = autocorrelate_block(block, kernels);
    std::ranges::copy(acf.r, r.begin() + kAcfLags * k);
    x[k] = acf.exponent;

    std::int16_t p2 = 0;
    (void)levinson_durbin(lpc_out.subspan(kLpcOrder * k).first<kLpcOrder>(),
                          std::span(acf.r).subspan<1, kLpcOrder>(), acf.r[0], p2);
    sine_detector = push_sine_flag(sine_detector, p2);
  }
  sine_detector = settle_sine_detector(sine_detector);
  store_frame_autocorrelation(r, x, cng);
}

std::int16_t levinson_durbin(std::span<std::int16_t, kLpcOrder> lpc_out, std::span<const std::int16_t, kLpcOrder> corr,
                             std::int16_t energy, std::int16_t& p2_out) {
  std::array<std::int16_t, kLpcOrder> a{};
  std::int16_t err = energy;
  std::int16_t p2 = 0;  // always overwritten: by stage 1, or by an early stop before it
  for (std::size_t i = 0; i < kLpcOrder; ++i) {
    std::int32_t acc = shr32(deposit_high(corr[i]), 2);
    for (std::size_t j = 0; j < i; ++j) acc = msu32(acc, a[j], corr[i - 1 - j]);
    acc = shl32(acc, 2);

    // Stop when the correlation to remove is no smaller than the remaining error (this covers err <= 0,
    // so the division below always has a positive divisor and a quotient below one).
    const std::int32_t m = abs32(acc);
    if (m >= deposit_high(err)) {
      p2 = 32767;
      break;
    }
    std::int16_t k = div32_16(m, err);
    if (acc >= 0) k = negate16(k);
    if (i == 1) p2 = k;

    a[i] = round32_to16(shr32(deposit_high(negate16(k)), 2));
    err = round32_to16(add32(mult32_32x16(acc, k), deposit_high(err)));
    if (i > 0) {
      const std::array<std::int16_t, kLpcOrder> t = a;
      // round32_to16(mac32(deposit_high(a[j]), k, t)): mac_round16 adds the rounded product to a[j] in 16 bits,
      // which lands on the same value, saturation included (fixedpoint/block_ops.h).
      for (std::size_t j = 0; j < i; ++j) a[j] = fx::mac_round16(a[j], k, t[i - 1 - j]);
    }
  }
  std::ranges::copy(a, lpc_out.begin());
  p2_out = p2;
  return err;
}

void store_frame_autocorrelation(std::span<const std::int16_t, kSubframes * kAcfLags> r,
                                 std::span<const std::int16_t, kSubframes> x, CngState& cng) {
  auto& history = cng.cng_acf_history;
  auto& exponents = cng.cng_acf_exponents;
  std::copy_backward(history.begin(), history.end() - kAcfLags, history.end());
  std::copy_backward(exponents.begin(), exponents.end() - 1, exponents.end());

  // Bring every subframe set to the scale of the one with the smallest exponent, with 14 bits to spare.
  const std::int16_t h = add16(*std::ranges::min_element(x), 14);
  std::array<std::int32_t, kAcfLags> sums{};
  for (std::size_t k = 0; k < kSubframes; ++k) {
    const std::int16_t d = sub16(h, x[k]);
    for (std::size_t j = 0; j < kAcfLags; ++j) sums[j] = add32(sums[j], shl32(deposit_low(r[kAcfLags * k + j]), d));
  }

  // Back to 16 bits; a sum that already fits keeps its scale.
  std::int16_t d = sub16(16, norm32(sums[0]));
  if (d < 0) d = 0;
  for (std::size_t j = 0; j < kAcfLags; ++j) history[j] = extract_low(shr32(sums[j], d));
  exponents[0] = sub16(h, d);
}

}  // namespace g7231
