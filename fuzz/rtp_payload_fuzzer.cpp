// Fuzz target: arbitrary bytes as an RTP packet of coded frames. The header is read, the payload split
// into frames; a payload that splits must be its frames end to end at their natural lengths, and the
// frames packetised again must come back the same from the new packets' payloads (untransmitted frames
// left out, as they are never sent). Nothing may be read past the input's end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bitstream/rtp_payload.h"

namespace {

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "rtp_payload_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace g7231;
  const rtp::ParsedPacket packet = rtp::parse_packet({data, size});
  if (packet.status != rtp::PacketStatus::ok) return 0;
  check(packet.payload.data() >= data && packet.payload.data() + packet.payload.size() <= data + size,
        "the payload lies outside the packet");
  const rtp::PayloadFrames split = rtp::split_payload(packet.payload);
  if (split.status != rtp::PayloadStatus::ok) {
    check(split.frames.empty(), "a refused payload gave frames");
    return 0;
  }
  std::size_t at = 0;
  for (const auto& frame : split.frames) {
    check(frame.data() == packet.payload.data() + at, "the frames do not follow one another");
    check(frame.size() == frame_bytes(frame_type_of(frame[0])), "a frame is not at its natural length");
    at += frame.size();
  }
  check(at == packet.payload.size(), "the frames do not fill the payload");

  // Packetised again, a few frames to a packet as the header's low bits say.
  rtp::Packetiser packetiser({.frames_per_packet = 1 + (packet.header.sequence & 3U),
                              .ssrc = packet.header.ssrc,
                              .first_sequence = packet.header.sequence,
                              .first_timestamp = packet.header.timestamp});
  std::vector<rtp::Packet> packets;
  for (const auto& frame : split.frames) check(packetiser.add_frame(frame, packets), "a whole frame was refused");
  packetiser.finish(packets);
  std::vector<std::span<const std::uint8_t>> sent;
  for (const auto& frame : split.frames) {
    if (frame_type_of(frame[0]) != FrameType::untransmitted) sent.push_back(frame);
  }
  std::size_t next = 0;
  for (const rtp::Packet& p : packets) {
    const rtp::PayloadFrames again = rtp::split_payload(p.payload);
    check(again.status == rtp::PayloadStatus::ok && again.frames.size() == p.frames, "a packet does not split");
    for (const auto& frame : again.frames) {
      check(next < sent.size() && std::equal(frame.begin(), frame.end(), sent[next].begin(), sent[next].end()),
            "a frame changed on its way through the packetiser");
      ++next;
    }
  }
  check(next == sent.size(), "frames were lost by the packetiser");
  return 0;
}
