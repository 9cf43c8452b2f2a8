#include "codec/encoder/mpmlq_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "codec/encoder/encoder.h"
#include "codec/tables/fixed_codebook_tables.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

using Vector = std::array<std::int16_t, kSubframeSamples>;

std::int64_t binomial(std::int64_t n, std::int64_t k) {
  if (k < 0 || n < k) return 0;
  std::int64_t c = 1;
  for (std::int64_t j = 1; j <= k; ++j) c = c * (n - k + j) / j;
  return c;
}

// The occupied slots of a combinatorial position index, by counting down the ways to place the pulses
// still to come after each empty slot.
std::vector<int> decode_slots(std::int32_t code, int pulses) {
  std::vector<int> slots;
  std::int64_t rest = code;
  for (int i = 0; i < 30 && static_cast<int>(slots.size()) < pulses; ++i) {
    const std::int64_t after = binomial(29 - i, pulses - 1 - static_cast<int>(slots.size()));
    if (rest >= after) {
      rest -= after;  // slot i is empty
    } else {
      slots.push_back(i);
    }
  }
  return slots;
}

// A decaying response with h[0] = 8192.
Vector test_response() {
  Vector h{};
  for (std::size_t n = 0; n < kSubframeSamples; ++n) h[n] = static_cast<std::int16_t>(8192 * std::pow(0.8, n) * (n % 3 == 2 ? -0.5 : 1));
  return h;
}

// The target that a pulse vector produces through h (a plain convolution, Q13 response).
Vector filtered(const Vector& pulses, const Vector& h) {
  Vector t{};
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    std::int64_t acc = 0;
    for (std::size_t k = 0; k <= n; ++k) acc += static_cast<std::int64_t>(pulses[k]) * h[n - k];
    t[n] = static_cast<std::int16_t>(std::clamp<std::int64_t>(acc / 8192, -32768, 32767));
  }
  return t;
}

TEST(MpmlqPositions, CodesRoundTripThroughAnIndependentDecoder) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 2000; ++trial) {
    const int pulses = trial % 2 == 0 ? 6 : 5;
    std::array<int, 30> slots;
    std::iota(slots.begin(), slots.end(), 0);
    std::shuffle(slots.begin(), slots.end(), rng);
    std::vector<int> chosen(slots.begin(), slots.begin() + pulses);
    std::sort(chosen.begin(), chosen.end());

    MpmlqCandidate best;
    best.grid = static_cast<std::int16_t>(rng() % 2);
    best.gain_index = static_cast<std::int16_t>(rng() % 24);
    best.pulse_train = static_cast<std::int16_t>(rng() % 2);
    Vector exc{};
    int expected_signs = 0;
    for (int slot : chosen) {
      const bool negative = rng() % 2 == 1;
      exc[static_cast<std::size_t>(best.grid + 2 * slot)] = negative ? -100 : 100;
      expected_signs = expected_signs * 2 + (negative ? 1 : 0);
    }

    SubframeParams sub;
    mpmlq_encode_positions(exc, sub, best, static_cast<std::size_t>(pulses));
    ASSERT_GE(sub.positions, 0);
    ASSERT_LT(sub.positions, binomial(30, pulses));
    EXPECT_EQ(decode_slots(sub.positions, pulses), chosen);
    EXPECT_EQ(sub.signs, expected_signs);
    EXPECT_EQ(sub.grid, best.grid);
    EXPECT_EQ(sub.fcb_gain_index, best.gain_index);
    EXPECT_EQ(sub.pulse_train, best.pulse_train);
  }
}

TEST(MpmlqPositions, FirstAndLastSlotsGiveTheExtremeCodes) {
  for (const int pulses : {5, 6}) {
    MpmlqCandidate best;
    best.grid = 1;
    Vector first{};
    Vector last{};
    for (int j = 0; j < pulses; ++j) {
      first[static_cast<std::size_t>(1 + 2 * j)] = 5;
      last[static_cast<std::size_t>(59 - 2 * j)] = -5;
    }
    SubframeParams sub;
    mpmlq_encode_positions(first, sub, best, static_cast<std::size_t>(pulses));
    EXPECT_EQ(sub.positions, 0);
    EXPECT_EQ(sub.signs, 0);
    mpmlq_encode_positions(last, sub, best, static_cast<std::size_t>(pulses));
    EXPECT_EQ(sub.positions, binomial(30, pulses) - 1);
    EXPECT_EQ(sub.signs, (1 << pulses) - 1);
  }
}

// With nothing to match, every correlation is zero: the first pulse goes to the last grid position,
// the level estimate is the lowest, and the smallest gain (least energy) wins.
TEST(MpmlqSearch, ZeroTargetCodesTheSmallestGain) {
  const Vector h = test_response();
  const Vector target{};
  for (const std::size_t pulses : {std::size_t{5}, std::size_t{6}}) {
    MpmlqCandidate best = mpmlq_initial_candidate(pulses);
    mpmlq_best_search(best, target, h, pulses, 60);
    EXPECT_GT(best.error, kMpmlqNoCandidate);
    EXPECT_EQ(best.gain_index, 0);
    EXPECT_EQ(best.pulse_train, 0);
    EXPECT_EQ(best.positions[0], 58 + best.grid);
  }
}

