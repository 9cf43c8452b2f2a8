// Packing a frame's parameters into the transmitted bytes (layouts in bitstream/frame_layout.h).
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_layout.h"
#include "bitstream/frame_params.h"

namespace g7231 {

// A frame under construction: the output bytes and the number of bits written so far.
struct FrameBits {
  std::span<std::uint8_t, kMaxFrameBytes> bytes;
  int count = 0;
};

// Appends the `width` lowest bits of value to the frame, least significant bit first.
void int_to_bits(std::int32_t value, FrameBits& bits, int width);

// The wire fields of a frame of the given kind: the lag offsets, the combined gain words and, at
// 6.3 kbit/s, the combined high part and low bits of the position indices.
WireFrame to_wire(const FrameParams& params, FrameKind kind, bool low_rate);

// Clears all 24 bytes of out, writes the frame of the given kind and returns its length in bits
// (192, 160, 32 or 2). low_rate selects 5.3 kbit/s for active frames, otherwise 6.3 kbit/s. Fields wider
// than their slot contribute only their lowest bits.
int pack_frame(const FrameParams& params, std::span<std::uint8_t, kMaxFrameBytes> out, FrameKind kind,
               bool low_rate);

}  // namespace g7231
