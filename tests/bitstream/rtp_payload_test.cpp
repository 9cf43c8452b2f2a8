// RTP packets of coded frames: reading headers, splitting payloads, and packetising a stream.
#include "bitstream/rtp_payload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace g7231::rtp {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A frame of the given type at its natural length, its other bits set to tell frames apart.
Bytes frame(FrameType type, std::uint8_t fill = 0xA0) {
  Bytes f(frame_bytes(type), fill);
  f[0] = static_cast<std::uint8_t>((fill & 0xFC) | static_cast<std::uint8_t>(type));
  return f;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(RtpPacket, HeadersAreReadPastCsrcsAndExtensionAndWithoutPadding) {
  const Bytes payload = frame(FrameType::sid);
  Bytes packet = packet_bytes({.marker = true, .payload_type = 4, .sequence = 0xBEEF, .timestamp = 0x01020304,
                               .ssrc = 0xCAFEF00D},
                              payload);
  ParsedPacket p = parse_packet(packet);
  ASSERT_EQ(p.status, PacketStatus::ok);
  EXPECT_TRUE(p.header.marker);
  EXPECT_EQ(p.header.sequence, 0xBEEF);
  EXPECT_EQ(p.header.timestamp, 0x01020304U);
  EXPECT_EQ(p.header.ssrc, 0xCAFEF00DU);
  EXPECT_EQ(Bytes(p.payload.begin(), p.payload.end()), payload);

  // Two CSRCs, a one-word extension and three bytes of padding around the same payload.
  Bytes full(packet.begin(), packet.begin() + 12);
  full[0] |= 0x30 | 2;
  full.insert(full.end(), 8, 0x11);                   // CSRC list
  full.insert(full.end(), {0xBE, 0xDE, 0x00, 0x01});  // extension header, one word
  full.insert(full.end(), 4, 0x22);
  full.insert(full.end(), payload.begin(), payload.end());
  full.insert(full.end(), {0, 0, 3});
  p = parse_packet(full);
  ASSERT_EQ(p.status, PacketStatus::ok);
  EXPECT_EQ(Bytes(p.payload.begin(), p.payload.end()), payload);
}

TEST(RtpPacket, DamagedHeadersAreRefusedWithoutReadingPastTheEnd) {
  const Bytes good = packet_bytes({}, frame(FrameType::sid));
  struct Case {
    std::string name;
    Bytes bytes;
    PacketStatus status;
  };
  Bytes version1 = good;
  version1[0] = 0x40;
  Bytes csrcs = good;
  csrcs[0] |= 0x0F;  // 60 bytes of CSRCs announced
  Bytes extension(good.begin(), good.begin() + 12);
  extension[0] |= 0x10;
  extension.insert(extension.end(), {0, 0, 0x10, 0});  // 4096 words announced
  Bytes zero_padding = good;
  zero_padding[0] |= 0x20;
  zero_padding.back() = 0;
  Bytes long_padding = good;
  long_padding[0] |= 0x20;
  long_padding.back() = 5;  // more than the 4-byte payload
  const std::vector<Case> cases = {
      {"11 bytes", Bytes(good.begin(), good.begin() + 11), PacketStatus::too_short},
      {"version 1", version1, PacketStatus::not_version_2},
      {"CSRC list past the end", csrcs, PacketStatus::too_short},
      {"extension past the end", extension, PacketStatus::too_short},
      {"padding of 0", zero_padding, PacketStatus::bad_padding},
      {"padding into the header", long_padding, PacketStatus::bad_padding},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse_packet(c.bytes).status, c.status);
  }
}

