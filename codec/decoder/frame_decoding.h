// The decoder's spine: one received frame, of whatever kind, back to speech.
#pragma once

#include <cstdint>
#include <span>

#include "codec/decoder/decoder.h"

namespace g7231 {

// Decodes (or conceals) one frame into out, postfiltered when the decoder's postfilter is on.
DecodeResult decode_frame_pipeline(G7231Decoder& dec, std::span<const std::uint8_t> frame, bool lost,
                                   std::span<std::int16_t, kFrameSamples> out);

}  // namespace g7231
