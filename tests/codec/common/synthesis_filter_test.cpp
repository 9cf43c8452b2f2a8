// The 10-tap recursive and non-recursive filters against their definition, one saturating operator at a
// time, on inputs from quiet to full scale: their plain sums, 64-bit checked sums and step-by-step chains
// must all give the same outputs and memories.
#include "codec/common/synthesis_filter.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <random>
#include <string>

namespace g7231 {
namespace {

using Block = std::array<std::int16_t, kSubframeSamples>;
using Taps = std::array<std::int16_t, kLpcOrder>;

// out[n] = round32_to16(shl32(acc, 2)), acc the chain from start[n] over 2 c[k] y(n-1-k), mac32 by mac32.
void all_pole_reference(const std::array<std::int32_t, kSubframeSamples>& start, const Taps& c, Taps& mem, Block& out) {
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    std::int32_t acc = start[n];
    for (std::size_t k = 0; k < kLpcOrder; ++k) acc = fx::mac32(acc, c[k], mem[k]);
    out[n] = fx::round32_to16(fx::shl32(acc, 2));
    push_memory(mem, out[n]);
  }
}

// The same with acc from mult32_16x16(x[n], 2^13), msu32 by msu32 over the past inputs.
void all_zero_reference(const Block& x, const Taps& c, Taps& mem, Block& out) {
  for (std::size_t n = 0; n < kSubframeSamples; ++n) {
    std::int32_t acc = fx::mult32_16x16(x[n], 0x2000);
    for (std::size_t k = 0; k < kLpcOrder; ++k) acc = fx::msu32(acc, c[k], mem[k]);
    out[n] = fx::round32_to16(fx::shl32(acc, 2));
    push_memory(mem, x[n]);
  }
}

struct Regime {
  const char* name;
  int signal;     // amplitude of inputs and memories
  int taps;       // amplitude of the coefficients
  bool extremes;  // some values at -32768 and 32767
};
void PrintTo(const Regime& r, std::ostream* os) { *os << r.name; }

class SynthesisFilters : public testing::TestWithParam<Regime> {
 protected:
  std::mt19937 rng{7};
  std::int16_t value(int amp) {
    if (GetParam().extremes && rng() % 8 == 0) return rng() % 2 ? std::int16_t{-32768} : std::int16_t{32767};
    return static_cast<std::int16_t>(std::uniform_int_distribution<int>(-amp, amp)(rng));
  }
  template <class A>
  A fill(int amp) {
    A a;
    for (auto& v : a) v = value(amp);
    return a;
  }
};

TEST_P(SynthesisFilters, AllPoleAndAllZeroFollowTheSaturatingChain) {
  const Regime r = GetParam();
  for (int trial = 0; trial < 400; ++trial) {
    const auto c = fill<Taps>(r.taps);
    const auto x = fill<Block>(r.signal);
    const auto mem0 = fill<Taps>(r.signal);

    std::array<std::int32_t, kSubframeSamples> start;
    for (std::size_t n = 0; n < kSubframeSamples; ++n) start[n] = std::int32_t{x[n]} * (trial % 2 ? 8192 : 65536);
    Taps mem_fast = mem0, mem_ref = mem0;
    Block fast{}, ref{};
    all_pole_block(start, c, mem_fast, fast);
    all_pole_reference(start, c, mem_ref, ref);
    ASSERT_EQ(fast, ref) << r.name << " all-pole, trial " << trial;
    ASSERT_EQ(mem_fast, mem_ref) << r.name << " all-pole memory, trial " << trial;

    mem_fast = mem0;
    mem_ref = mem0;
    all_zero_block(x, c, mem_fast, fast);
    all_zero_reference(x, c, mem_ref, ref);
    ASSERT_EQ(fast, ref) << r.name << " all-zero, trial " << trial;
    ASSERT_EQ(mem_fast, mem_ref) << r.name << " all-zero memory, trial " << trial;
  }
}

INSTANTIATE_TEST_SUITE_P(Regimes, SynthesisFilters,
                         testing::Values(Regime{"speech_like", 8000, 12000, false},
                                         Regime{"loud_sharp_filters", 32767, 32767, false},
                                         Regime{"full_scale_with_extremes", 32767, 32767, true},
                                         Regime{"quiet", 300, 6000, false}),
                         [](const testing::TestParamInfo<Regime>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace g7231
