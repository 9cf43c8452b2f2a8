// Fuzz target: arbitrary bytes as a packet capture. libpcap reads the file, every record is searched for
// a UDP datagram, the RTP streams are sorted out and laid out in time. Nothing may crash, read out of
// bounds or run away; every frame of a stream must lie within the stream's bytes, and a frame that is not
// lost must be at its natural length.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/g7231/capture.h"
#include "app/g7231/console.h"
#include "app/g7231/rtp_streams.h"
#include "bitstream/rtp_payload.h"

namespace {

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "capture_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace g7231;
  using namespace g7231::app;
  CaptureScan scan;
  try {
    scan = read_capture({data, size}, "capture");
  } catch (const Failure&) {
    return 0;  // not a capture libpcap reads
  }
  check(scan.datagrams.size() + scan.not_udp + scan.fragments + scan.cut_short == scan.records,
        "a record was neither taken nor counted");
  const CaptureStreams capture = rtp_streams(std::move(scan), rtp::kPayloadType);
  std::size_t packets = 0;
  for (const RtpStream& s : capture.streams) {
    packets += s.packets;
    check(!s.frames.frames.empty(), "a stream without frames");
    for (const FrameRef& f : s.frames.frames) {
      check(f.offset + f.size <= s.frames.bytes.size(), "a frame lies outside the stream's bytes");
      if (f.lost) continue;
      check(f.size == frame_bytes(frame_type_of(s.frames.bytes[f.offset])), "a frame is not at its natural length");
    }
  }
  check(packets == capture.rtp_packets, "RTP packets were lost between the streams");
  return 0;
}
