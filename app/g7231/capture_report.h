// What decode and info say about a capture and its RTP streams, and the options that pick the streams.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/g7231/console.h"
#include "app/g7231/rtp_streams.h"
#include "bitstream/rtp_payload.h"

namespace CLI {
class App;
}

namespace g7231::app {

struct CaptureOptions {
  int payload_type = rtp::kPayloadType;
  std::optional<std::uint32_t> ssrc;  // one stream only
};

// An SSRC as given on the command line: decimal, or hexadecimal after 0x. Throws CLI::ValidationError.
std::uint32_t parse_ssrc(const std::string& text);

// Adds --pt and --ssrc (decimal, or hexadecimal after 0x) to a subcommand.
void add_capture_options(CLI::App& command, CaptureOptions& options);

// "0x1234abcd".
std::string hex_ssrc(std::uint32_t ssrc);

// "2 streams: SSRC 0x..., 0x..." or "1 stream: SSRC 0x...".
std::string describe_streams(const CaptureStreams& capture);

// What the capture holds instead of a stream: records, UDP datagrams, RTP payload types seen.
std::string describe_capture(const CaptureStreams& capture);

// "500 packets, 3 lost, 1 duplicated, 2 reordered, jitter 1.2 ms" (counts that are zero left out).
std::string describe_stream(const RtpStream& stream);

// Notes on records skipped and on a capture that ends early.
void report_capture(Console& console, const std::string& name, const CaptureStreams& capture);

// Records skipped, as "3 not UDP over IP, 1 IP fragment, 2 cut short"; empty when none were.
std::string describe_skipped(const CaptureScan& scan);

}  // namespace g7231::app
