// The layout of the four kinds of frame, described once for the packer and the unpacker.
//
// A frame is a 2-bit frame-type code followed by the fields of its kind, each written least significant
// bit first; bit n of the frame is bit (n mod 8) of byte n / 8.
//
//   type  frame                       bits  bytes
//   0     active speech, 6.3 kbit/s    192     24
//   1     active speech, 5.3 kbit/s    160     20
//   2     SID (comfort-noise update)    32      4
//   3     untransmitted                  2      1
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bitstream/frame_params.h"

namespace g7231 {

// The 2-bit frame-type code on the wire.
enum class FrameType : std::uint8_t {
  active_high_rate = 0,  // 6.3 kbit/s
  active_low_rate = 1,   // 5.3 kbit/s
  sid = 2,
  untransmitted = 3,
};

constexpr FrameType frame_type(FrameKind kind, bool low_rate) {
  switch (kind) {
    case FrameKind::untransmitted: return FrameType::untransmitted;
    case FrameKind::sid: return FrameType::sid;
    case FrameKind::active: break;
  }
  return low_rate ? FrameType::active_low_rate : FrameType::active_high_rate;
}

constexpr FrameKind frame_kind(FrameType type) {
  switch (type) {
    case FrameType::sid: return FrameKind::sid;
    case FrameType::untransmitted: return FrameKind::untransmitted;
    case FrameType::active_high_rate:
    case FrameType::active_low_rate: break;
  }
  return FrameKind::active;
}

// The type of a packed frame, from its first byte.
constexpr FrameType frame_type_of(std::uint8_t first_byte) { return static_cast<FrameType>(first_byte & 3); }

constexpr int frame_bits(FrameType type) {
  constexpr std::array<int, 4> kBits = {192, 160, 32, 2};
  return kBits[static_cast<std::size_t>(type)];
}

// A frame's natural length in bytes.
constexpr std::size_t frame_bytes(FrameType type) { return static_cast<std::size_t>(frame_bits(type) + 7) / 8; }

// 6.3 kbit/s: the low bits of each subframe's position index sent on their own; the rest (the high part)
// of all four combined in one mixed-radix number 810 m0 + 90 m1 + 9 m2 + m3, whose digits m0 and m2 run
// from 0 to 9 and m1 and m3 from 0 to 8 (at most 8099).
inline constexpr std::array<int, kSubframes> kPositionLowBits = {16, 14, 16, 14};
inline constexpr std::array<std::int32_t, kSubframes> kPositionHighRadix = {10, 9, 10, 9};
inline constexpr std::array<int, kSubframes> kMpmlqSignBits = {6, 5, 6, 5};

constexpr std::int32_t combine_position_high_parts(const std::array<std::int32_t, kSubframes>& digits) {
  std::int32_t v = 0;
  for (std::size_t s = 0; s < kSubframes; ++s) v = v * kPositionHighRadix[s] + digits[s];
  return v;
}

// The digits of a combined high part, m0 possibly above 9 when the value exceeds 8099.
constexpr std::array<std::int32_t, kSubframes> split_position_high_part(std::int32_t v) {
  std::array<std::int32_t, kSubframes> digits{};
  for (std::size_t s = kSubframes; s-- > 1;) {
    digits[s] = v % kPositionHighRadix[s];
    v /= kPositionHighRadix[s];
  }
  digits[0] = v;
  return digits;
}

inline constexpr std::int32_t kMaxPositionHighPart = combine_position_high_parts({9, 8, 9, 8});

// One combined gain word per subframe: adaptive-codebook entry x 24 + fixed-codebook level, plus 2048
// when the 6.3 kbit/s pulse train is on.
inline constexpr std::int32_t kFcbGainsPerEntry = 24;
inline constexpr std::int32_t kPulseTrainFlag = 2048;

// The transmitted fields of a frame, as they stand on the wire.
struct WireFrame {
  std::int32_t type = 0;
  std::int32_t lsp_index = 0;
  std::array<std::int32_t, 2> lag{};            // olp_lag - 18 of each subframe pair
  std::array<std::int32_t, 2> odd_lag_delta{};  // lag_delta of subframes 1 and 3
  std::array<std::int32_t, kSubframes> gain{};  // combined gain words
  std::array<std::int32_t, kSubframes> grid{};
  std::array<std::int32_t, kSubframes> positions{};  // 5.3 kbit/s: position code; 6.3 kbit/s: its low bits
  std::array<std::int32_t, kSubframes> signs{};
  std::int32_t reserved = 0;       // 6.3 kbit/s, always 0
  std::int32_t position_high = 0;  // 6.3 kbit/s
  std::int32_t sid_gain = 0;       // SID gain index
};

// Calls visit(field, width) for every field of a frame of the given type, in transmission order. frame is
// a WireFrame, const for writing and mutable for reading.
template <class Wire, class Visit>
constexpr void visit_fields(FrameType type, Wire& frame, Visit&& visit) {
  visit(frame.type, 2);
  if (type == FrameType::untransmitted) return;
  visit(frame.lsp_index, 24);
  if (type == FrameType::sid) {
    visit(frame.sid_gain, 6);
    return;
  }
  for (std::size_t h = 0; h < 2; ++h) {
    visit(frame.lag[h], 7);
    visit(frame.odd_lag_delta[h], 2);
  }
  for (auto& g : frame.gain) visit(g, 12);
  for (auto& g : frame.grid) visit(g, 1);
  if (type == FrameType::active_low_rate) {
    for (auto& p : frame.positions) visit(p, 12);
    for (auto& s : frame.signs) visit(s, 4);
  } else {
    visit(frame.reserved, 1);
    visit(frame.position_high, 13);
    for (std::size_t s = 0; s < kSubframes; ++s) visit(frame.positions[s], kPositionLowBits[s]);
    for (std::size_t s = 0; s < kSubframes; ++s) visit(frame.signs[s], kMpmlqSignBits[s]);
  }
}

}  // namespace g7231