TEST(RtpPayload, FramesAreSplitAtTheirNaturalLengthsOrThePayloadIsRefusedWhole) {
  const Bytes high = frame(FrameType::active_high_rate, 0x10);
  const Bytes low = frame(FrameType::active_low_rate, 0x20);
  const Bytes sid = frame(FrameType::sid, 0x30);
  const Bytes none = frame(FrameType::untransmitted, 0x40);
  struct Case {
    std::string name;
    Bytes payload;
    PayloadStatus status;
    std::vector<Bytes> frames;
  };
  const std::vector<Case> cases = {
      {"one frame", low, PayloadStatus::ok, {low}},
      {"mixed kinds", concat({sid, high, low, none}), PayloadStatus::ok, {sid, high, low, none}},
      {"empty", {}, PayloadStatus::empty, {}},
      {"last frame cut short", concat({low, Bytes(low.begin(), low.end() - 1)}), PayloadStatus::lengths_differ, {}},
      {"a 6.3 frame in 20 bytes", Bytes(high.begin(), high.begin() + 20), PayloadStatus::lengths_differ, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PayloadFrames split = split_payload(c.payload);
    EXPECT_EQ(split.status, c.status);
    std::vector<Bytes> frames;
    for (const auto& f : split.frames) frames.emplace_back(f.begin(), f.end());
    EXPECT_EQ(frames, c.frames);
  }
}

TEST(RtpPayload, FramesBetweenTimestampsRoundAndWrap) {
  EXPECT_EQ(frames_between(1000, 1000 + 3 * 240), 3);
  EXPECT_EQ(frames_between(1000, 1000 + 3 * 240 + 119), 3);
  EXPECT_EQ(frames_between(1000, 1000 + 3 * 240 + 120), 4);
  EXPECT_EQ(frames_between(0xFFFFFF00U, 0xFFFFFF00U + 480), 2);  // across the wrap
  EXPECT_EQ(frames_between(480, 0), -2);
}

// A stream of frame kinds: a = active, s = SID, u = untransmitted.
std::vector<Packet> packetise(const std::string& kinds, std::size_t per_packet) {
  Packetiser p({.frames_per_packet = per_packet, .ssrc = 77, .first_sequence = 0xFFFE, .first_timestamp = 1000});
  std::vector<Packet> out;
  std::uint8_t n = 0;
  for (char k : kinds) {
    const FrameType type = k == 'a' ? FrameType::active_low_rate : k == 's' ? FrameType::sid : FrameType::untransmitted;
    EXPECT_TRUE(p.add_frame(frame(type, static_cast<std::uint8_t>(n++ << 2)), out));
  }
  p.finish(out);
  return out;
}

TEST(RtpPacketiser, PacketsKeepTimeSkipUntransmittedFramesAndMarkEachTalkspurt) {
  struct Expected {
    std::uint32_t timestamp;
    std::size_t frames;
    bool marker;
  };
  struct Case {
    std::string kinds;
    std::size_t per_packet;
    std::vector<Expected> packets;
  };
  const std::vector<Case> cases = {
      {"aaa", 1, {{1000, 1, true}, {1240, 1, false}, {1480, 1, false}}},
      {"aaaaa", 2, {{1000, 2, true}, {1480, 2, false}, {1960, 1, false}}},
      // Silence: the SID frame is sent, untransmitted frames are not, and the next talkspurt starts a packet.
      {"aasuua", 3, {{1000, 3, true}, {2200, 1, true}}},
      {"asauua", 4, {{1000, 2, true}, {1480, 1, true}, {2200, 1, true}}},
      // A stream that begins in silence: the first packet is marked, the talkspurt again.
      {"usaa", 2, {{1240, 1, true}, {1480, 2, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kinds + " by " + std::to_string(c.per_packet));
    const std::vector<Packet> packets = packetise(c.kinds, c.per_packet);
    ASSERT_EQ(packets.size(), c.packets.size());
    for (std::size_t i = 0; i < packets.size(); ++i) {
      EXPECT_EQ(packets[i].header.timestamp, c.packets[i].timestamp) << "packet " << i;
      EXPECT_EQ(packets[i].frames, c.packets[i].frames) << "packet " << i;
      EXPECT_EQ(packets[i].header.marker, c.packets[i].marker) << "packet " << i;
      EXPECT_EQ(packets[i].header.sequence, static_cast<std::uint16_t>(0xFFFE + i)) << "sequence numbers wrap";
      EXPECT_EQ(packets[i].header.ssrc, 77U);
      EXPECT_EQ(split_payload(packets[i].payload).frames.size(), packets[i].frames);
      EXPECT_EQ(packets[i].first_frame, (packets[i].header.timestamp - 1000) / kTicksPerFrame);
    }
  }
}

TEST(RtpPacketiser, AFrameShorterThanItsTypeIsRefused) {
  Packetiser p({});
  std::vector<Packet> out;
  const Bytes low = frame(FrameType::active_low_rate);
  EXPECT_FALSE(p.add_frame(std::span(low).first(19), out));
  EXPECT_FALSE(p.add_frame({}, out));
  EXPECT_TRUE(p.add_frame(low, out));
  ASSERT_EQ(out.size(), 1U);
  EXPECT_EQ(out[0].header.timestamp, 0U) << "a refused frame takes no time";
}

}  // namespace
}  // namespace g7231::rtp
