// The DSP kernels built for x86 AVX-512. Only called where the processor runs it (dsp_kernels.cpp).
#define G7231_KERNEL_ISA 3
#define G7231_KERNEL_ATTRIBUTES [[gnu::target("avx512f,avx512bw,avx512vl,avx2"), gnu::flatten]]
#define G7231_KERNEL_LEVEL SimdLevel::avx512
#define G7231_KERNEL_SET kAvx512Kernels
#include "codec/common/dsp_kernel_set.inc"
