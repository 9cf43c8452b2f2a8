#include "codec/comfort_noise.h"

namespace g7231 {

// Pass-through stage until comfort-noise coding is built: the frame stays untransmitted.
void encode_inactive_frame(G7231Encoder&, std::span<std::int16_t, kFrameSamples>, FrameKind&, FrameParams&,
                           std::span<std::int16_t, kSubframes * kLpcOrder>) {}

}  // namespace g7231
