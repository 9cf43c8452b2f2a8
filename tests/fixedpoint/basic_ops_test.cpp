// Saturating fixed-point operators: fixed cases for every bound, rounding and shift rule, and a
// comparison of every operator with a model of its own written in plain 64-bit arithmetic, over all
// combinations of boundary values and over a million biased random inputs. The overflow indicator
// is always started at a sentinel, so that "cleared to 0" and "left alone" are told apart.
#include "fixedpoint/basic_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using i64 = std::int64_t;

constexpr std::int16_t kSentinel = 7;  // indicator value before each call: "left alone"
constexpr std::int16_t kUntouched = kSentinel;
constexpr std::int16_t kSet = 1;
constexpr std::int16_t kCleared = 0;

constexpr i64 kMin16 = -32768;
constexpr i64 kMax16 = 32767;
constexpr i64 kMin32 = -(i64{1} << 31);
constexpr i64 kMax32 = (i64{1} << 31) - 1;
constexpr std::int32_t kMin32v = INT32_MIN;
constexpr std::int32_t kMax32v = INT32_MAX;

// What one operator call returned and what it left in the indicator.
struct Outcome {
  i64 value;
  std::int16_t flag;
  bool operator==(const Outcome&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  const char* flag = o.flag == kSet       ? "set"
                     : o.flag == kCleared ? "cleared"
                     : o.flag == kUntouched ? "untouched"
                                            : "?";
  return os << "{" << o.value << ", indicator " << flag << " (" << o.flag << ")}";
}

template <class Call>
Outcome run(Call call) {
  std::int16_t flag = kSentinel;
  const i64 value = call(fx::OverflowIndicator{flag});
  return {value, flag};
}

// Calls fx::op(args..., indicator).
#define RUN(op, ...) run([&](auto ind) { return fx::op(__VA_ARGS__, ind); })

// The operators restated as exact integer arithmetic on 64-bit values.
namespace model {

// Clipping to 16 bits writes the indicator either way; clipping to 32 bits only when it clips.
Outcome clip16(i64 v) {
  if (v > kMax16) return {kMax16, kSet};
  if (v < kMin16) return {kMin16, kSet};
  return {v, kCleared};
}
Outcome clip32(i64 v) {
  if (v > kMax32) return {kMax32, kSet};
  if (v < kMin32) return {kMin32, kSet};
  return {v, kUntouched};
}
Outcome plain(i64 v) { return {v, kUntouched}; }
// floor(v / 2^n); the >> of a signed value rounds toward minus infinity.
i64 floor_shift(i64 v, i64 n) { return v >> std::min<i64>(n, 62); }
std::int16_t either(const Outcome& a, const Outcome& b) {
  return a.flag == kSet || b.flag == kSet ? kSet : kUntouched;
}

Outcome saturate16(i64 x) { return clip16(x); }
Outcome add16(i64 a, i64 b) { return clip16(a + b); }
Outcome sub16(i64 a, i64 b) { return clip16(a - b); }
Outcome abs16(i64 a) { return plain(std::min(a < 0 ? -a : a, kMax16)); }
Outcome negate16(i64 a) { return plain(std::min(-a, kMax16)); }
Outcome mult16(i64 a, i64 b) { return clip16(floor_shift(a * b, 15)); }
Outcome mult16_round(i64 a, i64 b) { return clip16(floor_shift(a * b + 16384, 15)); }
Outcome mult16_wrap(i64 a, i64 b) { return plain(a * b); }
Outcome mult32_16x16(i64 a, i64 b) { return clip32(2 * a * b); }
Outcome add32(i64 a, i64 b) { return clip32(a + b); }
Outcome sub32(i64 a, i64 b) { return clip32(a - b); }
Outcome negate32(i64 x) { return plain(std::min(-x, kMax32)); }
Outcome abs32(i64 x) { return plain(std::min(x < 0 ? -x : x, kMax32)); }

Outcome mac32(i64 acc, i64 a, i64 b) {
  const Outcome p = mult32_16x16(a, b);
  const Outcome s = add32(acc, p.value);
  return {s.value, either(p, s)};
}
Outcome msu32(i64 acc, i64 a, i64 b) {
  const Outcome p = mult32_16x16(a, b);
  const Outcome s = sub32(acc, p.value);
  return {s.value, either(p, s)};
}

// Left shifts are the exact product a * 2^n clipped, reporting only when they clip. Beyond 40 doublings
// (32 for 32 bits) every nonzero value is out of range, so capping the count keeps the product in 64 bits.
Outcome shr16(i64 a, i64 n);
Outcome shl16(i64 a, i64 n) {
  if (n < 0) return shr16(a, -n);
  const Outcome c = clip16(a * (i64{1} << std::min<i64>(n, 40)));
  return {c.value, c.flag == kSet ? kSet : kUntouched};
}
Outcome shr16(i64 a, i64 n) { return n < 0 ? shl16(a, -n) : plain(floor_shift(a, n)); }
Outcome shr32(i64 x, i64 n);
Outcome shl32(i64 x, i64 n) { return n <= 0 ? shr32(x, -n) : clip32(x * (i64{1} << std::min<i64>(n, 32))); }
Outcome shr32(i64 x, i64 n) { return n < 0 ? shl32(x, -n) : plain(floor_shift(x, n)); }

Outcome extract_high(i64 x) { return plain(floor_shift(x, 16)); }
Outcome extract_low(i64 x) {
  const i64 low = x - floor_shift(x, 16) * 65536;  // 0 .. 65535
  return plain(low >= 32768 ? low - 65536 : low);
}
Outcome round32_to16(i64 x) {
  const Outcome s = add32(x, 0x8000);
  return {floor_shift(s.value, 16), s.flag};
}
Outcome deposit_high(i64 a) { return plain(a * 65536); }
Outcome deposit_low(i64 a) { return plain(a); }

Outcome normalise(i64 x, i64 top) {
  i64 m = x >= 0 ? x : -x - 1;  // bitwise-not of a negative value
  i64 n = 0;
  while (m < top) m *= 2, ++n;
  return plain(n);
}
Outcome norm16(i64 a) { return a == 0 ? plain(0) : a == -1 ? plain(15) : normalise(a, 0x4000); }
Outcome norm32(i64 x) { return x == 0 ? plain(0) : x == -1 ? plain(31) : normalise(x, 0x40000000); }

// The quotient is built with add16, which clears the indicator once per 1-bit of the quotient; the
// shortcuts (num = 0, num = den, num >= den * 65536) do not touch it.
Outcome div16(i64 num, i64 den) {
  if (num == 0) return plain(0);
  if (num == den) return plain(kMax16);
  const i64 q = num * 32768 / den;
  return {q, q != 0 ? kCleared : kUntouched};
}
Outcome div32_16(i64 num, i64 den) {
  if (num >= den * 65536) return plain(kMax16);
  const i64 q = num / (2 * den);
  return {q, q != 0 ? kCleared : kUntouched};
}

// floor(x * w / 2^15), except that the part 2 * hi * w is clipped first when hi = w = -32768 (it is
// 2^31 there), which makes the sum one less and reports.
Outcome mult32_32x16(i64 x, i64 w) {
  const bool product_clips = floor_shift(x, 16) == kMin16 && w == kMin16;
  const Outcome c = clip32(floor_shift(x * w, 15) - (product_clips ? 1 : 0));
  return {c.value, product_clips ? kSet : c.flag};
}

}  // namespace model

// Compares operator outcomes with the model; reports the first few mismatches of each operator.
class Comparer {
 public:
  void operator()(const char* op, std::initializer_list<i64> args, const Outcome& got, const Outcome& want) {
    if (got == want) return;
    ++mismatches_;
    if (++per_op_[op] > 5) return;
    std::string a;
    for (const i64 v : args) a += (a.empty() ? "" : ", ") + std::to_string(v);
    ADD_FAILURE() << op << "(" << a << "): got " << got << ", expected " << want;
  }
  long mismatches() const { return mismatches_; }

