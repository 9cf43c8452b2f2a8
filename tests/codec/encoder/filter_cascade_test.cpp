// The synthesis / weighting / shaping cascade in its three modes against one step-by-step model, on
// random coefficients, memories and signals (with and without saturation), and the agreement between
// the ringing that is subtracted and the memories that the update then leaves.
#include "codec/encoder/filter_cascade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;
using Subframe = std::array<std::int16_t, kSubframeSamples>;
using Coefs = std::array<std::int16_t, kLpcOrder>;
using Weights = std::array<std::int16_t, kWeightingCoefs>;

struct State {
  Coefs synth{}, weight{};
  std::array<std::int16_t, 205> shaping{};  // the 145-sample history, then the subframe's weighted output
};

enum class Mode { impulse, ringing, update };

// One pass of the cascade over a subframe. io is the output (impulse), the target (ringing) or the
// excitation that becomes reconstructed speech (update).
void model(Mode mode, Subframe& io, const Coefs& a, const Weights& w, State& st, HarmonicWeighting hw) {
  const auto push = [](Coefs& m, std::int16_t v) {
    for (std::size_t k = 9; k > 0; --k) m[k] = m[k - 1];
    m[0] = v;
  };
  for (std::size_t n = 0; n < 60; ++n) {
    std::int32_t acc = mode == Mode::update ? shr32(deposit_high(io[n]), 3) : (mode == Mode::impulse && n == 0) ? 0x04000000 : 0;
    for (std::size_t k = 0; k < 10; ++k) acc = mac32(acc, a[k], st.synth[k]);
    const std::int32_t s = shl32(acc, 2);
    if (mode == Mode::update) io[n] = shl16(round32_to16(s), 1);
    for (std::size_t k = 0; k < 10; ++k) acc = msu32(acc, w[k], st.synth[k]);
    if (mode == Mode::impulse) acc = shl32(acc, 1);
    push(st.synth, round32_to16(s));
    for (std::size_t k = 0; k < 10; ++k) acc = mac32(acc, w[10 + k], st.weight[k]);
    const std::int16_t v = round32_to16(shl32(acc, 2));
    push(st.weight, v);
    st.shaping[145 + n] = v;
    const std::int16_t lagged = st.shaping[145 + n - static_cast<std::size_t>(hw.lag)];
    if (mode == Mode::impulse) io[n] = round32_to16(msu32(deposit_high(v), hw.gain, lagged));
    if (mode == Mode::ringing) io[n] = round32_to16(mac32(deposit_high(sub16(io[n], v)), hw.gain, lagged));
  }
}

struct Case {
  Coefs a;
  Weights w;
  State st;
  HarmonicWeighting hw;
  Subframe signal;
};

// Coefficients bounded so that the filters are stable, or (loud) anything, which saturates.
Case random_case(std::mt19937& rng, bool loud) {
  const auto uni = [&](int lo, int hi) { return static_cast<std::int16_t>(std::uniform_int_distribution<int>(lo, hi)(rng)); };
  const int amp = loud ? 32767 : 4000;
  Case c;
  for (std::size_t k = 0; k < 10; ++k) {
    const int bound = loud ? 32767 : 2000 / static_cast<int>(k + 1);
    c.a[k] = uni(-bound, bound);
    c.w[k] = uni(-bound, bound);
    c.w[10 + k] = uni(-bound, bound);
    c.st.synth[k] = uni(-amp, amp);
    c.st.weight[k] = uni(-amp, amp);
  }
  for (std::size_t j = 0; j < 145; ++j) c.st.shaping[j] = uni(-amp, amp);
  for (auto& v : c.signal) v = uni(-amp, amp);
  c.hw = {uni(15, 145), uni(0, 10240)};
  return c;
}

CascadeMemory memory_of(State& st) {
  return {std::span(st.synth), std::span(st.weight), std::span(st.shaping).first<145>()};
}

