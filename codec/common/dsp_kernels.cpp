// The scalar kernel set, and the choice among the levels this build and processor run.
#include "codec/common/dsp_kernels.h"

#define G7231_KERNEL_ISA 0
#define G7231_KERNEL_ATTRIBUTES [[gnu::flatten]]
#define G7231_KERNEL_LEVEL SimdLevel::scalar
#define G7231_KERNEL_SET kScalarKernels
#include "codec/common/dsp_kernel_set.inc"

namespace g7231 {

#if defined(G7231_X86_KERNELS)
extern const DspKernels kSse41Kernels;
extern const DspKernels kAvx2Kernels;
extern const DspKernels kAvx512Kernels;
#endif

const char* simd_level_name(SimdLevel level) {
  switch (level) {
    case SimdLevel::scalar: return "scalar";
    case SimdLevel::sse41: return "sse41";
    case SimdLevel::avx2: return "avx2";
    case SimdLevel::avx512: return "avx512";
    case SimdLevel::best: return "best";
  }
  return "?";
}

bool simd_level_available(SimdLevel level) {
  switch (level) {
    case SimdLevel::scalar:
    case SimdLevel::best:
      return true;
#if defined(G7231_X86_KERNELS)
    case SimdLevel::sse41:
      return __builtin_cpu_supports("sse4.1");
    case SimdLevel::avx2:
      return __builtin_cpu_supports("avx2");
    case SimdLevel::avx512:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
#else
    default:
      return false;
#endif
  }
  return false;
}

SimdLevel best_simd_level() {
  // AVX-512 is not among them: its kernels are the AVX2 ones with wider compiler-vectorised loops, and
  // measured no faster; it stays available by name.
  for (SimdLevel level : {SimdLevel::avx2, SimdLevel::sse41}) {
    if (simd_level_available(level)) return level;
  }
  return SimdLevel::scalar;
}

const DspKernels& dsp_kernels(SimdLevel level) {
  // The operator-by-operator and instrumented builds run every step through the saturating operators.
  if (!fx::kExactFastPaths) return kScalarKernels;
  if (level == SimdLevel::best) level = best_simd_level();
  if (!simd_level_available(level)) return kScalarKernels;
  switch (level) {
#if defined(G7231_X86_KERNELS)
    case SimdLevel::sse41: return kSse41Kernels;
    case SimdLevel::avx2: return kAvx2Kernels;
    case SimdLevel::avx512: return kAvx512Kernels;
#endif
    default: return kScalarKernels;
  }
}

}  // namespace g7231
