// The postfilter: it keeps each frame's level through every kind of frame, deepens the valleys between
// formants by a moderate amount without tilting the spectrum, enhances a periodic excitation, and works
// linearly up to full scale.
#include "codec/decoder/postfilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "tests/codec/decoder/signals.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

using Frame = std::array<std::int16_t, kFrameSamples>;
using Lpc = std::array<std::int16_t, kLpcOrder>;

constexpr double kPi = 3.14159265358979;

// Decodes the coded signal with and without the postfilter.
void decode_both(const std::vector<std::int16_t>& signal, bool high_rate, std::vector<Frame>& plain,
                 std::vector<Frame>& filtered) {
  G7231Encoder* enc = create_encoder(high_rate);
  G7231Decoder* off = create_decoder({.postfilter = false});
  G7231Decoder* on = create_decoder({.postfilter = true});
  for (std::size_t f = 0; f + kFrameSamples <= signal.size(); f += kFrameSamples) {
    Frame frame;
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> p;
    encode_frame(enc, frame, p);
    const auto bytes = std::span(p).first(frame_bytes(frame_type_of(p[0])));
    decode_frame(off, bytes, false, plain.emplace_back());
    decode_frame(on, bytes, false, filtered.emplace_back());
  }
  destroy_encoder(enc);
  destroy_decoder(off);
  destroy_decoder(on);
}

double power(std::span<const std::int16_t> x) {
  double e = 0;
  for (const std::int16_t v : x) e += static_cast<double>(v) * v;
  return e / static_cast<double>(x.size());
}

// The LPC set (Q13) of 1/A(z) with resonances at the given frequencies (Hz) and pole radii.
Lpc resonances(std::initializer_list<std::pair<double, double>> poles) {
  std::vector<double> c = {1.0};  // A(z) = sum c_i z^-i
  for (const auto& [f, r] : poles) {
    const std::array<double, 3> section = {1.0, -2 * r * std::cos(2 * kPi * f / 8000), r * r};
    std::vector<double> next(c.size() + 2, 0.0);
    for (std::size_t i = 0; i < c.size(); ++i) {
      for (std::size_t j = 0; j < 3; ++j) next[i + j] += c[i] * section[j];
    }
    c = next;
  }
  Lpc a{};
  for (std::size_t i = 1; i < c.size(); ++i) a[i - 1] = static_cast<std::int16_t>(std::lround(-c[i] * 8192));
  return a;
}

// x through 1/A(z), in double precision.
std::vector<double> through_lpc(const std::vector<double>& x, const Lpc& a) {
  std::vector<double> y(x.size());
  for (std::size_t n = 0; n < x.size(); ++n) {
    double acc = x[n];
    for (std::size_t k = 0; k < kLpcOrder && k < n; ++k) acc += a[k] / 8192.0 * y[n - 1 - k];
    y[n] = acc;
  }
  return y;
}

std::vector<std::int16_t> to_samples(const std::vector<double>& x, double peak) {
  double largest = 0;
  for (const double v : x) largest = std::max(largest, std::abs(v));
  std::vector<std::int16_t> out(x.size());
  for (std::size_t n = 0; n < x.size(); ++n) out[n] = static_cast<std::int16_t>(std::lround(x[n] / largest * peak));
  return out;
}

// Postfilters a whole signal with one LPC set and one lag (0: none).
std::vector<std::int16_t> postfilter(const std::vector<std::int16_t>& x, const Lpc& a, std::int16_t lag) {
  PostfilterState state;
  std::vector<std::int16_t> y(x.size());
  for (std::size_t s = 0; s + kSubframeSamples <= x.size(); s += kSubframeSamples) {
    postfilter_subframe(state, std::span(x).subspan(s).first<kSubframeSamples>(), a, lag,
                        std::span(y).subspan(s).first<kSubframeSamples>());
  }
  return y;
}

// Power at frequency f (Hz), averaged over Hann-windowed blocks after the first second.
double power_at(const std::vector<std::int16_t>& x, double f, std::size_t block = 256) {
  const std::size_t kBlock = block;
  double sum = 0;
  int blocks = 0;
  for (std::size_t start = 8000; start + kBlock <= x.size(); start += kBlock / 2, ++blocks) {
    double re = 0, im = 0;
    for (std::size_t n = 0; n < kBlock; ++n) {
      const double w = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(n) / kBlock);
      re += w * x[start + n] * std::cos(2 * kPi * f * static_cast<double>(n) / 8000);
      im += w * x[start + n] * std::sin(2 * kPi * f * static_cast<double>(n) / 8000);
    }
    sum += re * re + im * im;
  }
  return sum / blocks;
}

double db(double ratio) { return 10 * std::log10(ratio); }

