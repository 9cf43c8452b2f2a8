// g7231 encode: audio files into coded frames.
#include <CLI/CLI.hpp>

#include <array>
#include <functional>
#include <optional>

#include "app/common/coder_objects.h"
#include "app/g7231/audio_input.h"
#include "app/g7231/batch.h"
#include "app/g7231/frame_stream.h"
#include "app/g7231/output.h"
#include "app/g7231/table_set_option.h"

namespace g7231::app {
namespace {

struct EncodeSettings {
  EncoderOptions encoder;
  StreamFormat format = StreamFormat::packed;
  bool raw = false;
};

double encode_file(const EncodeSettings& settings, const std::string& in, const std::string& out_path,
                   Console& console, bool progress) {
  AudioReader reader(in, settings.raw);
  Output out(out_path);
  FrameWriter writer(out, settings.format,
                     settings.encoder.high_rate ? kHighRateRecordBytes : kLowRateRecordBytes);
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
    writer.write(frame);
    ++frames;
    if (line) line->update(static_cast<double>(frames) * kFrameSeconds);
  }
  if (frames == 0 && left_out == 0) throw Failure(about(reader.name(), "holds no audio"));
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
    return run_files(files_, global, std::bind_front(encode_file, settings));
  }

 private:
  std::string rate_ = "5.3";
  bool no_vad_ = false;
  bool no_highpass_ = false;
  std::string format_ = "packed";
  bool raw_ = false;
  std::string tables_;
  FileArguments files_;
};

}  // namespace

CommandEntry add_encode_command(CLI::App& app) {
  return add_command<EncodeCommand>(app, "encode", "Code audio files (any rate, any channels) into frames");
}

}  // namespace g7231::app
