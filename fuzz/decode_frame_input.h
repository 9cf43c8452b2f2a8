// The input of the decode_frame fuzz target: what the bytes it is given mean, shared by the target and
// the program that makes its seed corpus.
//
//   byte 0       decoder options: bit 0 set switches the postfilter off
//   then frames  a header byte, then the frame's bytes:
//                  bits 0-4  the frame's length in bytes, 0 to 31 (fewer where the input ends first), so
//                            that frames arrive at their natural length, cut short, or with bytes after them
//                  bit 7     the frame is flagged lost
#pragma once

#include <cstddef>
#include <cstdint>

namespace g7231::fuzz {

inline constexpr std::uint8_t kNoPostfilter = 0x01;
inline constexpr std::uint8_t kLengthMask = 0x1F;
inline constexpr std::uint8_t kLost = 0x80;

constexpr std::uint8_t frame_header(std::size_t length, bool lost) {
  return static_cast<std::uint8_t>((length & kLengthMask) | (lost ? kLost : 0));
}

}  // namespace g7231::fuzz