 private:
  long mismatches_ = 0;
  std::map<std::string, int> per_op_;
};

#define CHECK_OP(op, ...) cmp(#op, {__VA_ARGS__}, RUN(op, __VA_ARGS__), model::op(__VA_ARGS__))

void check_16(Comparer& cmp, std::int16_t a) {
  CHECK_OP(abs16, a);
  CHECK_OP(negate16, a);
  CHECK_OP(norm16, a);
  CHECK_OP(deposit_high, a);
  CHECK_OP(deposit_low, a);
}
void check_32(Comparer& cmp, std::int32_t x) {
  CHECK_OP(saturate16, x);
  CHECK_OP(negate32, x);
  CHECK_OP(abs32, x);
  CHECK_OP(extract_high, x);
  CHECK_OP(extract_low, x);
  CHECK_OP(round32_to16, x);
  CHECK_OP(norm32, x);
}
void check_16x16(Comparer& cmp, std::int16_t a, std::int16_t b) {
  CHECK_OP(add16, a, b);
  CHECK_OP(sub16, a, b);
  CHECK_OP(mult16, a, b);
  CHECK_OP(mult16_round, a, b);
  CHECK_OP(mult16_wrap, a, b);
  CHECK_OP(mult32_16x16, a, b);
  if (0 <= a && a <= b && b > 0) CHECK_OP(div16, a, b);
}
void check_32x32(Comparer& cmp, std::int32_t a, std::int32_t b) {
  CHECK_OP(add32, a, b);
  CHECK_OP(sub32, a, b);
}
void check_32x16(Comparer& cmp, std::int32_t x, std::int16_t w) {
  CHECK_OP(mult32_32x16, x, w);
  if (x >= 0 && w > 0) CHECK_OP(div32_16, x, w);
}
void check_mac(Comparer& cmp, std::int32_t acc, std::int16_t a, std::int16_t b) {
  CHECK_OP(mac32, acc, a, b);
  CHECK_OP(msu32, acc, a, b);
}
void check_shift16(Comparer& cmp, std::int16_t a, std::int16_t n) {
  CHECK_OP(shl16, a, n);
  CHECK_OP(shr16, a, n);
}
void check_shift32(Comparer& cmp, std::int32_t x, std::int16_t n) {
  CHECK_OP(shl32, x, n);
  CHECK_OP(shr32, x, n);
}

const std::vector<std::int16_t> kBoundary16 = {
    0,       1,       -1,     2,     -2,   3,    -3,     181,    182,    -181,  0x00FF, 0x0100,
    -0x0100, 0x2000,  0x3FFF, 0x4000, -0x4000, -0x4001, 0x7FFE, 32767, -32767, -32768,
};
const std::vector<std::int32_t> kBoundary32 = {
    0,           1,          -1,          2,          -2,           0x7FFF,      0x8000,     -0x8000,
    -0x8001,     0xFFFF,     0x10000,     -0x10000,   0x00018000,   0x12345678,  -0x12345678, 0x3FFFFFFF,
    0x40000000,  -0x40000000, -0x40000001, 0x7FFF0000, 0x7FFF7FFF,  0x7FFF8000,  0x7FFFFFFE, kMax32v,
    kMin32v,     kMin32v + 1, kMin32v + 0xFFFF, kMin32v + 0x10000,
};

TEST(FixedPointModel, AgreesOnEveryCombinationOfBoundaryValues) {
  Comparer cmp;
  for (int a = -32768; a <= 32767; ++a) check_16(cmp, static_cast<std::int16_t>(a));
  for (const std::int32_t x : kBoundary32) check_32(cmp, x);
  for (const std::int16_t a : kBoundary16) {
    for (const std::int16_t b : kBoundary16) check_16x16(cmp, a, b);
    for (int n = -40; n <= 40; ++n) check_shift16(cmp, a, static_cast<std::int16_t>(n));
  }
  for (const std::int32_t x : kBoundary32) {
    for (const std::int32_t y : kBoundary32) check_32x32(cmp, x, y);
    for (const std::int16_t w : kBoundary16) check_32x16(cmp, x, w);
    for (int n = -40; n <= 40; ++n) check_shift32(cmp, x, static_cast<std::int16_t>(n));
    for (const std::int16_t a : kBoundary16)
      for (const std::int16_t b : kBoundary16) check_mac(cmp, x, a, b);
  }
  EXPECT_EQ(cmp.mismatches(), 0);
}

// Random operands biased toward the ends of the range, small values and every magnitude.
class Draw {
 public:
  std::int16_t v16() {
    switch (pick(6)) {
      case 0: return kBoundary16[pick(kBoundary16.size())];
      case 1: return static_cast<std::int16_t>(in(-64, 64));
      case 2: return static_cast<std::int16_t>(in(0, 1) ? kMax16 - in(0, 64) : kMin16 + in(0, 64));
      case 3: return static_cast<std::int16_t>(magnitude(15));
      default: return static_cast<std::int16_t>(in(kMin16, kMax16));
    }
  }
  std::int32_t v32() {
    switch (pick(6)) {
      case 0: return kBoundary32[pick(kBoundary32.size())];
      case 1: return static_cast<std::int32_t>(in(-70000, 70000));
      case 2: return static_cast<std::int32_t>(in(0, 1) ? kMax32 - in(0, 70000) : kMin32 + in(0, 70000));
      case 3: return static_cast<std::int32_t>(magnitude(31));
      default: return static_cast<std::int32_t>(in(kMin32, kMax32));
    }
  }
  std::int16_t count() { return static_cast<std::int16_t>(in(-40, 40)); }
  // den > 0 and 0 <= num <= den, often at num = 0, num = den and den near both ends.
  std::pair<std::int16_t, std::int16_t> div16_operands() {
    const i64 den = pick(2) ? in(1, 64) + (pick(2) ? 0 : kMax16 - 64) : in(1, kMax16);
    const i64 num = pick(4) == 0 ? (pick(2) ? 0 : den) : in(0, den);
    return {static_cast<std::int16_t>(num), static_cast<std::int16_t>(den)};
  }
  // den > 0 and num >= 0, mostly below den * 65536 where the quotient is not clipped.
  std::pair<std::int32_t, std::int16_t> div32_16_operands() {
    const i64 den = pick(2) ? in(1, 64) : in(1, kMax16);
    const i64 top = den * 65536 - 1;
    const i64 num = pick(4) == 0 ? in(0, kMax32) : in(pick(2) ? std::max<i64>(0, top - 70000) : 0, top);
    const i64 n = pick(8) == 0 ? num & ~i64{0xFFFF} : num;  // sometimes a whole multiple of 65536
    return {static_cast<std::int32_t>(n), static_cast<std::int16_t>(den)};
  }