TEST(MpmlqSearch, FindsPulsesThatExplainTheTarget) {
  const Vector h = test_response();
  Vector pulses{};
  const std::array<std::size_t, 6> at = {3, 11, 19, 33, 41, 55};  // odd grid
  for (std::size_t j = 0; j < at.size(); ++j) pulses[at[j]] = j % 2 == 0 ? 1050 : -1050;  // a table level

  Vector exc = filtered(pulses, h);
  SubframeParams sub;
  mpmlq_encode_subframe(exc, h, sub, 6, 100);
  EXPECT_EQ(sub.grid, 1);
  EXPECT_EQ(sub.pulse_train, 0);
  EXPECT_EQ(kFcbGainTable[static_cast<std::size_t>(sub.fcb_gain_index)], 1050);
  EXPECT_EQ(exc, pulses);
  EXPECT_EQ(sub.signs, 0b010101);
}

// The correlations' scaling at its edges: a zero-lag autocorrelation that rounds up to the 16-bit limit,
// a weak response whose target correlations shift left, and a strong one whose correlations shift right.
TEST(MpmlqSearch, FindsThePulsesAtTheEdgesOfTheCorrelationScaling) {
  Vector limit{};
  limit[0] = limit[1] = 32766;
  limit[2] = 480;  // with the halved response's doubled energy normalised to 0x7FFF8000 or above
  Vector weak = test_response();
  for (std::int16_t& v : weak) v = static_cast<std::int16_t>(v / 32);
  Vector strong = test_response();
  for (std::int16_t& v : strong) v = static_cast<std::int16_t>(v * 2);
  const struct {
    const char* name;
    Vector h;
    std::int16_t level;
  } cases[] = {
      {"zero lag at the limit", limit, 1050}, {"weak response", weak, 6623}, {"strong response", strong, 1050}};
  for (const auto& c : cases) {
    Vector pulses{};
    const std::array<std::size_t, 6> at = {3, 11, 19, 33, 41, 55};
    for (std::size_t j = 0; j < at.size(); ++j) {
      pulses[at[j]] = j % 2 == 0 ? c.level : static_cast<std::int16_t>(-c.level);
    }
    Vector exc = filtered(pulses, c.h);
    SubframeParams sub;
    mpmlq_encode_subframe(exc, c.h, sub, 6, 100);
    EXPECT_EQ(exc, pulses) << c.name;
  }
}

// For a short lag the search also tries the pulse train; it is kept only when it wins.
TEST(MpmlqSearch, PulseTrainOnlyWhenItWins) {
  const Vector h = test_response();
  Vector pulses{};
  for (std::size_t p : {2, 10, 16, 24, 28}) pulses[p] = 1517;

  // A target made of the pulses alone: the repeated copies would only add error.
  Vector plain = filtered(pulses, h);
  SubframeParams sub;
  mpmlq_encode_subframe(plain, h, sub, 5, 30);
  EXPECT_EQ(sub.pulse_train, 0);
  EXPECT_EQ(std::ranges::count_if(plain, [](std::int16_t v) { return v != 0; }), 5);

  // A target made of the pulses repeated every 30 samples: the pulse train explains it.
  Vector train;
  mpmlq_pulse_train(train, pulses, 30);
  Vector target = filtered(train, h);
  mpmlq_encode_subframe(target, h, sub, 5, 30);
  EXPECT_EQ(sub.pulse_train, 1);
  EXPECT_EQ(target, train);  // coded pulses, then repeated at the lag

  // From a lag of 58 on only the plain search runs.
  Vector long_lag = filtered(train, h);
  mpmlq_encode_subframe(long_lag, h, sub, 5, 58);
  EXPECT_EQ(sub.pulse_train, 0);
}

TEST(MpmlqEncoder, HighRateFramesCarryValidPositionCodes) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts2a.raw");
  G7231Encoder* enc = create_encoder(true);
  ASSERT_NE(enc, nullptr);
  int active = 0;
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> frame;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> out;
    encode_frame(enc, frame, out);
    if ((out[0] & 3) != 0) continue;
    ++active;
    const auto bits = [&](int start, int width) {
      int v = 0;
      for (int i = 0; i < width; ++i) v |= ((out[static_cast<std::size_t>((start + i) / 8)] >> ((start + i) % 8)) & 1) << i;
      return v;
    };
    EXPECT_EQ(bits(96, 1), 0) << "reserved bit, frame " << f / kFrameSamples;
    const int high = bits(97, 13);
    ASSERT_LE(high, 8099);
    // Mixed-radix digits: subframes 0 and 2 below 10, 1 and 3 below 9, each with its low part making an
    // index below C(30, 6) or C(30, 5).
    const std::array<int, 4> digit = {high / 810, high / 90 % 9, high / 9 % 10, high % 9};
    const std::array<int, 4> low = {bits(110, 16), bits(126, 14), bits(140, 16), bits(156, 14)};
    const std::array<int, 4> low_bits = {16, 14, 16, 14};
    for (std::size_t s = 0; s < 4; ++s) {
      const std::int64_t index = (static_cast<std::int64_t>(digit[s]) << low_bits[s]) + low[s];
      EXPECT_LT(index, binomial(30, kMpmlqPulseCount[s])) << "frame " << f / kFrameSamples << " subframe " << s;
    }
  }
  EXPECT_GT(active, 50);
  destroy_encoder(enc);
}

}  // namespace
}  // namespace g7231
