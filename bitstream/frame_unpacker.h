// Unpacking a received frame into its parameters: the exact inverse of the packer, with every field that
// no encoder writes reported, so that the frame is concealed instead of decoded as garbage.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_layout.h"
#include "bitstream/frame_params.h"

namespace g7231 {

// The largest lag an encoder transmits for a subframe pair: the even subframe searches at most one above
// its base lag, which is capped at 140. Lag fields of 124..127 (lags 142..145) are never written.
inline constexpr std::int16_t kMaxTransmittedLag = 141;

enum class UnpackStatus : std::uint8_t {
  ok,         // params holds the frame
  truncated,  // the buffer is empty or shorter than its type needs; nothing was read past its end
  invalid,    // a field holds a value no encoder writes (see `fault`)
};

struct UnpackedFrame {
  UnpackStatus status = UnpackStatus::truncated;
  FrameType type = FrameType::untransmitted;  // from the first byte, when there is one
  FrameParams params;                         // the fields the frame carries; the rest stay 0
  const char* fault = nullptr;                // for an invalid frame: what is wrong, in a few words
};

// Reads `width` bits starting at frame bit `start`, least significant first.
std::int32_t bits_to_int(std::span<const std::uint8_t> bytes, int start, int width);

// Unpacks the frame at the start of bytes (its natural length is taken from its type bits; anything after
// it is ignored). Even subframes get lag_delta 1, as the encoder sets it; SID frames carry their gain index
// in sub[0].fcb_gain_index.
UnpackedFrame unpack_frame(std::span<const std::uint8_t> bytes);

}  // namespace g7231