TEST(FilterCascade, ImpulseResponseMatchesModelAndStartsAt8192) {
  std::mt19937 rng(4301);
  for (int trial = 0; trial < 300; ++trial) {
    Case c = random_case(rng, trial % 3 == 0);
    Subframe got{}, want{};
    compute_impulse_response(got, c.a, c.w, c.hw);
    State zero;
    model(Mode::impulse, want, c.a, c.w, zero, c.hw);
    ASSERT_EQ(got, want) << "trial " << trial;
    EXPECT_EQ(got[0], 8192);

    // Without gain the shaping lag makes no difference.
    Subframe g0{}, g0_other_lag{};
    compute_impulse_response(g0, c.a, c.w, {c.hw.lag, 0});
    compute_impulse_response(g0_other_lag, c.a, c.w, {static_cast<std::int16_t>(160 - c.hw.lag), 0});
    EXPECT_EQ(g0, g0_other_lag);
  }
}

TEST(FilterCascade, RingingMatchesModelLeavesMemoriesAloneAndVanishesFromZeroMemories) {
  std::mt19937 rng(4302);
  for (int trial = 0; trial < 300; ++trial) {
    Case c = random_case(rng, trial % 3 == 0);
    State st = c.st;
    Subframe got = c.signal, want = c.signal;
    subtract_ringing(got, c.a, c.w, memory_of(st), c.hw);
    ASSERT_EQ(st.synth, c.st.synth);
    ASSERT_EQ(st.weight, c.st.weight);
    ASSERT_EQ(st.shaping, c.st.shaping);
    model(Mode::ringing, want, c.a, c.w, c.st, c.hw);
    ASSERT_EQ(got, want) << "trial " << trial;

    State zero;  // nothing to ring
    got = c.signal;
    subtract_ringing(got, c.a, c.w, memory_of(zero), c.hw);
    ASSERT_EQ(got, c.signal);
  }
}

TEST(FilterCascade, MemoryUpdateMatchesModel) {
  std::mt19937 rng(4304);
  for (int trial = 0; trial < 300; ++trial) {
    Case c = random_case(rng, trial % 3 == 0);
    State st = c.st;
    Subframe got = c.signal, want = c.signal;
    update_filter_memories(got, c.a, c.w, memory_of(st));
    model(Mode::update, want, c.a, c.w, c.st, c.hw);
    ASSERT_EQ(got, want) << "trial " << trial;
    ASSERT_EQ(st.synth, c.st.synth);
    ASSERT_EQ(st.weight, c.st.weight);
    ASSERT_TRUE(std::equal(st.shaping.begin(), st.shaping.begin() + 145, c.st.shaping.begin() + 60));
  }
}

TEST(FilterCascade, UpdateOnZeroExcitationLeavesTheRingingThatWasSubtracted) {
  std::mt19937 rng(4305);
  for (int trial = 0; trial < 100; ++trial) {
    Case c = random_case(rng, trial % 4 == 0);
    State st = c.st;
    Subframe ringing{};
    subtract_ringing(ringing, c.a, c.w, memory_of(st), c.hw);

    Subframe exc{};
    update_filter_memories(exc, c.a, c.w, memory_of(st));
    // The weighted outputs the update stored, behind the history they were run from.
    std::array<std::int16_t, 205> ext{};
    std::copy(c.st.shaping.begin(), c.st.shaping.begin() + 145, ext.begin());
    std::copy(st.shaping.begin() + 85, st.shaping.begin() + 145, ext.begin() + 145);
    for (std::size_t n = 0; n < 60; ++n) {
      const std::int32_t acc = deposit_high(sub16(0, ext[145 + n]));
      ASSERT_EQ(ringing[n], round32_to16(mac32(acc, c.hw.gain, ext[145 + n - c.hw.lag]))) << "trial " << trial << " n " << n;
    }
    EXPECT_EQ(st.weight[0], ext[204]);
  }
}

}  // namespace
}  // namespace g7231
