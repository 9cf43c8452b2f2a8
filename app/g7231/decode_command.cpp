// g7231 decode: coded frames back into speech.
#include <CLI/CLI.hpp>

#include <array>
#include <functional>
#include <optional>

#include "app/common/coder_objects.h"
#include "app/common/pcm_conversion.h"
#include "app/g7231/audio_output.h"
#include "app/g7231/batch.h"
#include "app/g7231/frame_stream.h"
#include "app/g7231/output.h"
#include "app/g7231/table_set_option.h"

namespace g7231::app {
namespace {

struct DecodeSettings {
  StreamFormat format = StreamFormat::automatic;
  bool postfilter = true;
  int out_rate = cli::kSpeechRate;
  const TableSet* tables = nullptr;  // null: the built-in set
};

double decode_file(const DecodeSettings& settings, const std::string& in, const std::string& out_path,
                   Console& console, bool progress) {
  const std::string name = display_name(in);
  const FrameStream stream = read_frame_stream(in, settings.format);
  Output out(out_path);
  AudioWriter writer(out, container_for(out_path), settings.out_rate);
  const cli::DecoderPtr decoder(create_decoder({.postfilter = settings.postfilter, .tables = settings.tables}));
  if (!decoder) throw Failure(about(name, "cannot create a decoder: out of memory"));
  std::optional<ProgressLine> line;
  const double seconds = static_cast<double>(stream.frames.size()) * kFrameSeconds;
  if (progress) line.emplace(console, name, seconds);

  std::array<std::int16_t, kFrameSamples> speech{};
  std::size_t concealed = 0;
  for (std::size_t i = 0; i < stream.frames.size(); ++i) {
    if (decode_frame(decoder.get(), stream.frame(i), false, speech).concealed) ++concealed;
    writer.write(speech);
    if (line) line->update(static_cast<double>(i + 1) * kFrameSeconds);
  }
  writer.finish();
  out.commit();
  line.reset();
  if (stream.cut_short) console.note(about(name, "the file ends inside its last frame"));
  if (concealed > 0) {
    console.note(about(name, std::to_string(concealed) + " of " + std::to_string(stream.frames.size()) +
                                 " frames were damaged or cut short and have been concealed"));
  }
  if (writer.clipped() > 0) {
    console.note(about(out.name(), std::to_string(writer.clipped()) +
                                       " samples beyond full scale after rate conversion were limited"));
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
    return run_files(files_, global, std::bind_front(decode_file, settings));
  }

 private:
  std::string format_ = "auto";
  bool no_postfilter_ = false;
  int out_rate_ = cli::kSpeechRate;
  std::string tables_;
  FileArguments files_;
};

}  // namespace

CommandEntry add_decode_command(CLI::App& app) {
  return add_command<DecodeCommand>(app, "decode",
                                    "Decode frames into speech (WAV when OUT ends in .wav, else raw PCM)");
}

}  // namespace g7231::app
