// The inner loops that take most of a frame's time, built once per instruction-set level.
//
// Every kernel exists as plain C++ (the scalar level, built for the processor's baseline) and again for
// each vector level of the processor family, from the same source compiled for that level's instruction
// set (x86/dsp_kernels_*.cpp). Every level computes the same values, bit for bit: the kernels use only
// exact integer arithmetic, and only where a bound rules out saturation. A codec object chooses its level
// when it is created (the best its processor runs, unless told otherwise) and keeps the kernels it uses.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/common/constants.h"

namespace g7231 {

enum class SimdLevel : std::uint8_t {
  scalar,  // plain C++ for the baseline instruction set
  sse41,   // x86 SSE4.1
  avx2,    // x86 AVX2
  avx512,  // x86 AVX-512 (F, BW, VL)
  best,    // the best level the processor runs
};

// The level's name: "scalar", "sse41", "avx2", "avx512" or "best".
const char* simd_level_name(SimdLevel level);

// Whether this build and processor run the level (scalar and best always).
bool simd_level_available(SimdLevel level);

// The best level available here.
SimdLevel best_simd_level();

// The three passes of the per-subframe filter cascade (synthesis, formant weighting, harmonic shaping).
enum class CascadeMode : std::uint8_t {
  impulse,  // response to a unit impulse from zero memories
  ringing,  // zero-input response from the memories, taken off the target
  update,   // the final excitation through the filters: memories advance, excitation becomes speech
};

// Working memory of one cascade pass. f and r hold the synthesis and weighting filter outputs in time
// order: [0..9] the ten outputs before the subframe, oldest first, [10 + n] those of sample n; the six
// entries after them stay zero. shaping holds the 145 weighting outputs before the subframe, then the 60
// of the subframe.
inline constexpr std::size_t kCascadeLine = kLpcOrder + kSubframeSamples + 6;
struct CascadeWork {
  std::array<std::int16_t, kCascadeLine> f{};
  std::array<std::int16_t, kCascadeLine> r{};
  std::array<std::int16_t, kHistorySamples + kSubframeSamples> shaping{};
};

struct DspKernels {
  SimdLevel level;

  // One cascade pass over a subframe with the synthesis filter a and the weighting filter w (numerator
  // w[0..9], denominator w[10..19]). io is written with the impulse response, updated as the target, or
  // read as the excitation and written with the reconstructed speech, by mode. lag and gain shape the
  // impulse response and the ringing only.
  void (*filter_cascade)(CascadeMode mode, std::span<std::int16_t, kSubframeSamples> io,
                         std::span<const std::int16_t, kLpcOrder> a, std::span<const std::int16_t, 2 * kLpcOrder> w,
                         CascadeWork& work, std::int16_t lag, std::int16_t gain);
};

// The kernels of a level; an unavailable level gives the scalar kernels, best the best available.
const DspKernels& dsp_kernels(SimdLevel level = SimdLevel::best);

}  // namespace g7231
