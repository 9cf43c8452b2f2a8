#include "codec/fixed_codebook.h"

namespace g7231 {

// Pass-through stage until the fixed codebook is built.
void search_fixed_codebook(std::span<std::int16_t, kSubframeSamples>, std::span<std::int16_t, kSubframeSamples>,
                           G7231Encoder&, FrameParams&, std::size_t) {}

}  // namespace g7231
