// Packing a frame's parameters into the transmitted bytes.
//
// A frame is a 2-bit frame-type code followed by the fields of its kind, each written least significant
// bit first; bit n of the frame is bit (n mod 8) of byte n / 8. Frame sizes: 24 bytes (active, 6.3 kbit/s),
// 20 bytes (active, 5.3 kbit/s), 4 bytes (SID) and 1 byte (untransmitted).
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_params.h"

namespace g7231 {

// Frame-type codes on the wire.
inline constexpr int kTypeActiveHighRate = 0;
inline constexpr int kTypeActiveLowRate = 1;
inline constexpr int kTypeSid = 2;
inline constexpr int kTypeUntransmitted = 3;

// A frame under construction: the output bytes and the number of bits written so far.
struct FrameBits {
  std::span<std::uint8_t, kMaxFrameBytes> bytes;
  int count = 0;
};

// Appends the `width` lowest bits of value to the frame, least significant bit first.
void int_to_bits(std::int32_t value, FrameBits& bits, int width);

// Clears all 24 bytes of out, writes the frame of the given kind and returns its length in bits
// (192, 160, 32 or 2). low_rate selects 5.3 kbit/s for active frames, otherwise 6.3 kbit/s. Fields wider
// than their slot contribute only their lowest bits.
int pack_frame(const FrameParams& params, std::span<std::uint8_t, kMaxFrameBytes> out, FrameKind kind,
               bool low_rate);

}  // namespace g7231
