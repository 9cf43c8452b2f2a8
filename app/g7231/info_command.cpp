// g7231 info: what a file of coded frames holds.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "app/g7231/capture_report.h"
#include "app/g7231/command.h"
#include "app/g7231/console.h"
#include "app/g7231/frame_stream.h"
#include "bitstream/frame_layout.h"
#include "bitstream/frame_unpacker.h"

namespace g7231::app {
namespace {

// What each frame of the file turned out to be.
enum class Verdict { active_high_rate, active_low_rate, sid, untransmitted, invalid, cut_short, lost };

struct FrameInfo {
  Verdict verdict = Verdict::cut_short;
  std::size_t bytes = 0;  // significant bytes: the frame's natural length, or what the file holds of it
  UnpackedFrame unpacked;
};

struct Summary {
  std::array<std::size_t, 7> counts{};  // by Verdict
  std::size_t coded_bytes = 0;          // sum of FrameInfo::bytes
  std::size_t largest_frame = 0;
  std::vector<FrameInfo> frames;
};

Verdict verdict_of(const UnpackedFrame& u) {
  if (u.status == UnpackStatus::truncated) return Verdict::cut_short;
  if (u.status == UnpackStatus::invalid) return Verdict::invalid;
  switch (u.type) {
    case FrameType::active_high_rate: return Verdict::active_high_rate;
    case FrameType::active_low_rate: return Verdict::active_low_rate;
    case FrameType::sid: return Verdict::sid;
    case FrameType::untransmitted: break;
  }
  return Verdict::untransmitted;
}

Summary summarise(const FrameStream& stream) {
  Summary s;
  for (std::size_t i = 0; i < stream.frames.size(); ++i) {
    FrameInfo f;
    const auto bytes = stream.frame(i);
    if (stream.frames[i].lost) {
      f.verdict = Verdict::lost;
    } else {
      f.unpacked = unpack_frame(bytes);
      f.verdict = verdict_of(f.unpacked);
      f.bytes = std::min(bytes.size(), frame_bytes(f.unpacked.type));
    }
    ++s.counts[static_cast<std::size_t>(f.verdict)];
    s.coded_bytes += f.bytes;
    s.largest_frame = std::max(s.largest_frame, f.bytes);
    s.frames.push_back(f);
  }
  return s;
}

std::size_t count(const Summary& s, Verdict v) { return s.counts[static_cast<std::size_t>(v)]; }

double seconds(const Summary& s) { return static_cast<double>(s.frames.size()) * kFrameSeconds; }
double mean_bit_rate(const Summary& s) { return static_cast<double>(s.coded_bytes) * 8.0 / seconds(s); }
double peak_bit_rate(const Summary& s) { return static_cast<double>(s.largest_frame) * 8.0 / kFrameSeconds; }
double silence_share(const Summary& s) {
  return static_cast<double>(count(s, Verdict::sid) + count(s, Verdict::untransmitted)) /
         static_cast<double>(s.frames.size());
}

const char* verdict_name(Verdict v) {
  constexpr std::array<const char*, 7> kNames = {"active", "active",    "sid", "untransmitted",
                                                 "invalid", "cut_short", "lost"};
  return kNames[static_cast<std::size_t>(v)];
}

// The lag of each subframe: the pair's lag, plus the odd subframe's offset.
std::array<int, kSubframes> subframe_lags(const FrameParams& p) {
  std::array<int, kSubframes> lags{};
  for (std::size_t s = 0; s < kSubframes; ++s) lags[s] = p.olp_lag[s / 2] + p.sub[s].lag_delta - 1;
  return lags;
}

std::array<int, 3> lsp_bands(const FrameParams& p) {
  return {(p.lsp_index >> 16) & 0xFF, (p.lsp_index >> 8) & 0xFF, p.lsp_index & 0xFF};
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// One frame as a JSON object.
std::string frame_json(std::size_t index, const FrameInfo& f) {
  std::string j = "{\"index\": " + std::to_string(index) + ", \"kind\": \"" + verdict_name(f.verdict) + "\"";
  if (f.verdict == Verdict::active_high_rate) j += ", \"rate\": 6.3";
  if (f.verdict == Verdict::active_low_rate) j += ", \"rate\": 5.3";
  j += ", \"bytes\": " + std::to_string(f.bytes);
  const FrameParams& p = f.unpacked.params;
  if (f.verdict == Verdict::active_high_rate || f.verdict == Verdict::active_low_rate || f.verdict == Verdict::sid) {
    const auto b = lsp_bands(p);
    j += ", \"lsp\": [" + std::to_string(b[0]) + ", " + std::to_string(b[1]) + ", " + std::to_string(b[2]) + "]";
  }
  if (f.verdict == Verdict::sid) j += ", \"sid_gain\": " + std::to_string(p.sub[0].fcb_gain_index);
  if (f.verdict == Verdict::active_high_rate || f.verdict == Verdict::active_low_rate) {
    const auto lags = subframe_lags(p);
    j += ", \"lags\": [";
    for (std::size_t s = 0; s < kSubframes; ++s) j += (s ? ", " : "") + std::to_string(lags[s]);
    j += "], \"gains\": [";
    for (std::size_t s = 0; s < kSubframes; ++s) {
      j += (s ? ", [" : "[") + std::to_string(p.sub[s].acb_gain_index) + ", " +
           std::to_string(p.sub[s].fcb_gain_index) + "]";
    }
    j += "]";
  }
  if (f.verdict == Verdict::invalid) j += ", \"fault\": " + json_string(f.unpacked.fault);
  return j + "}";
}

// One frame as a line of text.
std::string frame_line(std::size_t index, const FrameInfo& f) {
  char head[64];
  const char* kind = "";
  switch (f.verdict) {
    case Verdict::active_high_rate: kind = "active 6.3"; break;
    case Verdict::active_low_rate: kind = "active 5.3"; break;
    case Verdict::sid: kind = "SID"; break;
    case Verdict::untransmitted: kind = "untransmitted"; break;
    case Verdict::invalid: kind = "invalid"; break;
    case Verdict::cut_short: kind = "cut short"; break;
    case Verdict::lost: kind = "lost"; break;
  }
  std::snprintf(head, sizeof head, "%6zu  %-13s %2zu", index, kind, f.bytes);
  std::string line = head;
  const FrameParams& p = f.unpacked.params;
  if (f.verdict == Verdict::active_high_rate || f.verdict == Verdict::active_low_rate || f.verdict == Verdict::sid) {
    const auto b = lsp_bands(p);
    char lsp[32];
    std::snprintf(lsp, sizeof lsp, "  lsp %3d %3d %3d", b[0], b[1], b[2]);
    line += lsp;
  }
  if (f.verdict == Verdict::sid) line += "  gain " + std::to_string(p.sub[0].fcb_gain_index);
  if (f.verdict == Verdict::active_high_rate || f.verdict == Verdict::active_low_rate) {
    const auto lags = subframe_lags(p);
    char rest[128];
    std::snprintf(rest, sizeof rest, "  lags %3d %3d %3d %3d  gains", lags[0], lags[1], lags[2], lags[3]);
    line += rest;
    for (const SubframeParams& sub : p.sub) {
      line += " " + std::to_string(sub.acb_gain_index) + "/" + std::to_string(sub.fcb_gain_index);
    }
  }
  if (f.verdict == Verdict::invalid) line += std::string("  ") + f.unpacked.fault;
  return line;
}

// The frame counts as a JSON object; `damage`: the kind of damage the source can have besides invalid
// frames (cut_short for a file, lost for an RTP stream).
std::string frame_counts_json(const Summary& s, Verdict damage) {
  return "{\"total\": " + std::to_string(s.frames.size()) +
         ", \"active_6_3\": " + std::to_string(count(s, Verdict::active_high_rate)) +
         ", \"active_5_3\": " + std::to_string(count(s, Verdict::active_low_rate)) +
         ", \"sid\": " + std::to_string(count(s, Verdict::sid)) +
         ", \"untransmitted\": " + std::to_string(count(s, Verdict::untransmitted)) +
         ", \"invalid\": " + std::to_string(count(s, Verdict::invalid)) + ", \"" + verdict_name(damage) +
         "\": " + std::to_string(count(s, damage)) + "}";
}

std::string frame_counts_text(const Summary& s) {
  char text[256];
  std::snprintf(text, sizeof text, "%zu active at 6.3 kbit/s, %zu active at 5.3 kbit/s, %zu SID, %zu untransmitted",
                count(s, Verdict::active_high_rate), count(s, Verdict::active_low_rate), count(s, Verdict::sid),
                count(s, Verdict::untransmitted));
  return text;
}

void print_text(const std::string& name, const FrameStream& stream, const Summary& s, bool frames) {
  std::printf("%s: %s, %zu bytes\n", name.c_str(), stream.layout().c_str(), stream.bytes.size());
  if (frames) {
    std::printf("%6s  %-13s %5s\n", "frame", "kind", "bytes");
    for (std::size_t i = 0; i < s.frames.size(); ++i) std::printf("%s\n", frame_line(i, s.frames[i]).c_str());
  }
  std::printf("duration        %.2f s, %zu frames of 30 ms\n", seconds(s), s.frames.size());
  std::printf("frames          %s\n", frame_counts_text(s).c_str());
  if (count(s, Verdict::invalid) + count(s, Verdict::cut_short) > 0) {
    std::printf("damaged         %zu invalid, %zu cut short\n", count(s, Verdict::invalid),
                count(s, Verdict::cut_short));
  }
  std::printf("bit rate        %.2f kbit/s mean, %.2f kbit/s peak\n", mean_bit_rate(s) / 1000.0,
              peak_bit_rate(s) / 1000.0);
  std::printf("silence         %.1f %% of frames\n", 100.0 * silence_share(s));
  for (std::size_t i = 0; i < s.frames.size(); ++i) {
    const FrameInfo& f = s.frames[i];
    if (f.verdict == Verdict::invalid) std::printf("invalid frame   %zu: %s\n", i, f.unpacked.fault);
    if (f.verdict == Verdict::cut_short) std::printf("cut short       frame %zu: %zu bytes\n", i, f.bytes);
  }
}

void print_json(const std::string& name, const FrameStream& stream, const Summary& s, bool frames) {
  std::string j = "{\n";
  j += "  \"file\": " + json_string(name) + ",\n";
  j += std::string("  \"layout\": \"") + (stream.format == StreamFormat::records ? "records" : "packed") + "\",\n";
  if (stream.format == StreamFormat::records) j += "  \"record_bytes\": " + std::to_string(stream.record_bytes) + ",\n";
  j += "  \"bytes\": " + std::to_string(stream.bytes.size()) + ",\n";
  char numbers[256];
  std::snprintf(numbers, sizeof numbers,
                "  \"duration_seconds\": %.3f,\n  \"bit_rate\": {\"mean\": %.1f, \"peak\": %.1f},\n"
                "  \"silence_share\": %.4f,\n",
                seconds(s), mean_bit_rate(s), peak_bit_rate(s), silence_share(s));
  j += numbers;
  j += "  \"frames\": " + frame_counts_json(s, Verdict::cut_short) + ",\n";
  j += "  \"damaged_frames\": [";
  bool first = true;
  for (std::size_t i = 0; i < s.frames.size(); ++i) {
    if (s.frames[i].verdict != Verdict::invalid && s.frames[i].verdict != Verdict::cut_short) continue;
    j += (first ? "" : ", ") + frame_json(i, s.frames[i]);
    first = false;
  }
  j += "]";
  if (frames) {
    j += ",\n  \"frame_list\": [";
    for (std::size_t i = 0; i < s.frames.size(); ++i) j += (i ? ",\n    " : "\n    ") + frame_json(i, s.frames[i]);
    j += "\n  ]";
  }
  j += "\n}\n";
  std::fputs(j.c_str(), stdout);
}

std::vector<const RtpStream*> chosen_streams(const CaptureStreams& capture, const CaptureOptions& options) {
  std::vector<const RtpStream*> chosen;
  for (const RtpStream& s : capture.streams) {
    if (!options.ssrc || s.ssrc == *options.ssrc) chosen.push_back(&s);
  }
  return chosen;
}

void print_capture_text(const std::string& name, const CaptureStreams& c, const std::vector<const RtpStream*>& streams,
                        bool frames) {
  std::printf("%s: %s capture of %s frames, %zu records\n", name.c_str(), c.scan.file_format.c_str(),
              c.scan.link_type.c_str(), c.scan.records);
  const std::string skipped = describe_skipped(c.scan);
  if (!skipped.empty()) std::printf("skipped         %s\n", skipped.c_str());
  std::printf("UDP             %zu datagrams, %zu RTP packets of payload type %d\n", c.udp_datagrams, c.rtp_packets,
              c.payload_type);
  for (const auto& [type, n] : c.other_payload_types) {
    std::printf("other RTP       %zu packets of payload type %d\n", n, type);
  }
  if (!c.scan.ended_early.empty()) std::printf("breaks off      %s\n", c.scan.ended_early.c_str());
  if (streams.empty()) std::printf("no RTP stream of payload type %d\n", c.payload_type);
  for (const RtpStream* r : streams) {
    const Summary s = summarise(r->frames);
    std::printf("\nstream          SSRC %s, %s -> %s\n", hex_ssrc(r->ssrc).c_str(), r->source.c_str(),
                r->destination.c_str());
    if (frames) {
      std::printf("%6s  %-13s %5s\n", "frame", "kind", "bytes");
      for (std::size_t i = 0; i < s.frames.size(); ++i) std::printf("%s\n", frame_line(i, s.frames[i]).c_str());
    }
    std::printf("packets         %zu received, %zu lost, %zu duplicated, %zu reordered, %zu damaged\n", r->packets,
                r->lost, r->duplicates, r->reordered, r->damaged);
    if (r->timestamp_jumps > 0) std::printf("timestamps      %zu jumps\n", r->timestamp_jumps);
    std::printf("jitter          %.2f ms\n", r->jitter * 1000.0);
    std::printf("duration        %.2f s, %zu frames of 30 ms\n", seconds(s), s.frames.size());
    std::printf("frames          %s\n", frame_counts_text(s).c_str());
    std::printf("concealed       %zu lost, %zu invalid\n", count(s, Verdict::lost), count(s, Verdict::invalid));
  }
}

void print_capture_json(const std::string& name, const CaptureStreams& c, const std::vector<const RtpStream*>& streams,
                        bool frames) {
  std::string j = "{\n  \"file\": " + json_string(name) + ",\n";
  j += "  \"capture\": {\"format\": " + json_string(c.scan.file_format) + ", \"link_type\": " +
       json_string(c.scan.link_type) + ", \"records\": " + std::to_string(c.scan.records) +
       ", \"skipped\": {\"not_udp\": " + std::to_string(c.scan.not_udp) +
       ", \"fragments\": " + std::to_string(c.scan.fragments) + ", \"cut_short\": " + std::to_string(c.scan.cut_short) +
       "}, \"udp_datagrams\": " + std::to_string(c.udp_datagrams) + ", \"other_udp\": " + std::to_string(c.other_udp) +
       ", \"ended_early\": " + (c.scan.ended_early.empty() ? std::string("null") : json_string(c.scan.ended_early)) +
       "},\n";
  j += "  \"payload_type\": " + std::to_string(c.payload_type) + ",\n  \"streams\": [";
  for (std::size_t k = 0; k < streams.size(); ++k) {
    const RtpStream& r = *streams[k];
    const Summary s = summarise(r.frames);
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, "\"jitter_ms\": %.3f, \"duration_seconds\": %.3f", r.jitter * 1000.0,
                  seconds(s));
    j += std::string(k ? "," : "") + "\n    {\"ssrc\": " + std::to_string(r.ssrc) + ", \"ssrc_hex\": \"" +
         hex_ssrc(r.ssrc) + "\", \"source\": " + json_string(r.source) +
         ", \"destination\": " + json_string(r.destination) + ", \"packets\": " + std::to_string(r.packets) +
         ", \"lost\": " + std::to_string(r.lost) + ", \"duplicated\": " + std::to_string(r.duplicates) +
         ", \"reordered\": " + std::to_string(r.reordered) + ", \"damaged\": " + std::to_string(r.damaged) +
         ", \"timestamp_jumps\": " + std::to_string(r.timestamp_jumps) + ", " + numbers +
         ",\n     \"frames\": " + frame_counts_json(s, Verdict::lost);
    if (frames) {
      j += ",\n     \"frame_list\": [";
      for (std::size_t i = 0; i < s.frames.size(); ++i) j += (i ? ",\n       " : "\n       ") + frame_json(i, s.frames[i]);
      j += "\n     ]";
    }
    j += "}";
  }
  j += "\n  ]\n}\n";
  std::fputs(j.c_str(), stdout);
}

class InfoCommand : public Command {
 public:
  explicit InfoCommand(CLI::App& cmd) {
    cmd.add_flag("--frames", frames_, "One line per frame: index, kind, rate, bytes, LSP band indices, lags, gains");
    cmd.add_flag("--json", json_, "Print the report as JSON");
    cmd.add_option("--format", format_, "Layout of IN: packed frames, 20- or 24-byte records, or auto")
        ->check(CLI::IsMember({"auto", "packed", "records"}).description(""))
        ->default_str("auto")
        ->type_name("auto|packed|records");
    add_capture_options(cmd, capture_);
    cmd.add_option("IN", input_, "A file of coded frames or a packet capture (\"-\": standard input)")->required();
  }