// Every frame of speech, comfort noise and full-scale extremes keeps the level the unfiltered synthesis
// has: the gain control follows each subframe, so no onset is lost and no frame jumps out.
TEST(Postfilter, KeepsEachFramesLevel) {
  std::vector<Signal> signals;
  for (const char* file : {"hts1a.raw", "mmt1.raw", "cross.raw", "vk2tpm_004.raw"}) {
    signals.push_back({file, load_speech_sample(file)});
  }
  for (Signal& s : synthetic_signals()) {
    if (s.name != "silence") signals.push_back(std::move(s));
  }
  for (const Signal& s : signals) {
    for (const bool high_rate : {false, true}) {
      std::vector<Frame> plain, filtered;
      decode_both(s.samples, high_rate, plain, filtered);
      for (std::size_t i = 1; i < plain.size(); ++i) {
        const double p = power(plain[i]);
        if (p < 100) continue;  // near silence: rounding dominates
        EXPECT_NEAR(db(power(filtered[i]) / p), 0.0, 2.0) << s.name << (high_rate ? " 6.3" : " 5.3") << " frame " << i;
      }
    }
  }
}

// On a vowel-like spectrum the valley between two formants deepens by a few dB, the formant peaks keep
// their balance (no muffling, no added brightness), and a second run of the same input gives the same
// output (no state leaks between objects).
TEST(Postfilter, DeepensValleysModeratelyWithoutTilt) {
  const Lpc a = resonances({{500, 0.95}, {1500, 0.93}, {2700, 0.9}});
  std::mt19937 rng(6203);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<double> excitation(6 * 8000);
  for (double& v : excitation) v = noise(rng);
  const std::vector<std::int16_t> x = to_samples(through_lpc(excitation, a), 12000);
  const std::vector<std::int16_t> y = postfilter(x, a, 0);
  EXPECT_EQ(postfilter(x, a, 0), y);

  const auto contrast = [](const std::vector<std::int16_t>& s, double peak, double valley) {
    return db(power_at(s, peak) / power_at(s, valley));
  };
  const double deeper_low = contrast(y, 500, 1000) - contrast(x, 500, 1000);
  const double deeper_high = contrast(y, 1500, 2100) - contrast(x, 1500, 2100);
  // A(z/0.55) / A(z/0.75) alone would deepen them by 1.3 and 2.0 dB; the tilt compensation takes some of the
  // first back.
  EXPECT_GT(deeper_low, 0.4);
  EXPECT_LT(deeper_low, 4.0);
  EXPECT_GT(deeper_high, 0.8);
  EXPECT_LT(deeper_high, 4.0);
  // The balance of the first and third formants moves by less than 3 dB.
  EXPECT_NEAR(contrast(y, 500, 2700) - contrast(x, 500, 2700), 0.0, 3.0);
}

// A periodic excitation gains harmonic clarity: the power between harmonics falls relative to the power
// on them when the decoded lag is given, and not without it.
TEST(Postfilter, PitchLagEnhancesHarmonics) {
  const Lpc a = resonances({{700, 0.9}, {1800, 0.85}});
  constexpr std::int16_t kLag = 80;  // 100 Hz
  std::mt19937 rng(6204);
  std::normal_distribution<double> noise(0.0, 0.5);
  std::vector<double> excitation(6 * 8000);
  for (std::size_t n = 0; n < excitation.size(); ++n) excitation[n] = (n % kLag == 0 ? 6.0 : 0.0) + noise(rng);
  const std::vector<std::int16_t> x = to_samples(through_lpc(excitation, a), 10000);
  const auto clarity = [](const std::vector<std::int16_t>& s) {
    double on = 0, between = 0;
    for (double f = 400; f <= 1200; f += 100) {
      on += power_at(s, f, 1024);
      between += power_at(s, f + 50, 1024);
    }
    return db(on / between);
  };
  const double gain_with_lag = clarity(postfilter(x, a, kLag)) - clarity(x);
  const double gain_without = clarity(postfilter(x, a, 0)) - clarity(x);
  EXPECT_GT(gain_with_lag, gain_without + 0.5);
  EXPECT_LT(gain_with_lag, gain_without + 6.0);
}

// Full-scale input saturates nothing inside the filters: the output of a full-scale signal is twice that
// of the same signal at half level, wherever the output itself is not clipped. Flat tops with steep edges
// (clipped speech, square waves) give the largest formant residual.
TEST(Postfilter, LinearUpToFullScale) {
  const Lpc a = resonances({{300, 0.97}, {2300, 0.95}});
  for (const int period : {16, 57, 160}) {
    for (const int width : {4, period / 2}) {
      std::vector<std::int16_t> full(kFrameSamples * 20), half(full.size());
      for (std::size_t n = 0; n < full.size(); ++n) {
        full[n] = static_cast<int>(n) % period < width ? 32767 : -32768;
        half[n] = static_cast<std::int16_t>(full[n] / 2);
      }
      const std::vector<std::int16_t> y_full = postfilter(full, a, static_cast<std::int16_t>(period));
      const std::vector<std::int16_t> y_half = postfilter(half, a, static_cast<std::int16_t>(period));
      int compared = 0, worst = 0;
      for (std::size_t n = 0; n < full.size(); ++n) {
        if (std::abs(y_full[n]) >= 32767) continue;
        ++compared;
        worst = std::max(worst, std::abs(y_full[n] - 2 * y_half[n]));
      }
      EXPECT_GT(compared, 200) << "period " << period << " width " << width;
      EXPECT_LE(worst, 16) << "period " << period << " width " << width;
    }
  }
}

}  // namespace
}  // namespace g7231
