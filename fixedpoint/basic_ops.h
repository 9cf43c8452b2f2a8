// Saturating 16/32-bit fixed-point operators.
//
// Every signal-processing step of the encoder that can overflow goes through these operators, and the
// coded bitstream depends on each one's exact saturation bounds, rounding and treatment of negative shift
// counts. They are constexpr free functions so that the compiler can inline and vectorise them.
//
// Overflow indicator. Each operator takes an optional last argument, the indicator it reports to:
//   - "1 on saturation":  set() is called when the operator clips;
//   - saturate16 and everything built on it call clear() when they do not clip;
//   - every other operator leaves the indicator alone.
// Nothing in the encoder ever reads the indicator, so the default indicator discards the reports and costs
// nothing. Pass an `OverflowIndicator` to observe it. Building with G7231_FX_TRACE makes the default
// indicator count every operator call and saturation into the `OpTrace` installed on the calling thread.
//
// A precondition failure of div16/div32_16 (which no caller allows) prints a message on stderr and aborts.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fx {

inline constexpr std::int32_t kMax32 = 0x7FFFFFFF;
inline constexpr std::int32_t kMin32 = -kMax32 - 1;
inline constexpr std::int16_t kMax16 = 0x7FFF;
inline constexpr std::int16_t kMin16 = -kMax16 - 1;

// One tag per operator, for operation counting.
enum class Op : std::uint8_t {
  saturate16, add16, sub16, abs16, negate16, shl16, shr16, mult16, mult16_round, mult16_wrap,
  mult32_16x16, add32, sub32, mac32, msu32, negate32, abs32, shl32, shr32, extract_high, extract_low,
  round32_to16, deposit_high, deposit_low, norm16, norm32, div16, div32_16, mult32_32x16,
};
inline constexpr std::size_t kOpCount = static_cast<std::size_t>(Op::mult32_32x16) + 1;

// Discards every report: the indicator of the production build.
struct NoIndicator {
  constexpr void set() const noexcept {}
  constexpr void clear() const noexcept {}
  constexpr void count(Op) const noexcept {}
};

// Keeps the 16-bit overflow indicator in a caller's variable.
struct OverflowIndicator {
  std::int16_t& flag;
  constexpr void set() noexcept { flag = 1; }
  constexpr void clear() noexcept { flag = 0; }
  constexpr void count(Op) const noexcept {}
};

#if defined(G7231_FX_TRACE)
// Operator calls and saturations of the code running on one thread while an `OpTraceScope` is open.
struct OpTrace {
  std::array<std::uint64_t, kOpCount> calls{};
  std::uint64_t saturations = 0;
  std::int16_t overflow = 0;
};
inline thread_local OpTrace* current_op_trace = nullptr;

class OpTraceScope {
 public:
  explicit OpTraceScope(OpTrace& trace) noexcept : previous_(current_op_trace) { current_op_trace = &trace; }
  ~OpTraceScope() { current_op_trace = previous_; }
  OpTraceScope(const OpTraceScope&) = delete;
  OpTraceScope& operator=(const OpTraceScope&) = delete;

 private:
  OpTrace* previous_;
};

struct TraceIndicator {
  void set() const noexcept {
    if (OpTrace* t = current_op_trace) { t->overflow = 1; ++t->saturations; }
  }
  void clear() const noexcept {
    if (OpTrace* t = current_op_trace) t->overflow = 0;
  }
  void count(Op op) const noexcept {
    if (OpTrace* t = current_op_trace) ++t->calls[static_cast<std::size_t>(op)];
  }
};
using DefaultIndicator = TraceIndicator;
#else
using DefaultIndicator = NoIndicator;
#endif