  int run(const GlobalOptions& global) override {
    Console console(global.quiet);
    const std::string name = display_name(input_);
    try {
      const StreamFormat format = parse_stream_format(format_);
      std::vector<std::uint8_t> bytes = read_whole(input_, name);
      if (format == StreamFormat::automatic && is_capture(bytes)) {
        const CaptureStreams capture = rtp_streams(read_capture(bytes, name), capture_.payload_type);
        const std::vector<const RtpStream*> streams = chosen_streams(capture, capture_);
        if (json_) {
          print_capture_json(name, capture, streams, frames_);
        } else {
          print_capture_text(name, capture, streams, frames_);
        }
      } else {
        const FrameStream stream = split_frame_stream(std::move(bytes), format, name);
        const Summary summary = summarise(stream);
        if (json_) {
          print_json(name, stream, summary, frames_);
        } else {
          print_text(name, stream, summary, frames_);
        }
      }
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        console.error("standard output: cannot write the report");
        return kExitFailure;
      }
    } catch (const Failure& f) {
      console.error(f.what());
      return kExitFailure;
    }
    return kExitSuccess;
  }

 private:
  bool frames_ = false;
  bool json_ = false;
  std::string format_ = "auto";
  CaptureOptions capture_;
  std::string input_;
};

}  // namespace

CommandEntry add_info_command(CLI::App& app) {
  return add_command<InfoCommand>(
      app, "info", "Show what a file of frames or a capture's RTP streams hold: duration, frame kinds, bit rate, losses");
}

}  // namespace g7231::app
