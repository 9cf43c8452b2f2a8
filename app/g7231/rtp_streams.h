// The RTP streams of a capture: the packets of one payload type, one stream per SSRC, put in order by
// sequence number and laid out in time by their RTP timestamps, ready for the decoder.
//
// Time: each packet's frames start at its timestamp. Where the timestamps leave room between two packets
// whose sequence numbers follow on, the sender sent nothing (untransmitted frames of a silence), and the
// room is filled with untransmitted frames, so that the comfort noise goes on; where packets are missing
// or damaged in between, the room is filled with lost frames, which the decoder conceals. A timestamp
// that goes back, or leaps further ahead than the packets' arrival times allow, is counted as a jump and
// the stream carries on from it without filling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/g7231/capture.h"
#include "app/g7231/frame_stream.h"

namespace g7231::app {

struct RtpStream {
  std::uint32_t ssrc = 0;
  std::string source;       // of its first packet
  std::string destination;
  std::size_t packets = 0;          // received, duplicates included
  std::size_t duplicates = 0;       // a sequence number received again
  std::size_t reordered = 0;        // arrived after a packet that follows it
  std::size_t lost = 0;             // sequence numbers never received
  std::size_t damaged = 0;          // payloads whose frame lengths do not add up; their time is concealed
  std::size_t timestamp_jumps = 0;  // timestamps that break with the stream's time
  double jitter = 0.0;              // interarrival jitter in seconds, by RTP's running estimate
  FrameStream frames;               // in time order; lost frames flagged, untransmitted ones as the byte 3
};

struct CaptureStreams {
  CaptureScan scan;             // its datagrams are moved into the streams
  int payload_type = 0;         // the one asked for
  std::size_t udp_datagrams = 0;
  std::size_t rtp_packets = 0;  // of the payload type
  std::size_t other_udp = 0;    // UDP datagrams that are not RTP packets of that payload type
  std::map<int, std::size_t> other_payload_types;  // RTP packets of other payload types, by type
  std::vector<RtpStream> streams;                  // in order of their first packet
};

// The longest time between two packets filled with frames; a longer gap counts as a timestamp jump.
inline constexpr std::int64_t kMaxGapFrames = 10 * 60 * 1000 / 30;

// Sorts the capture's UDP datagrams into RTP streams of the payload type.
CaptureStreams rtp_streams(CaptureScan scan, int payload_type);

}  // namespace g7231::app