namespace detail {

// Passes saturation reports through but not call counts, so that an operator built from others counts once.
template <class Ind>
struct Quiet {
  Ind& inner;
  constexpr void set() noexcept { inner.set(); }
  constexpr void clear() noexcept { inner.clear(); }
  constexpr void count(Op) const noexcept {}
};
template <class Ind>
constexpr Quiet<Ind> quiet(Ind& ind) noexcept { return Quiet<Ind>{ind}; }

// A broken division precondition is a programming error: say so and end abnormally, so that it can never
// pass for a successful run.
[[noreturn]] inline void division_precondition_failed(const char* op, std::int32_t num, std::int32_t den) {
  std::fprintf(stderr, "fixed-point %s(%ld, %ld): operands out of range\n", op, static_cast<long>(num),
               static_cast<long>(den));
  std::abort();
}

// Shifts with the count widened to int, so that negating any 16-bit count is exact.
template <class Ind>
constexpr std::int16_t shr16(std::int16_t a, int n, Ind& ind) noexcept;
template <class Ind>
constexpr std::int16_t shl16(std::int16_t a, int n, Ind& ind) noexcept {
  if (n < 0) return shr16(a, -n, ind);
  if (a == 0) return 0;
  if (n <= 15) {
    const std::int32_t p = static_cast<std::int32_t>(a) * (std::int32_t{1} << n);
    if (p >= kMin16 && p <= kMax16) return static_cast<std::int16_t>(p);
  }
  ind.set();
  return a > 0 ? kMax16 : kMin16;
}
template <class Ind>
constexpr std::int16_t shr16(std::int16_t a, int n, Ind& ind) noexcept {
  if (n < 0) return shl16(a, -n, ind);
  if (n >= 15) return a < 0 ? -1 : 0;
  return static_cast<std::int16_t>(a >> n);
}

template <class Ind>
constexpr std::int32_t shr32(std::int32_t x, int n, Ind& ind) noexcept;
template <class Ind>
constexpr std::int32_t shl32(std::int32_t x, int n, Ind& ind) noexcept {
  if (n <= 0) return shr32(x, -n, ind);
  if (x == 0) return 0;
  if (n <= 31) {
    const std::int64_t p = static_cast<std::int64_t>(x) * (std::int64_t{1} << n);
    if (p >= kMin32 && p <= kMax32) return static_cast<std::int32_t>(p);
  }
  ind.set();
  return x > 0 ? kMax32 : kMin32;
}
template <class Ind>
constexpr std::int32_t shr32(std::int32_t x, int n, Ind& ind) noexcept {
  if (n < 0) return shl32(x, -n, ind);
  if (n >= 31) return x < 0 ? -1 : 0;
  return x >> n;
}

}  // namespace detail

// x clipped to [-32768, 32767].
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t saturate16(std::int32_t x, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::saturate16);
  if (x > kMax16) { ind.set(); return kMax16; }
  if (x < kMin16) { ind.set(); return kMin16; }
  ind.clear();
  return static_cast<std::int16_t>(x);
}

// saturate16(a + b).
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t add16(std::int16_t a, std::int16_t b, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::add16);
  return saturate16(std::int32_t{a} + b, detail::quiet(ind));
}

// saturate16(a - b).
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t sub16(std::int16_t a, std::int16_t b, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::sub16);
  return saturate16(std::int32_t{a} - b, detail::quiet(ind));
}

// |a|, with |-32768| = 32767.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t abs16(std::int16_t a, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::abs16);
  return a == kMin16 ? kMax16 : static_cast<std::int16_t>(a < 0 ? -a : a);
}

// -a, with -(-32768) = 32767.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t negate16(std::int16_t a, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::negate16);
  return a == kMin16 ? kMax16 : static_cast<std::int16_t>(-a);
}

// a * 2^n saturated; a negative n shifts right (shr16).
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t shl16(std::int16_t a, std::int16_t n, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::shl16);
  return detail::shl16(a, n, ind);
}

// floor(a / 2^n), -1 or 0 for n >= 15; a negative n shifts left (shl16).
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t shr16(std::int16_t a, std::int16_t n, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::shr16);
  return detail::shr16(a, n, ind);
}

