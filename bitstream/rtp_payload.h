// Coded frames in RTP packets: what a packet of this coder holds, read and written without any network
// code.
//
// The coder has the static payload type 4 and an 8 kHz RTP clock, so each 30 ms frame advances the RTP
// timestamp by 240. A packet's payload is one or more frames, consecutive in time from the packet's
// timestamp, concatenated at their natural lengths (24, 20, 4 or 1 bytes, from each frame's two type bits),
// with nothing between or after them. SID frames are sent; untransmitted frames are not, and the timestamp
// of the next packet still counts them. The marker bit flags the first packet of a stream and the first
// packet of each talkspurt (active speech after silence).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "bitstream/frame_layout.h"

namespace g7231::rtp {

inline constexpr std::uint8_t kPayloadType = 4;
inline constexpr std::uint32_t kClockRate = 8000;
inline constexpr std::uint32_t kTicksPerFrame = 240;
inline constexpr std::uint8_t kVersion = 2;
inline constexpr std::size_t kFixedHeaderBytes = 12;

// The fixed header's fields that a stream of this coder uses.
struct Header {
  bool marker = false;
  std::uint8_t payload_type = kPayloadType;  // 0 to 127
  std::uint16_t sequence = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t ssrc = 0;
};

enum class PacketStatus : std::uint8_t {
  ok,
  too_short,      // fewer bytes than the headers announce (fixed header, CSRC list, extension)
  not_version_2,  // the version bits are not 2: not an RTP packet
  bad_padding,    // the padding count is 0 or runs past the start of the payload
};

struct ParsedPacket {
  PacketStatus status = PacketStatus::too_short;
  Header header;                          // valid when status is ok
  std::span<const std::uint8_t> payload;  // after the CSRC list and extension, without padding
};

// Reads an RTP packet (a UDP datagram's payload). The payload span points into datagram.
ParsedPacket parse_packet(std::span<const std::uint8_t> datagram);

// The 12-byte fixed header (no CSRC, no extension, no padding) followed by the payload.
std::vector<std::uint8_t> packet_bytes(const Header& header, std::span<const std::uint8_t> payload);

enum class PayloadStatus : std::uint8_t {
  ok,
  empty,            // no bytes at all
  lengths_differ,   // the frames' natural lengths do not end exactly at the payload's end
};

struct PayloadFrames {
  PayloadStatus status = PayloadStatus::empty;
  std::vector<std::span<const std::uint8_t>> frames;  // each at its natural length; empty unless ok
};

// Splits a payload into its frames. A payload whose frame lengths do not add up to its size is rejected
// whole: its frames cannot be told apart, and nothing past its end is read. The spans point into payload.
PayloadFrames split_payload(std::span<const std::uint8_t> payload);

// The frames between two RTP timestamps of a stream, rounded to the nearest whole frame; negative when
// `to` lies before `from`. Timestamps wrap at 2^32; differences of up to 2^31 ticks either way are told
// apart.
std::int64_t frames_between(std::uint32_t from, std::uint32_t to);

struct PacketiserSettings {
  std::size_t frames_per_packet = 1;  // at least 1
  std::uint32_t ssrc = 0;
  std::uint16_t first_sequence = 0;
  std::uint32_t first_timestamp = 0;
  std::uint8_t payload_type = kPayloadType;
};

struct Packet {
  Header header;
  std::vector<std::uint8_t> payload;
  std::size_t frames = 0;          // frames in the payload
  std::uint64_t first_frame = 0;   // index in the coded stream of the payload's first frame (its send time)
};

// Groups a stream of coded frames into RTP packets. A packet holds up to frames_per_packet frames; it is
// sent early when an untransmitted frame interrupts it (its frames must stay consecutive) and when a
// talkspurt begins, so that each talkspurt starts a packet of its own, flagged by the marker bit.
class Packetiser {
 public:
  explicit Packetiser(const PacketiserSettings& settings);

  // Takes the next frame of the stream (its first bytes; anything after its natural length is ignored) and
  // appends the packets it completes to out. Returns false, taking nothing, for a frame shorter than its
  // type needs.
  bool add_frame(std::span<const std::uint8_t> frame, std::vector<Packet>& out);
  // Appends the packet still being filled, if any.
  void finish(std::vector<Packet>& out);

 private:
  void send(std::vector<Packet>& out);

  PacketiserSettings settings_;
  Packet pending_;
  std::uint16_t next_sequence_;
  std::uint32_t next_timestamp_;  // of the next frame
  std::uint64_t frame_index_ = 0;
  bool first_packet_ = true;
  bool in_silence_ = false;  // the last frame was SID or untransmitted
};

}  // namespace g7231::rtp
