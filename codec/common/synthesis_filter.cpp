#include "codec/common/synthesis_filter.h"

namespace g7231 {

using namespace fx;

void synthesise_subframe(std::span<std::int16_t, kSubframeSamples> exc, std::span<const std::int16_t, kLpcOrder> a,
                         std::span<std::int16_t, kLpcOrder> mem) {
  for (std::int16_t& x : exc) {
    const std::int16_t s = round32_to16(shl32(synthesis_accumulator(x, a, mem), 2));
    push_memory(mem, s);
    x = shl16(s, 1);
  }
}

}  // namespace g7231
