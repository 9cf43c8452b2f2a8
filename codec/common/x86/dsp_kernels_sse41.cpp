// The DSP kernels built for x86 SSE4.1. Only called where the processor runs it (dsp_kernels.cpp).
#define G7231_KERNEL_ISA 1
#define G7231_KERNEL_ATTRIBUTES [[gnu::target("sse4.1"), gnu::flatten]]
#define G7231_KERNEL_LEVEL SimdLevel::sse41
#define G7231_KERNEL_SET kSse41Kernels
#include "codec/common/dsp_kernel_set.inc"
