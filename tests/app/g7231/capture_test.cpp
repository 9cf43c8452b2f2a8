// g7231 with captured calls: RTP streams read from pcap and pcapng files decode as the library decodes the
// same frames with the same losses, info reports the network's doings, and encode --pcap writes a
// stream that reads back frame for frame.
#include <cmath>
#include <map>
#include <set>

#include "app/g7231/capture.h"
#include "app/g7231/rtp_streams.h"
#include "bitstream/rtp_payload.h"
#include "tests/app/g7231/capture_writer.h"
#include "tests/app/g7231/program.h"

namespace g7231::app::test {
namespace {

// A stream as its sender made it: the coded frames and the packets that carried them.
struct SentStream {
  std::vector<Bytes> frames;
  std::vector<rtp::Packet> packets;
};

SentStream send(const std::string& sample, const EncoderOptions& options, std::size_t per_packet, std::uint32_t ssrc) {
  SentStream s;
  const Bytes packed = library_packed(load_speech_sample(sample), options);
  for (std::size_t at = 0; at < packed.size();) {
    const std::size_t n = frame_bytes(frame_type_of(packed[at]));
    s.frames.emplace_back(packed.begin() + static_cast<std::ptrdiff_t>(at),
                          packed.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  }
  rtp::Packetiser p({.frames_per_packet = per_packet, .ssrc = ssrc, .first_sequence = 65500, .first_timestamp = 7});
  for (const Bytes& f : s.frames) p.add_frame(f, s.packets);
  p.finish(s.packets);
  return s;
}

// What a receiver should decode: the frames from the first packet received to the end of the last, those
// of packets that did not arrive intact lost.
std::vector<std::int16_t> expected_speech(const SentStream& s, const std::set<std::size_t>& lost_packets) {
  const std::uint64_t first = s.packets.front().first_frame;
  const std::uint64_t end = s.packets.back().first_frame + s.packets.back().frames;
  std::vector<bool> lost(s.frames.size(), false);
  for (std::size_t i : lost_packets) {
    for (std::size_t f = 0; f < s.packets[i].frames; ++f) lost[s.packets[i].first_frame + f] = true;
  }
  G7231Decoder* dec = create_decoder({.postfilter = true});
  std::vector<std::int16_t> speech;
  std::array<std::int16_t, kFrameSamples> out{};
  for (std::uint64_t f = first; f < end; ++f) {
    decode_frame(dec, s.frames[f], lost[f], out);
    speech.insert(speech.end(), out.begin(), out.end());
  }
  destroy_decoder(dec);
  return speech;
}

Bytes rtp_bytes(const rtp::Packet& p) { return rtp::packet_bytes(p.header, p.payload); }

// Each packet sent at the end of its last frame, arriving 20 ms later.
double arrival(const rtp::Packet& p) { return 1000.0 + static_cast<double>(p.first_frame + p.frames) * 0.030 + 0.020; }

std::vector<Record> clean_records(const SentStream& s, Link link, bool ipv6) {
  std::vector<Record> records;
  for (const rtp::Packet& p : s.packets) records.push_back({arrival(p), udp_record(link, ipv6, rtp_bytes(p))});
  return records;
}

// Packets in the middle of a talkspurt: their neighbours follow on without a gap.
std::vector<std::size_t> inside_talkspurts(const SentStream& s) {
  std::vector<std::size_t> found;
  auto follows = [&](std::size_t i) { return s.packets[i].first_frame == s.packets[i - 1].first_frame + s.packets[i - 1].frames; };
  for (std::size_t i = 2; i + 1 < s.packets.size(); ++i) {
    if (follows(i - 1) && follows(i) && follows(i + 1)) found.push_back(i);
  }
  return found;
}

class Capture : public ProgramTest {
 protected:
  // `g7231 info --json` of a capture, through a jq query.
  std::string json_query(const std::string& capture, const std::string& query) const {
    const RunResult r = run_shell(command({"info", "--json", path(capture)}) + " | jq -r '" + query + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
};

TEST_F(Capture, LossReorderingDuplicatesDamageAndASecondStreamDecodeAsTheLibraryDecodes) {
  const SentStream a = send("hts1a.raw", {}, 2, 0xA0A0A0A0);
  const SentStream b = send("cross.raw", {.high_rate = true}, 1, 0x0B0B0B0B);
  const std::vector<std::size_t> inside = inside_talkspurts(a);
  ASSERT_GT(inside.size(), 20U);
  // Two packets in a row lost, one more later, one damaged; one duplicated, two the wrong way round.
  std::size_t pair = 0;
  while (pair + 1 < inside.size() && inside[pair + 1] != inside[pair] + 1) ++pair;
  ASSERT_LT(pair + 14, inside.size());
  const std::set<std::size_t> dropped = {inside[pair], inside[pair] + 1, inside[pair + 8]};
  const std::size_t damaged = inside[pair + 14];
  const std::size_t duplicated = inside[pair + 4];
  const std::size_t late = inside[pair + 10];
  std::vector<Record> records;
  for (std::size_t i = 0; i < a.packets.size(); ++i) {
    if (dropped.count(i)) continue;
    Bytes bytes = rtp_bytes(a.packets[i]);
    if (i == damaged) bytes.pop_back();  // its frames no longer add up
    records.push_back({arrival(a.packets[i]), udp_record(Link::ethernet, false, bytes)});
    if (i == late) records.back().time += 0.070;  // after the next packet
    if (i == duplicated) records.push_back(records.back());
  }
  // The second stream, interleaved by arrival time, and records that are no RTP at all.
  for (const rtp::Packet& p : b.packets) {
    records.push_back({arrival(p) + 0.001, udp_record(Link::ethernet, false, rtp_bytes(p), 6000, 6002)});
  }
  records.push_back({1000.5, link_header(Link::ethernet, 0x0806)});                         // not IP
  records.push_back({1000.6, udp_record(Link::ethernet, false, Bytes(30, 0x55), 53, 53)});  // not RTP
  records.push_back({1000.7, udp_record(Link::ethernet, false, rtp_bytes(a.packets[3]), 5004, 5004, true)});
  Record cut{1000.8, udp_record(Link::ethernet, false, rtp_bytes(a.packets[4]))};
  cut.wire_length = cut.data.size();
  cut.data.resize(40);  // cut short by the capture's length limit
  records.push_back(cut);
  std::stable_sort(records.begin(), records.end(), [](const Record& x, const Record& y) { return x.time < y.time; });
  write_file(path("call.pcapng"), pcapng_file(Link::ethernet, records));

  const RunResult dec = run({"decode", path("call.pcapng"), path("call.raw")});
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_NE(dec.err.find("3 lost, 1 duplicated, 1 reordered, 1 damaged"), std::string::npos) << dec.err;
  EXPECT_NE(dec.err.find("1 not UDP over IP, 1 IP fragment, 1 cut short"), std::string::npos) << dec.err;
  std::set<std::size_t> lost = dropped;
  lost.insert(damaged);
  EXPECT_EQ(pcm_samples(read_file(path("call-0xa0a0a0a0.raw"))), expected_speech(a, lost));
  EXPECT_EQ(pcm_samples(read_file(path("call-0x0b0b0b0b.raw"))), expected_speech(b, {}));

  // One stream by its SSRC, under the name given; all of them into a directory.
  ASSERT_EQ(run({"decode", "--ssrc", "0x0b0b0b0b", path("call.pcapng"), path("b.raw")}).status, 0);
  EXPECT_EQ(pcm_samples(read_file(path("b.raw"))), expected_speech(b, {}));
  ASSERT_EQ(run({"decode", "-o", path("out"), path("call.pcapng")}).status, 0);
  EXPECT_TRUE(fs::exists(path("out/call-0xa0a0a0a0.wav")));
  EXPECT_TRUE(fs::exists(path("out/call-0x0b0b0b0b.wav")));
  const RunResult to_stdout = run({"decode", path("call.pcapng"), "-"});
  EXPECT_EQ(to_stdout.status, 1);
  EXPECT_NE(to_stdout.err.find("choose one with --ssrc"), std::string::npos) << to_stdout.err;
  const RunResult no_such = run({"decode", "--ssrc", "12", path("call.pcapng"), path("none.raw")});
  EXPECT_EQ(no_such.status, 1);
  EXPECT_NE(no_such.err.find("no RTP stream with SSRC 0x0000000c"), std::string::npos) << no_such.err;
  EXPECT_FALSE(fs::exists(path("none.raw")));

  const std::string report = json_query("call.pcapng",
                                        "[.capture.skipped.not_udp, .capture.skipped.fragments, "
                                        ".capture.skipped.cut_short, .capture.other_udp, (.streams[0] | .ssrc, "
                                        ".packets, .lost, .duplicated, .reordered, .damaged, .frames.lost)] | @csv");
  std::size_t frames_lost = 0;
  for (std::size_t i : lost) frames_lost += a.packets[i].frames;
  const std::size_t received = a.packets.size() - dropped.size() + 1;
  EXPECT_EQ(report, "1,1,1,1,2694881440," + std::to_string(received) + ",3,1,1,1," + std::to_string(frames_lost) + "\n");
}

TEST_F(Capture, EveryLinkTypeAndFileFormatGivesTheSameSpeech) {
  const SentStream s = send("hts1a.raw", {}, 1, 1);
  const std::vector<std::int16_t> expected = expected_speech(s, {});
  struct Case {
    const char* name;
    bool pcapng;
    Link link;
    bool ipv6;
  };
  for (const Case& c : {Case{"ethernet.pcap", false, Link::ethernet, false},
                        Case{"cooked6.pcapng", true, Link::linux_cooked, true},
                        Case{"raw.pcap", false, Link::raw, false}, Case{"raw6.pcapng", true, Link::raw, true}}) {
    SCOPED_TRACE(c.name);
    const std::vector<Record> records = clean_records(s, c.link, c.ipv6);
    write_file(path(c.name), c.pcapng ? pcapng_file(c.link, records) : pcap_file(c.link, records));
    const RunResult r = run({"decode", path(c.name), path("out.raw")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(pcm_samples(read_file(path("out.raw"))), expected);
  }
}

TEST_F(Capture, ACaptureThatBreaksOffDecodesWhatCameBefore) {
  const SentStream s = send("hts1a.raw", {}, 1, 1);
  const std::vector<Record> records = clean_records(s, Link::ethernet, false);
  Bytes file = pcap_file(Link::ethernet, records);
  // Cut inside the 41st record: 40 whole packets survive.
  std::size_t at = 24;
  for (std::size_t i = 0; i < 40; ++i) at += 16 + records[i].data.size();
  file.resize(at + 30);
  write_file(path("cut.pcap"), file);
  const RunResult r = run({"decode", path("cut.pcap"), path("out.raw")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the capture breaks off"), std::string::npos) << r.err;
  SentStream head = s;
  head.packets.resize(40);
  EXPECT_EQ(pcm_samples(read_file(path("out.raw"))), expected_speech(head, {}));

  // Not a capture libpcap reads, and one holding no stream.
  Bytes garbage = file;
  garbage.resize(20);
  write_file(path("short.pcap"), garbage);
  const RunResult bad = run({"decode", path("short.pcap"), path("bad.raw")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("not a capture libpcap can read"), std::string::npos) << bad.err;
  write_file(path("dns.pcap"), pcap_file(Link::raw, {{1.0, udp_record(Link::raw, false, Bytes(40, 0x80), 53, 53)}}));
  const RunResult none = run({"decode", path("dns.pcap"), path("bad.raw")});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("holds no RTP stream of payload type 4 (1 record, 1 UDP datagram, RTP of payload type 0"),
            std::string::npos)
      << none.err;
  EXPECT_FALSE(fs::exists(path("bad.raw")));
}

TEST_F(Capture, JitterFollowsTheRunningEstimate) {
  const SentStream s = send("hts1a.raw", {.vad = false}, 1, 1);
  // Every other packet 10 ms late: each difference in transit time is 80 ticks.
  std::vector<Record> records = clean_records(s, Link::raw, false);
  for (std::size_t i = 1; i < records.size(); i += 2) records[i].time += 0.010;
  CaptureScan scan = read_capture(pcap_file(Link::raw, records), "jitter.pcap");
  const CaptureStreams c = rtp_streams(std::move(scan), rtp::kPayloadType);
  ASSERT_EQ(c.streams.size(), 1U);
  const double expected_ticks = 80.0 * (1.0 - std::pow(15.0 / 16.0, static_cast<double>(records.size() - 1)));
  EXPECT_NEAR(c.streams[0].jitter * 8000.0, expected_ticks, 0.01);
}

TEST_F(Capture, EncodePcapWritesAStreamThatReadsBackFrameForFrame) {
  write_file(path("in.raw"), pcm_bytes(load_speech_sample("hts1a.raw")));
  const RunResult enc = run({"encode", "--pcap", path("out.pcap"), "--frames-per-packet", "3", "--ssrc", "0x1234",
                           path("in.raw")});
  ASSERT_EQ(enc.status, 0) << enc.err;
  const SentStream sent = send("hts1a.raw", {}, 3, 0x1234);

  const CaptureStreams c = rtp_streams(read_capture(read_file(path("out.pcap")), "out.pcap"), rtp::kPayloadType);
  ASSERT_EQ(c.streams.size(), 1U);
  const RtpStream& r = c.streams[0];
  EXPECT_EQ(r.ssrc, 0x1234U);
  EXPECT_EQ(r.packets, sent.packets.size());
  EXPECT_EQ(r.lost + r.duplicates + r.reordered + r.damaged + r.timestamp_jumps, 0U);
  EXPECT_LT(r.jitter, 1e-5) << "the sender's own timing adds no jitter";
  const std::uint64_t first = sent.packets.front().first_frame;
  ASSERT_EQ(r.frames.frames.size(), sent.packets.back().first_frame + sent.packets.back().frames - first);
  for (std::size_t i = 0; i < r.frames.frames.size(); ++i) {
    const auto f = r.frames.frame(i);
    EXPECT_EQ(Bytes(f.begin(), f.end()), sent.frames[first + i]) << "frame " << i;
  }
  // The packets' headers: markers, and timestamps and sequence numbers that follow the sender's.
  const CaptureScan scan = read_capture(read_file(path("out.pcap")), "out.pcap");
  ASSERT_EQ(scan.datagrams.size(), sent.packets.size());
  const rtp::Header first_header = rtp::parse_packet(scan.datagrams[0].payload).header;
  for (std::size_t i = 0; i < sent.packets.size(); ++i) {
    const rtp::Header h = rtp::parse_packet(scan.datagrams[i].payload).header;
    EXPECT_EQ(h.marker, sent.packets[i].header.marker) << "packet " << i;
    EXPECT_EQ(static_cast<std::uint16_t>(h.sequence - first_header.sequence), i);
    EXPECT_EQ(h.timestamp - first_header.timestamp, (sent.packets[i].first_frame - first) * rtp::kTicksPerFrame);
  }
  const RunResult dec = run({"decode", path("out.pcap"), path("out.raw")});
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_EQ(pcm_samples(read_file(path("out.raw"))), expected_speech(sent, {}));

  EXPECT_EQ(run({"encode", "--pcap", path("x.pcap"), path("in.raw"), path("y")}).status, 2);
  EXPECT_EQ(run({"encode", "--ssrc", "1", path("in.raw"), path("y")}).status, 2);
  EXPECT_EQ(run({"encode", "--pcap", path("x.pcap"), "--ssrc", "0x1g", path("in.raw")}).status, 2);
}

}  // namespace
}  // namespace g7231::app::test
