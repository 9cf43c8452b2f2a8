#include "bitstream/rtp_payload.h"

#include <algorithm>

namespace g7231::rtp {
namespace {

std::uint16_t read16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

std::uint32_t read32(std::span<const std::uint8_t> b, std::size_t at) {
  return (static_cast<std::uint32_t>(read16(b, at)) << 16) | read16(b, at + 2);
}

void append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

}  // namespace

ParsedPacket parse_packet(std::span<const std::uint8_t> datagram) {
  ParsedPacket p;
  if (datagram.size() < kFixedHeaderBytes) return p;
  if ((datagram[0] >> 6) != kVersion) {
    p.status = PacketStatus::not_version_2;
    return p;
  }
  const bool padding = (datagram[0] & 0x20) != 0;
  const bool extension = (datagram[0] & 0x10) != 0;
  const std::size_t csrc_count = datagram[0] & 0x0F;
  std::size_t start = kFixedHeaderBytes + 4 * csrc_count;
  if (extension) {
    if (datagram.size() < start + 4) return p;
    start += 4 + 4 * static_cast<std::size_t>(read16(datagram, start + 2));
  }
  if (datagram.size() < start) return p;
  std::size_t end = datagram.size();
  if (padding) {
    const std::size_t pad = datagram.back();
    if (pad == 0 || pad > end - start) {
      p.status = PacketStatus::bad_padding;
      return p;
    }
    end -= pad;
  }
  p.status = PacketStatus::ok;
  p.header.marker = (datagram[1] & 0x80) != 0;
  p.header.payload_type = datagram[1] & 0x7F;
  p.header.sequence = read16(datagram, 2);
  p.header.timestamp = read32(datagram, 4);
  p.header.ssrc = read32(datagram, 8);
  p.payload = datagram.subspan(start, end - start);
  return p;
}

std::vector<std::uint8_t> packet_bytes(const Header& header, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> out;
  out.reserve(kFixedHeaderBytes + payload.size());
  out.push_back(static_cast<std::uint8_t>(kVersion << 6));
  out.push_back(static_cast<std::uint8_t>((header.marker ? 0x80 : 0) | (header.payload_type & 0x7F)));
  out.push_back(static_cast<std::uint8_t>(header.sequence >> 8));
  out.push_back(static_cast<std::uint8_t>(header.sequence));
  append32(out, header.timestamp);
  append32(out, header.ssrc);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

PayloadFrames split_payload(std::span<const std::uint8_t> payload) {
  PayloadFrames r;
  if (payload.empty()) return r;
  std::size_t at = 0;
  while (at < payload.size()) {
    const std::size_t size = frame_bytes(frame_type_of(payload[at]));
    if (size > payload.size() - at) {
      r.frames.clear();
      r.status = PayloadStatus::lengths_differ;
      return r;
    }
    r.frames.push_back(payload.subspan(at, size));
    at += size;
  }
  r.status = PayloadStatus::ok;
  return r;
}

std::int64_t frames_between(std::uint32_t from, std::uint32_t to) {
  const auto ticks = static_cast<std::int64_t>(static_cast<std::int32_t>(to - from));
  const std::int64_t half = kTicksPerFrame / 2;
  // Round half away from zero, symmetrically for gaps forward and back.
  return ticks >= 0 ? (ticks + half) / kTicksPerFrame : -((-ticks + half) / kTicksPerFrame);
}

Packetiser::Packetiser(const PacketiserSettings& settings)
    : settings_(settings), next_sequence_(settings.first_sequence), next_timestamp_(settings.first_timestamp) {
  settings_.frames_per_packet = std::max<std::size_t>(settings_.frames_per_packet, 1);
}

bool Packetiser::add_frame(std::span<const std::uint8_t> frame, std::vector<Packet>& out) {
  if (frame.empty()) return false;
  const FrameType type = frame_type_of(frame[0]);
  const std::size_t size = frame_bytes(type);
  if (frame.size() < size) return false;

  if (type == FrameType::untransmitted) {
    send(out);
  } else {
    const bool active = type == FrameType::active_low_rate || type == FrameType::active_high_rate;
    const bool talkspurt = active && in_silence_;
    if (talkspurt) send(out);
    if (pending_.frames == 0) {
      pending_.header = {.marker = first_packet_ || talkspurt,
                         .payload_type = settings_.payload_type,
                         .sequence = next_sequence_,
                         .timestamp = next_timestamp_,
                         .ssrc = settings_.ssrc};
      pending_.first_frame = frame_index_;
    }
    pending_.payload.insert(pending_.payload.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(size));
    ++pending_.frames;
    if (pending_.frames == settings_.frames_per_packet) send(out);
  }
  in_silence_ = type == FrameType::untransmitted || type == FrameType::sid;
  next_timestamp_ += kTicksPerFrame;
  ++frame_index_;
  return true;
}

void Packetiser::finish(std::vector<Packet>& out) { send(out); }

void Packetiser::send(std::vector<Packet>& out) {
  if (pending_.frames == 0) return;
  out.push_back(std::move(pending_));
  pending_ = Packet{};
  ++next_sequence_;
  first_packet_ = false;
}

}  // namespace g7231::rtp
