#include "app/decoder_command_line.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/common/coder_objects.h"
#include "app/common/files.h"
#include "app/common/pcm_conversion.h"
#include "app/common/record_layout.h"
#include "g7231/version.h"

namespace g7231::cli {
namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

struct Arguments {
  bool help = false;
  bool version = false;
  bool postfilter = true;
  const char* unknown_option = nullptr;  // the first one given
  std::vector<const char*> files;
};

// Options may stand anywhere; "--" ends them, so that a file name may begin with '-'. A lone "-" is a
// file name.
Arguments parse_arguments(int argc, char* argv[]) {
  Arguments args;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      args.files.push_back(argv[i]);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "--help" || arg == "-h") {
      args.help = true;
    } else if (arg == "--version") {
      args.version = true;
    } else if (arg == "--no-postfilter") {
      args.postfilter = false;
    } else if (args.unknown_option == nullptr) {
      args.unknown_option = argv[i];
    }
  }
  return args;
}

void print_usage(std::FILE* to, const char* program) {
  std::fprintf(to, "Usage: %s [--no-postfilter] infile outfile\n", program);
}

void print_help(const char* program) {
  print_usage(stdout, program);
  std::printf(
      "\n"
      "Decodes the 20-byte records that g7231enc writes back to speech: raw 16-bit signed little-endian\n"
      "PCM, mono, 8 kHz, 240 samples (30 ms) per record.\n"
      "\n"
      "  --no-postfilter  leave out the postfilter: the output is then the encoder's own reconstruction\n"
      "  -h, --help       print this help and exit\n"
      "  --version        print the version and exit\n"
      "\n"
      "A record holding values no encoder writes, or a 6.3 kbit/s frame (24 bytes, longer than a record),\n"
      "is concealed as a lost frame and reported; a partial record at the end is reported and not decoded.\n"
      "Exit status: 0 on success, 1 on any error; a failed run leaves outfile as it was.\n");
}

int fail(const char* what, const char* name, int error) {
  std::fprintf(stderr, "Error %s %s: %s\n", what, name, std::strerror(error));
  return kFailure;
}

// What the records of a file held, beside speech the decoder could decode.
struct Tally {
  long long records = 0;
  long long high_rate = 0;  // 6.3 kbit/s frames, cut short by their record
  long long damaged = 0;    // other records the decoder concealed
};

void report_concealment(long long count, const char* why) {
  if (count == 0) return;
  std::fprintf(stderr, "Warning: %lld %s %s; concealed as lost\n", count, count == 1 ? "record holds" : "records hold",
               why);
}

}  // namespace

int run_decoder(int argc, char* argv[]) {
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "g7231dec";
  const Arguments args = parse_arguments(argc, argv);
  if (args.help) {
    print_help(program);
    return kSuccess;
  }
  if (args.version) {
    std::printf("g7231dec %s\n", G7231_VERSION_STRING);
    return kSuccess;
  }
  if (args.unknown_option != nullptr) {
    std::fprintf(stderr, "Unknown option %s\n", args.unknown_option);
    print_usage(stderr, program);
    return kFailure;
  }
  if (args.files.size() != 2) {
    print_usage(stderr, program);
    return kFailure;
  }
  const char* in_name = args.files[0];
  const char* out_name = args.files[1];

  File in(std::fopen(in_name, "rb"));
  if (!in) return fail("opening input file", in_name, errno);
  if (is_same_file(in_name, out_name)) {
    std::fprintf(stderr, "Error: output file %s is the input file!\n", out_name);
    return kFailure;
  }
  const DecoderPtr decoder(create_decoder({.postfilter = args.postfilter}));
  if (decoder == nullptr) {
    std::fprintf(stderr, "Error creating decoder!\n");
    return kFailure;
  }
  OutputFile out;
  if (!out.open(out_name)) return fail("opening output file", out_name, errno);

  std::array<std::uint8_t, kLowRateRecordBytes> record{};
  std::array<std::int16_t, kFrameSamples> samples{};
  std::array<std::uint8_t, kPcmFrameBytes> bytes{};
  Tally tally;
  std::size_t got = 0;
  while ((got = std::fread(record.data(), 1, record.size(), in.get())) == record.size()) {
    // The frame's type bits give its length; decode_frame reads no further and conceals a 6.3 kbit/s
    // frame, which needs more than the record holds, as a frame cut short.
    const DecodeResult result = decode_frame(decoder.get(), record, false, samples);
    ++tally.records;
    if (result.type == FrameType::active_high_rate) {
      ++tally.high_rate;
    } else if (result.concealed) {
      ++tally.damaged;
    }
    bytes_from_samples(samples, bytes);
    if (!out.write(bytes)) return fail("writing output file", out_name, errno);
  }
  if (std::ferror(in.get()) != 0) return fail("reading input file", in_name, errno);
  if (!out.commit()) return fail("writing output file", out_name, errno);

  report_concealment(tally.high_rate, "a 6.3 kbit/s frame, longer than a record");
  report_concealment(tally.damaged, "values no encoder writes, or silence without its SID frame");
  if (got > 0) {
    std::fprintf(stderr, "Warning: input file %s ends in a partial record of %zu bytes, not decoded\n", in_name, got);
  }
  return kSuccess;
}

}  // namespace g7231::cli