// saturate16(floor(a * b / 2^15)): Q15 product, truncated.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t mult16(std::int16_t a, std::int16_t b, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::mult16);
  return saturate16((std::int32_t{a} * b) >> 15, detail::quiet(ind));
}

// saturate16(floor((a * b + 2^14) / 2^15)): Q15 product, rounded half up.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t mult16_round(std::int16_t a, std::int16_t b, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::mult16_round);
  return saturate16((std::int32_t{a} * b + 0x4000) >> 15, detail::quiet(ind));
}

// a * b exactly; callers keep the low 16 bits (two's-complement wrap).
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t mult16_wrap(std::int16_t a, std::int16_t b, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::mult16_wrap);
  return std::int32_t{a} * b;
}

// 2 * a * b (Q15 x Q15 -> Q31); (-32768)^2 saturates to 0x7FFFFFFF.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t mult32_16x16(std::int16_t a, std::int16_t b, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::mult32_16x16);
  const std::int32_t p = std::int32_t{a} * b;
  if (p == 0x40000000) { ind.set(); return kMax32; }
  return p * 2;
}

// a + b clipped to the 32-bit range.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t add32(std::int32_t a, std::int32_t b, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::add32);
  std::int32_t s;
  if (__builtin_add_overflow(a, b, &s)) { ind.set(); return a < 0 ? kMin32 : kMax32; }
  return s;
}

// a - b clipped to the 32-bit range.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t sub32(std::int32_t a, std::int32_t b, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::sub32);
  std::int32_t s;
  if (__builtin_sub_overflow(a, b, &s)) { ind.set(); return a < 0 ? kMin32 : kMax32; }
  return s;
}

// add32(acc, mult32_16x16(a, b)): each step saturates on its own.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t mac32(std::int32_t acc, std::int16_t a, std::int16_t b,
                                           Ind&& ind = Ind{}) noexcept {
  ind.count(Op::mac32);
  return add32(acc, mult32_16x16(a, b, detail::quiet(ind)), detail::quiet(ind));
}

// sub32(acc, mult32_16x16(a, b)): each step saturates on its own.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t msu32(std::int32_t acc, std::int16_t a, std::int16_t b,
                                           Ind&& ind = Ind{}) noexcept {
  ind.count(Op::msu32);
  return sub32(acc, mult32_16x16(a, b, detail::quiet(ind)), detail::quiet(ind));
}

// -x, with -(MIN32) = MAX32.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t negate32(std::int32_t x, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::negate32);
  return x == kMin32 ? kMax32 : -x;
}

// |x|, with |MIN32| = MAX32.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t abs32(std::int32_t x, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::abs32);
  return x == kMin32 ? kMax32 : (x < 0 ? -x : x);
}

// x * 2^n saturated; a non-positive n shifts right (shr32).
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t shl32(std::int32_t x, std::int16_t n, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::shl32);
  return detail::shl32(x, n, ind);
}

// floor(x / 2^n), -1 or 0 for n >= 31; a negative n shifts left (shl32).
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t shr32(std::int32_t x, std::int16_t n, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::shr32);
  return detail::shr32(x, n, ind);
}

// floor(x / 2^16): the upper half.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t extract_high(std::int32_t x, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::extract_high);
  return static_cast<std::int16_t>(x >> 16);
}

// The lower 16 bits read as a signed value.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t extract_low(std::int32_t x, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::extract_low);
  return static_cast<std::int16_t>(x);
}

// extract_high(add32(x, 2^15)): the upper half rounded half up; x >= 0x7FFF8000 gives 32767.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t round32_to16(std::int32_t x, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::round32_to16);
  return static_cast<std::int16_t>(add32(x, 0x8000, detail::quiet(ind)) >> 16);
}

// a * 2^16.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t deposit_high(std::int16_t a, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::deposit_high);
  return std::int32_t{a} * 65536;
}

// a sign-extended to 32 bits.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t deposit_low(std::int16_t a, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::deposit_low);
  return a;
}

