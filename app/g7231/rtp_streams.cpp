#include "app/g7231/rtp_streams.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_map>

#include "bitstream/rtp_payload.h"

namespace g7231::app {
namespace {

// RTCP packets share the version bits; their packet types 200 to 204 read as payload types 72 to 76.
bool is_rtcp(int payload_type) { return payload_type >= 72 && payload_type <= 76; }

struct Received {
  double arrival = 0.0;
  rtp::Header header;
  std::vector<std::uint8_t> payload;
  std::int64_t sequence = 0;  // extended across wraps of the 16-bit sequence number
};

// Adds frames to the time line.
void append_frame(FrameStream& s, std::span<const std::uint8_t> bytes) {
  s.frames.push_back({s.bytes.size(), bytes.size(), false});
  s.bytes.insert(s.bytes.end(), bytes.begin(), bytes.end());
}

void append_gap(FrameStream& s, std::int64_t frames, bool lost) {
  static constexpr std::uint8_t kUntransmitted = static_cast<std::uint8_t>(FrameType::untransmitted);
  for (std::int64_t i = 0; i < frames; ++i) {
    if (lost) {
      s.frames.push_back({s.bytes.size(), 0, true});
    } else {
      append_frame(s, std::span(&kUntransmitted, 1));
    }
  }
}

// Lays the unique packets, in sequence order, out in time.
void lay_out(RtpStream& stream, const std::vector<Received*>& ordered) {
  FrameStream& s = stream.frames;
  s.format = StreamFormat::rtp;
  std::uint32_t expected = ordered.front()->header.timestamp;  // where the next frame is due
  std::int64_t previous_sequence = ordered.front()->sequence - 1;
  double previous_arrival = ordered.front()->arrival;
  bool previous_damaged = false;
  for (const Received* p : ordered) {
    const std::int64_t missing = p->sequence - previous_sequence - 1;
    const bool lost = missing > 0 || previous_damaged;
    std::int64_t gap = rtp::frames_between(expected, p->header.timestamp);
    // A gap may be as long as the time between the packets' arrivals, and some more for the jitter.
    const double arrival_room = std::abs(p->arrival - previous_arrival) + 2.0;
    const auto allowed = static_cast<std::int64_t>(std::min(arrival_room / 0.030, static_cast<double>(kMaxGapFrames)));
    if (gap < 0 || gap > allowed) {
      ++stream.timestamp_jumps;
      gap = missing + (previous_damaged ? 1 : 0);
    }
    append_gap(s, gap, lost);
    const rtp::PayloadFrames split = rtp::split_payload(p->payload);
    if (split.status == rtp::PayloadStatus::ok) {
      for (const auto& frame : split.frames) append_frame(s, frame);
      expected = p->header.timestamp + static_cast<std::uint32_t>(split.frames.size()) * rtp::kTicksPerFrame;
      previous_damaged = false;
    } else {
      ++stream.damaged;
      expected = p->header.timestamp;
      previous_damaged = true;
    }
    previous_sequence = p->sequence;
    previous_arrival = p->arrival;
  }
  if (previous_damaged) append_gap(s, 1, true);  // the last packet's time, at least one frame
}

void assemble(RtpStream& stream, std::vector<Received>& packets) {
  stream.packets = packets.size();
  std::set<std::int64_t> seen;
  std::vector<Received*> unique;
  std::int64_t highest = packets.front().header.sequence;
  double jitter = 0.0;  // in RTP clock ticks
  const Received* previous = nullptr;
  for (Received& p : packets) {
    const auto delta = static_cast<std::int16_t>(p.header.sequence - static_cast<std::uint16_t>(highest));
    p.sequence = highest + delta;
    if (!seen.insert(p.sequence).second) {
      ++stream.duplicates;
      continue;
    }
    if (p.sequence < highest) ++stream.reordered;
    highest = std::max(highest, p.sequence);
    unique.push_back(&p);
    // The running estimate of the interarrival jitter, over the packets in their order of arrival.
    // D is how much later this packet arrived than the one before, against how much later it was sent.
    if (previous != nullptr) {
      const double d = (p.arrival - previous->arrival) * rtp::kClockRate -
                       static_cast<double>(static_cast<std::int32_t>(p.header.timestamp - previous->header.timestamp));
      jitter += (std::abs(d) - jitter) / 16.0;
    }
    previous = &p;
  }
  stream.jitter = jitter / rtp::kClockRate;
  std::sort(unique.begin(), unique.end(), [](const Received* a, const Received* b) { return a->sequence < b->sequence; });
  stream.lost = static_cast<std::size_t>(unique.back()->sequence - unique.front()->sequence + 1) - unique.size();
  lay_out(stream, unique);
}

}  // namespace

CaptureStreams rtp_streams(CaptureScan scan, int payload_type) {
  CaptureStreams result;
  result.payload_type = payload_type;
  result.udp_datagrams = scan.datagrams.size();
  std::vector<std::vector<Received>> packets;
  std::unordered_map<std::uint32_t, std::size_t> index_of;
  for (UdpDatagram& d : scan.datagrams) {
    const rtp::ParsedPacket p = rtp::parse_packet(d.payload);
    if (p.status != rtp::PacketStatus::ok || p.header.payload_type != payload_type) {
      ++result.other_udp;
      if (p.status == rtp::PacketStatus::ok && !is_rtcp(p.header.payload_type)) {
        ++result.other_payload_types[p.header.payload_type];
      }
      continue;
    }
    ++result.rtp_packets;
    const auto [it, fresh] = index_of.emplace(p.header.ssrc, result.streams.size());
    if (fresh) {
      RtpStream s;
      s.ssrc = p.header.ssrc;
      s.source = d.source;
      s.destination = d.destination;
      result.streams.push_back(std::move(s));
      packets.emplace_back();
    }
    packets[it->second].push_back({d.time, p.header, {p.payload.begin(), p.payload.end()}, 0});
  }
  scan.datagrams.clear();
  result.scan = std::move(scan);
  for (std::size_t i = 0; i < result.streams.size(); ++i) assemble(result.streams[i], packets[i]);
  return result;
}

}  // namespace g7231::app
