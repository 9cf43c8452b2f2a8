#include "app/command_line.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <cstring>

#include "app/common/files.h"
#include "app/common/pcm_conversion.h"
#include "app/common/record_layout.h"
#include "codec/encoder/encoder.h"
#include "g7231/version.h"

namespace g7231::cli {
namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

void print_banner() {
  std::printf("\n*************  g7231enc: fixed-point dual-rate speech encoder  *************");
  std::printf("\n");
  std::printf("\n-------------      G723.1 Encoder      ------------");
  std::printf("\n");
}

}  // namespace

double elapsed_seconds(std::clock_t start, std::clock_t end) {
  if (start == static_cast<std::clock_t>(-1) || end == static_cast<std::clock_t>(-1)) return 0.0;
  return static_cast<double>(end - start) / CLOCKS_PER_SEC;
}

int run(int argc, char* argv[]) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("g7231enc %s\n", G7231_VERSION_STRING);
    return kSuccess;
  }
  print_banner();
  if (argc != 3) {
    std::printf("Usage: %s infile outfile\n", argc > 0 && argv[0] != nullptr ? argv[0] : "g7231enc");
    return kFailure;
  }
  const char* in_name = argv[1];
  const char* out_name = argv[2];

  File in(std::fopen(in_name, "rb"));
  if (!in) {
    std::printf("\nError opening input file %s!", in_name);
    return kFailure;
  }
  if (is_same_file(in_name, out_name)) {
    std::printf("\nError: output file %s is the input file!", out_name);
    return kFailure;
  }
  File out(std::fopen(out_name, "wb"));
  if (!out) {
    std::printf("\nError opening output file %s!", out_name);
    return kFailure;
  }

  G7231Encoder* encoder = create_encoder(false);
  if (encoder == nullptr) {
    std::printf("\nError creating encoder!");
    return kFailure;
  }
  const std::clock_t start = std::clock();

  std::array<std::uint8_t, kPcmFrameBytes> bytes{};
  std::array<std::int16_t, kFrameSamples> samples{};
  std::array<std::uint8_t, kMaxFrameBytes> record{};
  long long frames = 0;
  bool write_failed = false;
  while (std::fread(bytes.data(), 2, kFrameSamples, in.get()) == kFrameSamples) {
    ++frames;
    std::printf("Encode frame %lld\r", frames);
    samples_from_bytes(bytes, samples);
    encode_frame(encoder, samples, record);
    if (std::fwrite(record.data(), 1, kLowRateRecordBytes, out.get()) != kLowRateRecordBytes) {
      write_failed = true;
      break;
    }
  }
  const bool read_failed = !write_failed && std::ferror(in.get()) != 0;
  destroy_encoder(encoder);
  const std::clock_t end = std::clock();

  if (read_failed) {
    std::printf("\nError reading input file %s!", in_name);
    return kFailure;
  }
  if (write_failed || std::fflush(out.get()) != 0) {
    std::printf("\nError writing output file %s!", out_name);
    return kFailure;
  }
  std::printf("\n%2.1f seconds\n", elapsed_seconds(start, end));
  if (!out.close()) {
    std::printf("\nError writing output file %s!", out_name);
    return kFailure;
  }
  return kSuccess;
}

}  // namespace g7231::cli
