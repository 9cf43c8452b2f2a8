// Open-loop pitch: a step-by-step model of the search compared on random and periodic buffers and on
// buffers at the edges of the search's exact shortcuts, and hand-built buffers in which only a few lags
// correlate, for the default, tie and longer-lag rules.
#include "codec/encoder/open_loop_pitch.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <random>
#include <vector>

#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Buffer = std::array<std::int16_t, kPitchBufferLength>;
constexpr std::size_t kStarts[] = {145, 265};

// The search as a sequence of plain steps: energy updated by one sample each way per lag, the
// normalised R^2/E kept as exponent and mantissas, longer lags held to a 4/3 margin.
std::int16_t model_pitch(const Buffer& b, std::size_t start) {
  std::int32_t energy = 0;
  for (std::size_t j = 0; j < 120; ++j) energy = mac32(energy, b[start - 17 + j], b[start - 17 + j]);
  std::int16_t lag = 18, exp = 30, corr = 0x4000, en_best = 0x7FFF;
  for (std::int16_t i = 18; i <= 142; ++i) {
    const std::size_t p = start - static_cast<std::size_t>(i);
    energy = mac32(msu32(energy, b[p + 120], b[p + 120]), b[p], b[p]);
    std::int32_t r = 0;
    for (std::size_t j = 0; j < 120; ++j) r = mac32(r, b[start + j], b[p + j]);
    if (r <= 0) continue;
    const std::int16_t e = norm32(r);
    const std::int16_t m = round32_to16(shl32(r, e));
    const std::int32_t sq = mult32_16x16(m, m);
    const std::int16_t e2 = norm32(sq);
    std::int16_t cc = extract_high(shl32(sq, e2));
    const std::int16_t e3 = norm32(energy);
    const std::int16_t en = round32_to16(shl32(energy, e3));
    std::int16_t x = sub16(add16(shl16(e, 1), e2), e3);
    if (cc >= en) { x = sub16(x, 1); cc = shr16(cc, 1); }
    if (x > exp) continue;
    if (x + 1 >= exp) {
      const std::int16_t t = x + 1 == exp ? shr16(corr, 1) : corr;
      if (msu32(mult32_16x16(cc, en_best), en, t) <= 0) continue;
      if (i - lag >= 18) {
        const std::int32_t d = mac32(negate32(shr32(mult32_16x16(cc, en_best), 2)), cc, en_best);
        if (msu32(d, en, t) <= 0) continue;
      }
    }
    lag = i; exp = x; corr = cc; en_best = en;
  }
  return lag;
}

TEST(OpenLoopPitch, MatchesModelOnRandomAndPeriodicBuffers) {
  std::mt19937 rng(4101);
  for (int trial = 0; trial < 300; ++trial) {
    const int period = std::uniform_int_distribution<int>(15, 150)(rng);
    const int amp = 1 << std::uniform_int_distribution<int>(3, 14)(rng);  // up to saturating energies
    const int noise = std::uniform_int_distribution<int>(0, amp)(rng);
    std::uniform_int_distribution<int> a(-amp, amp), n(-noise, noise);
    std::array<int, 150> cycle;
    for (int& v : cycle) v = a(rng);
    Buffer b;
    for (std::size_t k = 0; k < b.size(); ++k) b[k] = saturate16(cycle[k % period] + n(rng));
    for (std::size_t start : kStarts) {
      const std::int16_t lag = estimate_open_loop_pitch(b, start);
      EXPECT_EQ(lag, model_pitch(b, start)) << "trial " << trial << " start " << start;
      EXPECT_GE(lag, 18);
      EXPECT_LE(lag, 142);
    }
  }
}

// Runs of equal samples, placed by offset from the half-frame's start: [from, to) holds value.
struct SampleRun {
  int from;
  int to;
  std::int16_t value;
};
Buffer buffer_of(std::size_t start, const std::vector<SampleRun>& runs) {
  Buffer b{};
  for (const SampleRun& r : runs) {
    for (int k = r.from; k < r.to; ++k) b[static_cast<std::size_t>(static_cast<int>(start) + k)] = r.value;
  }
  return b;
}
SampleRun at(int offset, std::int16_t value) { return {offset, offset + 1, value}; }