// Left shifts that bring a (or ~a when negative) to at least 0x4000; 0 for 0, 15 for -1.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t norm16(std::int16_t a, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::norm16);
  if (a == 0) return 0;
  if (a == -1) return 15;
  const auto m = static_cast<std::uint16_t>(a < 0 ? ~a : a);
  return static_cast<std::int16_t>(std::countl_zero(m) - 1);
}

// Left shifts that bring x (or ~x when negative) to at least 0x40000000; 0 for 0, 31 for -1.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t norm32(std::int32_t x, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::norm32);
  if (x == 0) return 0;
  if (x == -1) return 31;
  const auto m = static_cast<std::uint32_t>(x < 0 ? ~x : x);
  return static_cast<std::int16_t>(std::countl_zero(m) - 1);
}

// floor(num * 2^15 / den) for 0 <= num <= den, den > 0, with num = den giving 32767.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t div16(std::int16_t num, std::int16_t den, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::div16);
  if (num < 0 || den <= 0 || num > den) detail::division_precondition_failed("div16", num, den);
  if (num == 0) return 0;
  if (num == den) return kMax16;
#if !defined(G7231_FX_TRACE) && !defined(G7231_NO_FAST_PATHS)
  // The restoring division below yields floor(num * 2^15 / den) (num < den keeps every step in range);
  // its add16 steps clear the indicator whenever the quotient has a 1-bit.
  const auto quotient = static_cast<std::int16_t>((std::int32_t{num} << 15) / den);
  if (quotient != 0) ind.clear();
  return quotient;
#endif
  std::int32_t r = num;
  std::int16_t q = 0;
  for (int i = 0; i < 15; ++i) {
    r *= 2;
    q = static_cast<std::int16_t>(q * 2);
    if (r >= den) {
      r = sub32(r, den, detail::quiet(ind));
      q = add16(q, 1, detail::quiet(ind));
    }
  }
  return q;
}

// floor(num * 2^15 / (den * 2^16)) for num >= 0, den > 0; 32767 when num >= den * 2^16.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int16_t div32_16(std::int32_t num, std::int16_t den, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::div32_16);
  if (num < 0 || den <= 0) detail::division_precondition_failed("div32_16", num, den);
  std::int32_t d = deposit_high(den, detail::quiet(ind));
  if (num >= d) return kMax16;
#if !defined(G7231_FX_TRACE) && !defined(G7231_NO_FAST_PATHS)
  // The restoring division below yields floor((num / 2) * 2^15 / (den * 2^15)): num / 2 < den * 2^15 <
  // 2^30 keeps every shift and subtraction in range. Its add16 steps clear the indicator as above.
  const auto quotient = static_cast<std::int16_t>((num >> 1) / den);
  if (quotient != 0) ind.clear();
  return quotient;
#endif
  num = shr32(num, 1, detail::quiet(ind));
  d = shr32(d, 1, detail::quiet(ind));
  std::int16_t q = 0;
  for (int i = 0; i < 15; ++i) {
    q = shl16(q, 1, detail::quiet(ind));
    num = shl32(num, 1, detail::quiet(ind));
    if (num >= d) {
      num = sub32(num, d, detail::quiet(ind));
      q = add16(q, 1, detail::quiet(ind));
    }
  }
  return q;
}

// x * w / 2^15 (Q31 x Q15 -> Q31) from the halves of x: floor(lo * w / 2^15) + 2 * hi * w, saturated.
template <class Ind = DefaultIndicator>
[[nodiscard]] constexpr std::int32_t mult32_32x16(std::int32_t x, std::int16_t w, Ind&& ind = Ind{}) noexcept {
  ind.count(Op::mult32_32x16);
  const auto hi = static_cast<std::int16_t>(x >> 16);
  const std::int32_t lo = x & 0xFFFF;
  const std::int32_t t = (lo * w) >> 15;
  return mac32(t, hi, w, detail::quiet(ind));
}

}  // namespace fx
