#include "app/g7231/capture_report.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace g7231::app {
namespace {

std::string counted(std::size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void join(std::string& text, const std::string& part) { text += (text.empty() ? "" : ", ") + part; }

}  // namespace

std::uint32_t parse_ssrc(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos || digits.size() > (hex ? 8U : 10U)) {
    throw CLI::ValidationError("--ssrc", "'" + text + "' is not an SSRC (decimal, or hexadecimal after 0x)");
  }
  const unsigned long long v = std::stoull(digits, nullptr, hex ? 16 : 10);
  if (v > 0xFFFFFFFFULL) throw CLI::ValidationError("--ssrc", "'" + text + "' is larger than 32 bits");
  return static_cast<std::uint32_t>(v);
}

void add_capture_options(CLI::App& command, CaptureOptions& options) {
  command.add_option("--pt", options.payload_type, "Captures: the RTP payload type of the streams (default 4)")
      ->check(CLI::Range(0, 127).description(""))
      ->type_name("N");
  command
      .add_option_function<std::string>(
          "--ssrc", [&options](const std::string& text) { options.ssrc = parse_ssrc(text); },
          "Captures: only the stream with this SSRC (decimal, or hexadecimal after 0x)")
      ->type_name("X");
}

std::string hex_ssrc(std::uint32_t ssrc) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", ssrc);
  return text;
}

std::string describe_streams(const CaptureStreams& capture) {
  std::string list;
  for (const RtpStream& s : capture.streams) join(list, hex_ssrc(s.ssrc));
  return counted(capture.streams.size(), "stream", "streams") + ": SSRC " + list;
}

std::string describe_capture(const CaptureStreams& capture) {
  std::string text = counted(capture.scan.records, "record", "records") + ", " +
                     counted(capture.udp_datagrams, "UDP datagram", "UDP datagrams");
  if (!capture.other_payload_types.empty()) {
    std::string types;
    for (const auto& [type, n] : capture.other_payload_types) {
      join(types, std::to_string(type) + " (" + counted(n, "packet", "packets") + ")");
    }
    text += ", RTP of payload type " + types + "; choose one with --pt";
  }
  return text;
}

std::string describe_stream(const RtpStream& s) {
  std::string text = counted(s.packets, "packet", "packets");
  if (s.lost > 0) join(text, std::to_string(s.lost) + " lost");
  if (s.duplicates > 0) join(text, std::to_string(s.duplicates) + " duplicated");
  if (s.reordered > 0) join(text, std::to_string(s.reordered) + " reordered");
  if (s.damaged > 0) join(text, std::to_string(s.damaged) + " damaged");
  if (s.timestamp_jumps > 0) join(text, counted(s.timestamp_jumps, "timestamp jump", "timestamp jumps"));
  char jitter[48];
  std::snprintf(jitter, sizeof jitter, "jitter %.1f ms", s.jitter * 1000.0);
  join(text, jitter);
  return text;
}

std::string describe_skipped(const CaptureScan& scan) {
  std::string text;
  if (scan.not_udp > 0) join(text, std::to_string(scan.not_udp) + " not UDP over IP");
  if (scan.fragments > 0) join(text, counted(scan.fragments, "IP fragment", "IP fragments"));
  if (scan.cut_short > 0) join(text, std::to_string(scan.cut_short) + " cut short or malformed");
  return text;
}

void report_capture(Console& console, const std::string& name, const CaptureStreams& capture) {
  const std::string skipped = describe_skipped(capture.scan);
  if (!skipped.empty()) console.note(about(name, "records skipped: " + skipped));
  if (capture.other_udp > 0) {
    console.note(about(name, counted(capture.other_udp, "UDP datagram", "UDP datagrams") + " skipped: not RTP of payload type " +
                                 std::to_string(capture.payload_type)));
  }
  if (!capture.scan.ended_early.empty()) {
    console.note(about(name, "the capture breaks off (" + capture.scan.ended_early + "); what came before is decoded"));
  }
}

}  // namespace g7231::app
