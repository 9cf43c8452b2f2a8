#include "codec/filter_cascade.h"

namespace g7231 {

// Pass-through stages until the filter cascade is built.
void compute_impulse_response(std::span<std::int16_t, kSubframeSamples>, std::span<const std::int16_t, kLpcOrder>,
                              std::span<const std::int16_t, kWeightingCoefs>, HarmonicWeighting) {}

void subtract_ringing(std::span<std::int16_t, kSubframeSamples>, std::span<const std::int16_t, kLpcOrder>,
                      std::span<const std::int16_t, kWeightingCoefs>, const CascadeMemory&, HarmonicWeighting) {}

void update_filter_memories(std::span<std::int16_t, kSubframeSamples>, std::span<const std::int16_t, kLpcOrder>,
                            std::span<const std::int16_t, kWeightingCoefs>, const CascadeMemory&) {}

}  // namespace g7231
