// g7231 encode: audio files into coded frames.
#include <CLI/CLI.hpp>
#include <sys/time.h>

#include <array>
#include <functional>
#include <optional>
#include <random>

#include "app/common/coder_objects.h"
#include "app/g7231/audio_input.h"
#include "app/g7231/batch.h"
#include "app/g7231/capture.h"
#include "app/g7231/capture_report.h"
#include "app/g7231/frame_stream.h"
#include "app/g7231/output.h"
#include "app/g7231/table_set_option.h"
#include "bitstream/rtp_payload.h"

namespace g7231::app {
namespace {

// Where the coded frames go: a frame file, or an RTP stream in a pcap file.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void write(std::span<const std::uint8_t, kMaxFrameBytes> frame) = 0;
  virtual void finish() {}
};

class FrameFileSink : public FrameSink {
 public:
  FrameFileSink(Output& out, StreamFormat format, std::size_t record_bytes) : writer_(out, format, record_bytes) {}
  void write(std::span<const std::uint8_t, kMaxFrameBytes> frame) override { writer_.write(frame); }

 private:
  FrameWriter writer_;
};

struct StreamSettings {
  std::size_t frames_per_packet = 1;
  std::optional<std::uint32_t> ssrc;  // random when not given
};

// Each packet is stamped one packet time (frames per packet x 30 ms) after the start of its first frame,
// counted from the start of the run: a sender with a constant delay, so that the stream itself has no
// jitter, even where silence sends a packet before it is full.
class PcapSink : public FrameSink {
 public:
  PcapSink(Output& out, const StreamSettings& settings)
      : writer_(out, {}, {}),
        packetiser_(packetiser_settings(settings)),
        frames_per_packet_(settings.frames_per_packet),
        start_(now()) {}
  void write(std::span<const std::uint8_t, kMaxFrameBytes> frame) override {
    packetiser_.add_frame(frame, packets_);
    flush();
  }
  void finish() override {
    packetiser_.finish(packets_);
    flush();
  }

 private:
  static rtp::PacketiserSettings packetiser_settings(const StreamSettings& s) {
    // A stream starts at a random sequence number and timestamp, and has a random SSRC unless one is given.
    std::random_device random;
    rtp::PacketiserSettings p;
    p.frames_per_packet = s.frames_per_packet;
    p.ssrc = s.ssrc.value_or(random());
    p.first_sequence = static_cast<std::uint16_t>(random());
    p.first_timestamp = random();
    return p;
  }
  static double now() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
  }
  void flush() {
    for (const rtp::Packet& p : packets_) {
      const double sent = start_ + static_cast<double>(p.first_frame + frames_per_packet_) * kFrameSeconds;
      writer_.write(sent, rtp::packet_bytes(p.header, p.payload));
    }
    packets_.clear();
  }

  PcapWriter writer_;
  rtp::Packetiser packetiser_;
  std::vector<rtp::Packet> packets_;
  std::size_t frames_per_packet_;
  double start_;
};

struct EncodeSettings {
  EncoderOptions encoder;
  StreamFormat format = StreamFormat::packed;
  bool raw = false;
  std::optional<StreamSettings> rtp;  // write an RTP stream in a pcap file
};

double encode_file(const EncodeSettings& settings, const std::string& in, const std::string& out_path,
                   Console& console, bool progress) {
  AudioReader reader(in, settings.raw);
  Output out(out_path);
  std::unique_ptr<FrameSink> sink;
  if (settings.rtp) {
    sink = std::make_unique<PcapSink>(out, *settings.rtp);
  } else {
    sink = std::make_unique<FrameFileSink>(out, settings.format,
                                           settings.encoder.high_rate ? kHighRateRecordBytes : kLowRateRecordBytes);
  }
  const cli::EncoderPtr encoder(create_encoder(settings.encoder));
  if (!encoder) throw Failure(about(reader.name(), "cannot create an encoder: out of memory"));
  std::optional<ProgressLine> line;
  if (progress) line.emplace(console, reader.name(), reader.duration());

  std::array<std::int16_t, kFrameSamples> samples{};
  std::array<std::uint8_t, kMaxFrameBytes> frame{};
  std::int64_t frames = 0;
  std::size_t left_out = 0;
  for (;;) {
    const std::size_t n = reader.read(samples);
    if (n == 0) break;
    if (n < kFrameSamples) {
      // The records layout keeps to g7231enc, which codes whole frames only; otherwise the last frame is
      // completed with silence so that no speech is lost.
      if (settings.format == StreamFormat::records) {
        left_out = n;
        break;
      }
      std::fill(samples.begin() + static_cast<std::ptrdiff_t>(n), samples.end(), 0);
    }
    encode_frame(encoder.get(), samples, frame);
    sink->write(frame);
    ++frames;
    if (line) line->update(static_cast<double>(frames) * kFrameSeconds);
  }
  if (frames == 0 && left_out == 0) throw Failure(about(reader.name(), "holds no audio"));
  sink->finish();
  out.commit();
  line.reset();
  if (reader.clipped() > 0) {
    console.note(about(reader.name(), std::to_string(reader.clipped()) + " samples beyond full scale were limited"));
  }
  if (left_out > 0) {
    console.note(about(reader.name(), "the last " + std::to_string(left_out) +
                                          " samples, less than a frame, are left out in the records layout"));
  }
  return static_cast<double>(frames) * kFrameSeconds;
}

