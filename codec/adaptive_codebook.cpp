#include "codec/adaptive_codebook.h"

namespace g7231 {

// Pass-through stages until the adaptive codebook is built.
void search_adaptive_codebook(std::span<std::int16_t, kSubframeSamples>, std::span<const std::int16_t, kSubframeSamples>,
                              const G7231Encoder&, FrameParams&, std::size_t) {}

void decode_adaptive_codebook(std::span<std::int16_t, kSubframeSamples>, std::span<const std::int16_t, kHistorySamples>,
                              std::int16_t, std::int16_t, std::int16_t, bool) {}

}  // namespace g7231