 private:
  std::size_t pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
  i64 in(i64 lo, i64 hi) { return std::uniform_int_distribution<i64>(lo, hi)(rng_); }
  i64 magnitude(int bits) {  // uniform in [-2^k, 2^k) for a random k < bits
    const i64 k = in(0, bits - 1);
    return in(-(i64{1} << k), (i64{1} << k) - 1);
  }
  std::mt19937_64 rng_{0x5eed0fa11ULL};
};

TEST(FixedPointModel, AgreesOnBiasedRandomInputs) {
  Comparer cmp;
  Draw draw;
  for (int i = 0; i < (1 << 20); ++i) {
    check_16(cmp, draw.v16());
    check_32(cmp, draw.v32());
    check_16x16(cmp, draw.v16(), draw.v16());
    check_32x32(cmp, draw.v32(), draw.v32());
    check_32x16(cmp, draw.v32(), draw.v16());
    check_mac(cmp, draw.v32(), draw.v16(), draw.v16());
    check_shift16(cmp, draw.v16(), draw.count());
    check_shift32(cmp, draw.v32(), draw.count());
    const auto [n16, d16] = draw.div16_operands();
    CHECK_OP(div16, n16, d16);
    const auto [n32, d32] = draw.div32_16_operands();
    CHECK_OP(div32_16, n32, d32);
  }
  EXPECT_EQ(cmp.mismatches(), 0);
}

// The fixed cases below pin the model's reading of each rule as much as the operators.

TEST(Saturate16Family, ClipsAndClearsTheIndicatorOtherwise) {
  EXPECT_EQ(RUN(saturate16, 32768), (Outcome{32767, kSet}));
  EXPECT_EQ(RUN(saturate16, -32769), (Outcome{-32768, kSet}));
  EXPECT_EQ(RUN(saturate16, -32768), (Outcome{-32768, kCleared}));
  EXPECT_EQ(RUN(saturate16, kMin32v), (Outcome{-32768, kSet}));
  EXPECT_EQ(RUN(add16, 32767, 1), (Outcome{32767, kSet}));
  EXPECT_EQ(RUN(add16, -32768, -32768), (Outcome{-32768, kSet}));
  EXPECT_EQ(RUN(add16, 32767, -32768), (Outcome{-1, kCleared}));
  EXPECT_EQ(RUN(sub16, 0, -32768), (Outcome{32767, kSet}));
  EXPECT_EQ(RUN(sub16, -32768, 1), (Outcome{-32768, kSet}));
  EXPECT_EQ(RUN(sub16, -1, -32768), (Outcome{32767, kCleared}));
}

TEST(AbsAndNegate, MostNegativeValueMapsToMostPositive) {
  EXPECT_EQ(RUN(negate16, -32768), (Outcome{32767, kUntouched}));
  EXPECT_EQ(RUN(abs16, -32768), (Outcome{32767, kUntouched}));
  EXPECT_EQ(RUN(abs16, -32767), (Outcome{32767, kUntouched}));
  EXPECT_EQ(RUN(abs32, kMin32v), (Outcome{kMax32, kUntouched}));
  EXPECT_EQ(RUN(negate32, kMin32v), (Outcome{kMax32, kUntouched}));
  EXPECT_EQ(RUN(negate32, kMax32v), (Outcome{kMin32 + 1, kUntouched}));
}

TEST(Multiplication, TruncatesRoundsAndClipsOnlyTheSquareOfMinusOne) {
  EXPECT_EQ(RUN(mult16, -32768, -32768), (Outcome{32767, kSet}));
  EXPECT_EQ(RUN(mult16_round, -32768, -32768), (Outcome{32767, kSet}));
  EXPECT_EQ(RUN(mult32_16x16, -32768, -32768), (Outcome{kMax32, kSet}));
  EXPECT_EQ(RUN(mult16, 16384, 1), (Outcome{0, kCleared}));
  EXPECT_EQ(RUN(mult16_round, 16384, 1), (Outcome{1, kCleared}));
  EXPECT_EQ(RUN(mult16, -1, 1), (Outcome{-1, kCleared}));            // toward minus infinity
  EXPECT_EQ(RUN(mult16_round, -16384, 1), (Outcome{0, kCleared}));   // a half rounds upward
  EXPECT_EQ(RUN(mult16_round, -16385, 1), (Outcome{-1, kCleared}));
  EXPECT_EQ(RUN(mult16, -32768, 32767), (Outcome{-32767, kCleared}));
  EXPECT_EQ(RUN(mult32_16x16, -32768, 32767), (Outcome{-2147418112, kUntouched}));
  EXPECT_EQ(RUN(mult16_wrap, -32768, -32768), (Outcome{0x40000000, kUntouched}));
  EXPECT_EQ(static_cast<std::int16_t>(fx::mult16_wrap(300, 300)), 24464);  // 90000 - 65536
}

TEST(Shift16, NegativeCountsReverseAndLargeCountsSaturateOrEmpty) {
  EXPECT_EQ(RUN(shr16, -5, 1), (Outcome{-3, kUntouched}));
  EXPECT_EQ(RUN(shr16, -1, 20), (Outcome{-1, kUntouched}));
  EXPECT_EQ(RUN(shr16, 32767, 15), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(shr16, -32768, 14), (Outcome{-2, kUntouched}));
  EXPECT_EQ(RUN(shl16, 0, 40), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(shl16, 1, 15), (Outcome{32767, kSet}));
  EXPECT_EQ(RUN(shl16, 1, 14), (Outcome{16384, kUntouched}));
  EXPECT_EQ(RUN(shl16, -1, 15), (Outcome{-32768, kUntouched}));
  EXPECT_EQ(RUN(shl16, -2, 15), (Outcome{-32768, kSet}));
  EXPECT_EQ(RUN(shl16, -1, 16), (Outcome{-32768, kSet}));
  EXPECT_EQ(RUN(shl16, -5, -1), (Outcome{-3, kUntouched}));
  for (const int v : {1, -3, 0x2000, -0x2001}) {
    const auto a = static_cast<std::int16_t>(v);
    EXPECT_EQ(RUN(shr16, a, -2), RUN(shl16, a, 2)) << a;
  }
  EXPECT_EQ(RUN(shr16, 0x2000, -2), (Outcome{32767, kSet}));
}

TEST(Shift32, DoublesUpToTheBoundsAndShiftsPastThemToSign) {
  EXPECT_EQ(RUN(shl32, 0x40000000, 1), (Outcome{kMax32, kSet}));
  EXPECT_EQ(RUN(shl32, 0x3FFFFFFF, 1), (Outcome{0x7FFFFFFE, kUntouched}));
  EXPECT_EQ(RUN(shl32, -0x40000000, 1), (Outcome{kMin32, kUntouched}));
  EXPECT_EQ(RUN(shl32, -0x40000001, 1), (Outcome{kMin32, kSet}));
  EXPECT_EQ(RUN(shl32, -1, 31), (Outcome{kMin32, kUntouched}));
  EXPECT_EQ(RUN(shl32, -1, 32), (Outcome{kMin32, kSet}));
  EXPECT_EQ(RUN(shl32, 1, 31), (Outcome{kMax32, kSet}));
  EXPECT_EQ(RUN(shl32, 0, 40), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(shl32, -5, 0), (Outcome{-5, kUntouched}));
  EXPECT_EQ(RUN(shr32, -5, 1), (Outcome{-3, kUntouched}));
  EXPECT_EQ(RUN(shr32, 0x40000000, -1), (Outcome{kMax32, kSet}));
  for (const std::int16_t n : {std::int16_t{31}, std::int16_t{32}, std::int16_t{40}}) {
    EXPECT_EQ(RUN(shr32, kMin32v, n), (Outcome{-1, kUntouched}));
    EXPECT_EQ(RUN(shr32, -1, n), (Outcome{-1, kUntouched}));
    EXPECT_EQ(RUN(shr32, kMax32v, n), (Outcome{0, kUntouched}));
  }
  EXPECT_EQ(RUN(shr32, kMax32v, 30), (Outcome{1, kUntouched}));
}

TEST(Add32Family, SaturatesEachStepSeparately) {
  EXPECT_EQ(RUN(add32, kMax32v, 1), (Outcome{kMax32, kSet}));
  EXPECT_EQ(RUN(add32, kMin32v, -1), (Outcome{kMin32, kSet}));
  EXPECT_EQ(RUN(add32, kMax32v, kMin32v), (Outcome{-1, kUntouched}));
  EXPECT_EQ(RUN(sub32, kMin32v, 1), (Outcome{kMin32, kSet}));
  EXPECT_EQ(RUN(sub32, 0, kMin32v), (Outcome{kMax32, kSet}));
  EXPECT_EQ(RUN(sub32, -1, kMin32v), (Outcome{kMax32, kUntouched}));
  EXPECT_EQ(RUN(mac32, 0, 2, 3), (Outcome{12, kUntouched}));
  EXPECT_EQ(RUN(mac32, 1, -32768, -32768), (Outcome{kMax32, kSet}));
  // The product clips to MAX32 before the sum, so a negative accumulator stays below MAX32.
  EXPECT_EQ(RUN(mac32, -1, -32768, -32768), (Outcome{kMax32 - 1, kSet}));
  EXPECT_EQ(RUN(msu32, 0, -32768, -32768), (Outcome{kMin32 + 1, kSet}));
  EXPECT_EQ(RUN(msu32, kMin32v, 1, 1), (Outcome{kMin32, kSet}));
  EXPECT_EQ(RUN(msu32, kMin32v, -1, 1), (Outcome{kMin32 + 2, kUntouched}));
}

TEST(Halves, ExtractDepositAndRound) {
  EXPECT_EQ(RUN(round32_to16, 0x7FFF8000), (Outcome{32767, kSet}));
  EXPECT_EQ(RUN(round32_to16, 0x7FFF7FFF), (Outcome{32767, kUntouched}));
  EXPECT_EQ(RUN(round32_to16, 0x00008000), (Outcome{1, kUntouched}));
  EXPECT_EQ(RUN(round32_to16, 0x00007FFF), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(round32_to16, -0x8000), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(round32_to16, -0x8001), (Outcome{-1, kUntouched}));
  EXPECT_EQ(RUN(extract_low, 0x00018000), (Outcome{-32768, kUntouched}));
  EXPECT_EQ(RUN(extract_low, -1), (Outcome{-1, kUntouched}));
  EXPECT_EQ(RUN(extract_high, -1), (Outcome{-1, kUntouched}));
  EXPECT_EQ(RUN(extract_high, kMin32v), (Outcome{-32768, kUntouched}));
  EXPECT_EQ(RUN(deposit_high, -32768), (Outcome{kMin32, kUntouched}));
  EXPECT_EQ(RUN(deposit_high, 32767), (Outcome{0x7FFF0000, kUntouched}));
  EXPECT_EQ(RUN(deposit_low, -2), (Outcome{-2, kUntouched}));
}

TEST(Normalisation, CountsTheDoublingsToTheTopBit) {
  EXPECT_EQ(RUN(norm16, 0), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(norm16, -1), (Outcome{15, kUntouched}));
  EXPECT_EQ(RUN(norm16, 1), (Outcome{14, kUntouched}));
  EXPECT_EQ(RUN(norm16, -2), (Outcome{14, kUntouched}));
  EXPECT_EQ(RUN(norm16, -32768), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(norm16, 0x4000), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(norm16, 0x3FFF), (Outcome{1, kUntouched}));
  EXPECT_EQ(RUN(norm16, -0x4001), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(norm32, 0), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(norm32, 1), (Outcome{30, kUntouched}));
  EXPECT_EQ(RUN(norm32, -1), (Outcome{31, kUntouched}));
  EXPECT_EQ(RUN(norm32, 0x40000000), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(norm32, kMin32v), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(norm32, -0x40000000), (Outcome{1, kUntouched}));
}

TEST(Division, QuotientsInQ15) {
  EXPECT_EQ(RUN(div16, 1, 3), (Outcome{10922, kCleared}));
  EXPECT_EQ(RUN(div16, 5, 5), (Outcome{32767, kUntouched}));
  EXPECT_EQ(RUN(div16, 0, 7), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(div16, 1, 32767), (Outcome{1, kCleared}));
  EXPECT_EQ(RUN(div16, 32766, 32767), (Outcome{32766, kCleared}));
  EXPECT_EQ(RUN(div32_16, 0x10000, 1), (Outcome{32767, kUntouched}));
  EXPECT_EQ(RUN(div32_16, 0x8000, 1), (Outcome{16384, kCleared}));
  EXPECT_EQ(RUN(div32_16, 0xFFFF, 1), (Outcome{32767, kCleared}));
  EXPECT_EQ(RUN(div32_16, 1, 1), (Outcome{0, kUntouched}));
  EXPECT_EQ(RUN(div32_16, kMax32v, 32767), (Outcome{32767, kUntouched}));
  EXPECT_EQ(RUN(div32_16, 0x7FFEFFFF, 32767), (Outcome{32767, kCleared}));
  EXPECT_EQ(RUN(div32_16, 0x3FFF8000, 32767), (Outcome{16384, kCleared}));
}

TEST(Mult32x16, SplitsIntoHalvesAndSaturates) {
  EXPECT_EQ(RUN(mult32_32x16, 0x40000000, 16384), (Outcome{0x20000000, kUntouched}));
  EXPECT_EQ(RUN(mult32_32x16, -1, 1), (Outcome{-1, kUntouched}));
  EXPECT_EQ(RUN(mult32_32x16, 0xFFFF, 1), (Outcome{1, kUntouched}));
  EXPECT_EQ(RUN(mult32_32x16, kMax32v, 32767), (Outcome{2147418111, kUntouched}));
  EXPECT_EQ(RUN(mult32_32x16, kMin32v, -32768), (Outcome{kMax32, kSet}));
  EXPECT_EQ(RUN(mult32_32x16, kMin32v + 1, -32768), (Outcome{kMax32 - 1, kSet}));
  EXPECT_EQ(RUN(mult32_32x16, kMin32v, 32767), (Outcome{kMin32 + 65536, kUntouched}));
}

// A broken precondition is a programming error: it must end the process abnormally with a message, never
// pass for a successful run.
TEST(DivisionDeathTest, BrokenPreconditionFailsLoudly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  volatile std::int16_t minus_one = -1, zero = 0, five = 5, six = 6;
  volatile std::int32_t minus_one_32 = -1, any_32 = 0x10000;
  EXPECT_DEATH((void)fx::div16(minus_one, five), "div16\\(-1, 5\\): operands out of range");
  EXPECT_DEATH((void)fx::div16(six, five), "div16");
  EXPECT_DEATH((void)fx::div16(zero, zero), "div16");
  EXPECT_DEATH((void)fx::div16(zero, minus_one), "div16");
  EXPECT_DEATH((void)fx::div32_16(minus_one_32, five), "div32_16\\(-1, 5\\): operands out of range");
  EXPECT_DEATH((void)fx::div32_16(any_32, zero), "div32_16");
  EXPECT_DEATH((void)fx::div32_16(any_32, minus_one), "div32_16");
}

}  // namespace
