// The DSP kernels built for x86 AVX2. Only called where the processor runs it (dsp_kernels.cpp).
#define G7231_KERNEL_ISA 2
#define G7231_KERNEL_ATTRIBUTES [[gnu::target("avx2"), gnu::flatten]]
#define G7231_KERNEL_LEVEL SimdLevel::avx2
#define G7231_KERNEL_SET kAvx2Kernels
#include "codec/common/dsp_kernel_set.inc"