class EncodeCommand : public Command {
 public:
  explicit EncodeCommand(CLI::App& cmd) {
    cmd.add_option("--rate", rate_, "Bit rate in kbit/s")
        ->check(CLI::IsMember({"5.3", "6.3"}).description(""))
        ->default_str("5.3")
        ->type_name("5.3|6.3");
    cmd.add_flag("--no-vad", no_vad_, "Code silence as speech: no SID or untransmitted frames");
    cmd.add_flag("--no-highpass", no_highpass_, "Leave out the high-pass input filter");
    cmd.add_option("--format", format_,
                   "packed: each frame at its natural length (24, 20, 4 or 1 bytes); records: fixed 20-byte "
                   "(5.3) or 24-byte (6.3) records, as g7231enc writes")
        ->check(CLI::IsMember({"packed", "records"}).description(""))
        ->default_str("packed")
        ->type_name("packed|records");
    cmd.add_flag("--raw", raw_, "IN is raw 16-bit little-endian PCM at 8 kHz (implied by .raw and .pcm)");
    cmd.add_option("--pcap", pcap_,
                   "Write the frames as an RTP stream (payload type 4, UDP over IPv4 on 127.0.0.1) into this pcap "
                   "file; then only IN is named")
        ->type_name("OUT.pcap")
        ->excludes("--format");
    cmd.add_option("--frames-per-packet", frames_per_packet_, "With --pcap: frames in each RTP packet (default 1)")
        ->check(CLI::Range(1, 60).description(""))
        ->type_name("N");
    cmd.add_option_function<std::string>(
           "--ssrc", [this](const std::string& text) { ssrc_ = parse_ssrc(text); },
           "With --pcap: the stream's SSRC (decimal, or hexadecimal after 0x; default random)")
        ->type_name("X");
    add_tables_option(cmd, tables_);
    add_file_arguments(cmd, files_, ".g723");
  }

  int run(const GlobalOptions& global) override {
    std::shared_ptr<const TableSet> tables;
    if (!load_tables_option(tables_, global, tables)) return kExitFailure;
    EncodeSettings settings;
    settings.encoder.tables = tables.get();
    settings.encoder.high_rate = rate_ == "6.3";
    settings.encoder.vad = !no_vad_;
    settings.encoder.highpass = !no_highpass_;
    settings.format = format_ == "records" ? StreamFormat::records : StreamFormat::packed;
    settings.raw = raw_;
    FileArguments files = files_;
    if (!pcap_.empty()) {
      if (!files.output_dir.empty() || files.files.size() != 1) {
        Console(global.quiet).error("with --pcap name one input file only: g7231 encode --pcap OUT.pcap IN");
        return kExitUsage;
      }
      settings.rtp = StreamSettings{static_cast<std::size_t>(frames_per_packet_), ssrc_};
      files.files.push_back(pcap_);
    } else if (frames_per_packet_ != 1 || ssrc_) {
      Console(global.quiet).error("--frames-per-packet and --ssrc need --pcap");
      return kExitUsage;
    }
    return run_files(files, global, std::bind_front(encode_file, settings));
  }

 private:
  std::string rate_ = "5.3";
  bool no_vad_ = false;
  bool no_highpass_ = false;
  std::string format_ = "packed";
  bool raw_ = false;
  std::string pcap_;
  int frames_per_packet_ = 1;
  std::optional<std::uint32_t> ssrc_;
  std::string tables_;
  FileArguments files_;
};

}  // namespace

CommandEntry add_encode_command(CLI::App& app) {
  return add_command<EncodeCommand>(app, "encode", "Code audio files (any rate, any channels) into frames");
}

}  // namespace g7231::app
