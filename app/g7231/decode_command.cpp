// g7231 decode: coded frames back into speech.
#include <CLI/CLI.hpp>

#include <array>
#include <filesystem>
#include <functional>
#include <optional>

#include "app/common/coder_objects.h"
#include "app/common/pcm_conversion.h"
#include "app/g7231/audio_output.h"
#include "app/g7231/batch.h"
#include "app/g7231/capture_report.h"
#include "app/g7231/frame_stream.h"
#include "app/g7231/output.h"
#include "app/g7231/table_set_option.h"

namespace g7231::app {
namespace {

namespace fs = std::filesystem;

struct DecodeSettings {
  StreamFormat format = StreamFormat::automatic;
  bool postfilter = true;
  int out_rate = cli::kSpeechRate;
  const TableSet* tables = nullptr;      // null: the built-in set
  int payload_type = rtp::kPayloadType;  // of the RTP streams taken from a capture
  std::optional<std::uint32_t> ssrc;     // the one stream of a capture to decode
};

// Decodes the frames of one stream into out_path; returns the seconds of speech and counts the frames
// concealed. name: what messages call the stream.
double decode_stream(const DecodeSettings& settings, const FrameStream& stream, const std::string& name,
                     const std::string& out_path, Console& console, bool progress, std::size_t& concealed) {
  Output out(out_path);
  AudioWriter writer(out, container_for(out_path), settings.out_rate);
  const cli::DecoderPtr decoder(create_decoder({.postfilter = settings.postfilter, .tables = settings.tables}));
  if (!decoder) throw Failure(about(name, "cannot create a decoder: out of memory"));
  std::optional<ProgressLine> line;
  const double seconds = static_cast<double>(stream.frames.size()) * kFrameSeconds;
  if (progress) line.emplace(console, name, seconds);

  std::array<std::int16_t, kFrameSamples> speech{};
  concealed = 0;
  for (std::size_t i = 0; i < stream.frames.size(); ++i) {
    if (decode_frame(decoder.get(), stream.frame(i), stream.frames[i].lost, speech).concealed) ++concealed;
    writer.write(speech);
    if (line) line->update(static_cast<double>(i + 1) * kFrameSeconds);
  }
  writer.finish();
  out.commit();
  line.reset();
  if (writer.clipped() > 0) {
    console.note(about(out.name(), std::to_string(writer.clipped()) +
                                       " samples beyond full scale after rate conversion were limited"));
  }
  return seconds;
}

// OUT for a capture's only stream; beside it, named after each stream's SSRC, when there are several.
std::string stream_output_name(const std::string& out_path, std::uint32_t ssrc, std::size_t streams) {
  if (streams == 1) return out_path;
  const fs::path p(out_path);
  return (p.parent_path() / (p.stem().string() + "-" + hex_ssrc(ssrc) + p.extension().string())).string();
}

double decode_capture(const DecodeSettings& settings, const std::string& in, const std::string& name,
                      std::vector<std::uint8_t> bytes, const std::string& out_path, Console& console,
                      bool progress) {
  CaptureStreams capture = rtp_streams(read_capture(bytes, name), settings.payload_type);
  std::vector<const RtpStream*> chosen;
  for (const RtpStream& s : capture.streams) {
    if (!settings.ssrc || s.ssrc == *settings.ssrc) chosen.push_back(&s);
  }
  if (chosen.empty()) {
    std::string why = settings.ssrc && !capture.streams.empty()
                          ? "holds no RTP stream with SSRC " + hex_ssrc(*settings.ssrc) + " (it holds " +
                                describe_streams(capture) + ")"
                          : "holds no RTP stream of payload type " + std::to_string(settings.payload_type) + " (" +
                                describe_capture(capture) + ")";
    throw Failure(about(name, why));
  }
  if (chosen.size() > 1 && out_path == "-") {
    throw Failure(about(name, "holds " + describe_streams(capture) +
                                  "; choose one with --ssrc to write it to standard output"));
  }
  report_capture(console, name, capture);
  double seconds = 0.0;
  for (const RtpStream* s : chosen) {
    const std::string out = stream_output_name(out_path, s->ssrc, chosen.size());
    refuse_same_file(in, out);
    const std::string label = name + ", SSRC " + hex_ssrc(s->ssrc);
    std::size_t concealed = 0;
    seconds += decode_stream(settings, s->frames, label, out, console, progress, concealed);
    std::string note = describe_stream(*s) + "; " + std::to_string(concealed) + " of " +
                       std::to_string(s->frames.frames.size()) + " frames concealed";
    if (chosen.size() > 1) note += "; into " + display_name(out, true);
    console.note(about(label, note));
  }
  return seconds;
}

double decode_file(const DecodeSettings& settings, const std::string& in, const std::string& out_path,
                   Console& console, bool progress) {
  const std::string name = display_name(in);
  std::vector<std::uint8_t> bytes = read_whole(in, name);
  if (settings.format == StreamFormat::automatic && is_capture(bytes)) {
    return decode_capture(settings, in, name, std::move(bytes), out_path, console, progress);
  }
  const FrameStream stream = split_frame_stream(std::move(bytes), settings.format, name);
  std::size_t concealed = 0;
  const double seconds = decode_stream(settings, stream, name, out_path, console, progress, concealed);
  if (stream.cut_short) console.note(about(name, "the file ends inside its last frame"));
  if (concealed > 0) {
    console.note(about(name, std::to_string(concealed) + " of " + std::to_string(stream.frames.size()) +
                                 " frames were damaged or cut short and have been concealed"));
  }
  return seconds;
}

class DecodeCommand : public Command {
 public:
  explicit DecodeCommand(CLI::App& cmd) {
    cmd.add_option("--format", format_,
                   "Layout of IN: packed frames, 20- or 24-byte records, or auto to tell them apart")
        ->check(CLI::IsMember({"auto", "packed", "records"}).description(""))
        ->default_str("auto")
        ->type_name("auto|packed|records");
    cmd.add_flag("--no-postfilter", no_postfilter_, "Leave out the pitch and formant postfilter");
    cmd.add_option("--out-rate", out_rate_, "Sample rate of the output in Hz (converted from 8000 with libsoxr)")
        ->check(CLI::Range(1000, 384000).description(""))
        ->type_name("HZ");
    add_capture_options(cmd, capture_);
    add_tables_option(cmd, tables_);
    add_file_arguments(cmd, files_, ".wav");
  }

  int run(const GlobalOptions& global) override {
    std::shared_ptr<const TableSet> tables;
    if (!load_tables_option(tables_, global, tables)) return kExitFailure;
    DecodeSettings settings;
    settings.tables = tables.get();
    settings.format = parse_stream_format(format_);
    settings.postfilter = !no_postfilter_;
    settings.out_rate = out_rate_;
    settings.payload_type = capture_.payload_type;
    settings.ssrc = capture_.ssrc;
    return run_files(files_, global, std::bind_front(decode_file, settings));
  }

 private:
  std::string format_ = "auto";
  bool no_postfilter_ = false;
  int out_rate_ = cli::kSpeechRate;
  CaptureOptions capture_;
  std::string tables_;
  FileArguments files_;
};

}  // namespace

CommandEntry add_decode_command(CLI::App& app) {
  return add_command<DecodeCommand>(app, "decode",
                                    "Decode frames into speech (WAV when OUT ends in .wav, else raw PCM)");
}

}  // namespace g7231::app