// The search sums squares over the samples from 142 before the half-frame to 103 into it. While twice
// their sum fits in 32 bits the energies are plain sums, and while the sum is within the Cauchy-Schwarz
// limit of the half-frame ((2^31 - 1)^2 / (4 * its squares), 1073717358 for 32767^2 + 300^2) so are the
// correlations; past either edge the saturating chains run. The mantissas of 2 * 65535 round to 32767.
TEST(OpenLoopPitch, MatchesModelAtTheEdgesOfItsShortcuts) {
  const struct {
    const char* name;
    std::vector<SampleRun> runs;
  } kCases[] = {
      {"correlation mantissa rounds to 32767", {at(0, 255), at(-40, 257)}},
      {"energy mantissa rounds to 32767", {at(0, 1), at(-40, 255), at(-50, 22), at(-60, 5)}},
      // Lag 50's energy saturates at 2^31 - 1: its plain sum would wrap negative and make it win over lag 25.
      {"twice the squares at 2^31 - 2",
       {at(0, 18000), at(-50, 18000), at(-25, 20000), at(10, 5073), at(20, 80), at(30, 9), at(40, 3), at(45, 2)}},
      {"twice the squares at 2^31",
       {at(0, 18000), at(-50, 18000), at(-25, 20000), at(10, 5073), at(20, 80), at(30, 9), at(40, 3), at(45, 2),
        at(48, 1)}},
      {"squares at the correlation limit",
       {at(0, 300), at(110, 32767), at(-40, 32766), at(-60, 128), at(-80, 13), at(-100, 7)}},
      {"squares one past the correlation limit",
       {at(0, 300), at(110, 32767), at(-40, 32766), at(-60, 128), at(-80, 13), at(-100, 7), at(-120, 1)}},
      {"saturated energy chain turning negative", {{-145, -60, 200}, {-60, 120, 30000}}},
      {"full-scale negative samples", {{-100, 120, -32768}}},
  };
  for (const auto& c : kCases) {
    for (std::size_t start : kStarts) {
      const Buffer b = buffer_of(start, c.runs);
      for (SimdLevel level : {SimdLevel::scalar, SimdLevel::best}) {
        EXPECT_EQ(estimate_open_loop_pitch(b, start, dsp_kernels(level)), model_pitch(b, start))
            << c.name << ", start " << start << ", " << simd_level_name(level);
      }
    }
  }
}

// The half-frame holds a single pulse of height a at its first sample, so R(i) = 2 a b[start - i]:
// only lags whose delayed sample is positive have a positive correlation.
Buffer pulse_buffer(std::size_t start, std::initializer_list<std::pair<int, std::int16_t>> past) {
  Buffer b{};
  b[start] = 1000;
  for (auto [dist, v] : past) b[start - static_cast<std::size_t>(dist)] = v;
  return b;
}

TEST(OpenLoopPitch, WithoutPositiveCorrelationReturns18) {
  for (std::size_t start : kStarts) {
    EXPECT_EQ(estimate_open_loop_pitch(Buffer{}, start), 18);
    EXPECT_EQ(estimate_open_loop_pitch(pulse_buffer(start, {{40, -900}, {100, -300}}), start), 18);
    // Lags 143..145 are not searched.
    EXPECT_EQ(estimate_open_loop_pitch(pulse_buffer(start, {{143, 900}, {145, 900}}), start), 18);
    // The longest searched lag reads down to start - 142.
    EXPECT_EQ(estimate_open_loop_pitch(pulse_buffer(start, {{142, 900}}), start), 142);
  }
}

TEST(OpenLoopPitch, ExactTieKeepsTheShorterLag) {
  // Lags 125 and 135 see equal correlation and equal energy (a negative sample at distance 10 adds
  // energy to the window of lag 125 only), and lie less than 18 apart.
  for (std::size_t start : kStarts) {
    const Buffer b = pulse_buffer(start, {{125, 700}, {135, 700}, {10, -700}});
    EXPECT_EQ(estimate_open_loop_pitch(b, start), 125);
  }
}

TEST(OpenLoopPitch, LagsFarAboveTheBestNeedAFourThirdsMargin) {
  // Lag 120 scores R^2/E = 4a^2/5 (energy 1000^2 + 2000^2); a lag 17 or 18 above it with delayed sample
  // h scores 4a^2 h^2 / (h^2 + 1000^2). h = 562 beats lag 120 by a factor 1.2, h = 655 by 1.5.
  for (std::size_t start : kStarts) {
    for (int step : {17, 18}) {
      const int longer = 120 + step;
      const auto best = [&](std::int16_t h) {
        return estimate_open_loop_pitch(pulse_buffer(start, {{120, 1000}, {5, -2000}, {longer, h}}), start);
      };
      EXPECT_EQ(best(562), step == 17 ? longer : 120) << "step " << step;
      EXPECT_EQ(best(655), longer) << "step " << step;
      EXPECT_EQ(best(400), 120) << "step " << step;  // factor 0.69: never taken
    }
  }
}

}  // namespace
}  // namespace g7231
