// Runs the built command-line encoder as a user would and checks what it prints, writes and returns.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/common/record_layout.h"
#include "codec/encoder/encoder.h"
#include "tests/app/program_runner.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

constexpr std::size_t kRecordBytes = cli::kLowRateRecordBytes;

const std::string kBanner =
    "\n*************  g7231enc: fixed-point dual-rate speech encoder  *************\n"
    "\n-------------      G723.1 Encoder      ------------\n";

RunResult run_encoder(const std::vector<std::string>& args) { return run_program(G7231ENC_PATH, args); }

bool ends_with_time_report(const std::string& out) {
  const std::string::size_type nl = out.rfind('\n', out.size() - 2);
  if (out.size() < 2 || out.back() != '\n' || nl == std::string::npos) return false;
  const std::string line = out.substr(nl + 1);
  double seconds;
  char rest[16];
  return std::sscanf(line.c_str(), "%lf seconds%15s", &seconds, rest) == 1 && seconds >= 0.0;
}

using CommandLine = ProgramTest;

TEST_F(CommandLine, WrongArgumentCountPrintsBannerAndUsageOnly) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{path("in.raw")},
                                               std::vector<std::string>{path("a"), path("b"), path("c")}}) {
    const RunResult r = run_encoder(args);
    EXPECT_EQ(r.out, kBanner + "Usage: " + G7231ENC_PATH + " infile outfile\n");
    EXPECT_NE(r.status, 0);
  }
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(CommandLine, ShortInputsGiveAnEmptyOutputAndATimeReport) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{479}}) {
    write_file(path("in.raw"), std::vector<unsigned char>(size, 0x11));
    const RunResult r = run_encoder({path("in.raw"), path("out.bit")});
    EXPECT_EQ(r.status, 0) << size;
    EXPECT_EQ(r.out.rfind(kBanner, 0), 0u) << size;
    EXPECT_EQ(r.out.find("Encode frame"), std::string::npos) << size;
    EXPECT_TRUE(ends_with_time_report(r.out)) << r.out;
    ASSERT_TRUE(fs::exists(path("out.bit")));
    EXPECT_EQ(fs::file_size(path("out.bit")), 0u) << size;
  }
}

TEST_F(CommandLine, PartialLastFrameIsIgnored) {
  std::vector<std::int16_t> samples(2401);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>((i * 7919) % 4001 - 2000);
  write_file(path("in.raw"), pcm_bytes(samples));
  const RunResult r = run_encoder({path("in.raw"), path("out.bit")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(fs::file_size(path("out.bit")), 200u);
  EXPECT_NE(r.out.find("Encode frame 1\rEncode frame 2\r"), std::string::npos);
  EXPECT_NE(r.out.find("Encode frame 10\r\n"), std::string::npos);
  EXPECT_EQ(r.out.find("Encode frame 11"), std::string::npos);
  EXPECT_TRUE(ends_with_time_report(r.out));
}

// The program writes exactly the first 20 bytes of what the encoder object codes for each frame, with the
// samples read as little-endian.
TEST_F(CommandLine, RecordsAreTheEncodersFramesOfLittleEndianSamples) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  write_file(path("in.raw"), pcm_bytes(speech));
  const RunResult r = run_encoder({path("in.raw"), path("out.bit")});
  ASSERT_EQ(r.status, 0);
  const std::vector<unsigned char> out = read_file(path("out.bit"));
  const std::size_t frames = speech.size() / kFrameSamples;
  ASSERT_EQ(out.size(), frames * kRecordBytes);

  G7231Encoder* enc = create_encoder(false);
  ASSERT_NE(enc, nullptr);
  for (std::size_t f = 0; f < frames; ++f) {
    std::array<std::int16_t, kFrameSamples> frame;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f * kFrameSamples), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> packed;
    encode_frame(enc, frame, packed);
    ASSERT_TRUE(std::equal(packed.begin(), packed.begin() + kRecordBytes, out.begin() + f * kRecordBytes))
        << "record " << f;
  }
  destroy_encoder(enc);
}

// Speech with pauses gives active 5.3 kbit/s, SID and untransmitted records, each zero beyond its
// significant bytes (20, 4 and 1).
TEST_F(CommandLine, RecordsOfEveryFrameKindAreZeroPadded) {
  write_file(path("in.raw"), pcm_bytes(load_speech_sample("cross.raw")));
  ASSERT_EQ(run_encoder({path("in.raw"), path("out.bit")}).status, 0);
  const std::vector<unsigned char> out = read_file(path("out.bit"));
  ASSERT_EQ(out.size() % kRecordBytes, 0u);
  std::array<int, 4> kinds{};
  for (std::size_t r = 0; r < out.size(); r += kRecordBytes) {
    const int type = out[r] & 3;
    ++kinds[static_cast<std::size_t>(type)];
    ASSERT_NE(type, 0) << "record " << r / kRecordBytes << " claims 6.3 kbit/s";
    const std::size_t significant = type == 1 ? 20 : type == 2 ? 4 : 1;
    for (std::size_t i = significant; i < kRecordBytes; ++i) {
      ASSERT_EQ(out[r + i], 0) << "record " << r / kRecordBytes << " byte " << i;
    }
  }
  EXPECT_GT(kinds[1], 0) << "no active frames";
  EXPECT_GT(kinds[2], 0) << "no SID frames";
  EXPECT_GT(kinds[3], 0) << "no untransmitted frames";
}

TEST_F(CommandLine, UnopenableFilesAreReported) {
  RunResult r = run_encoder({path("missing.raw"), path("out.bit")});
  EXPECT_EQ(r.out, kBanner + "\nError opening input file " + path("missing.raw") + "!");
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(fs::exists(path("out.bit")));

  write_file(path("in.raw"), std::vector<unsigned char>(960, 0));
  r = run_encoder({path("in.raw"), path("no-such-dir/out.bit")});
  EXPECT_EQ(r.out, kBanner + "\nError opening output file " + path("no-such-dir/out.bit") + "!");
  EXPECT_NE(r.status, 0);
}

TEST_F(CommandLine, ReadErrorIsNotTakenForEndOfFile) {
  fs::create_directory(path("a-directory"));
  const RunResult r = run_encoder({path("a-directory"), path("out.bit")});
  if (r.out.find("Error opening input file") != std::string::npos) {
    GTEST_SKIP() << "this system refuses to open a directory for reading";
  }
  EXPECT_NE(r.out.find("\nError reading input file " + path("a-directory") + "!"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("seconds"), std::string::npos);
  EXPECT_NE(r.status, 0);
}

TEST_F(CommandLine, FullDiskIsAWriteError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  write_file(path("in.raw"), std::vector<unsigned char>(480 * 3, 0x20));
  const RunResult r = run_encoder({path("in.raw"), "/dev/full"});
  EXPECT_NE(r.out.find("\nError writing output file /dev/full!"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("seconds"), std::string::npos);
  EXPECT_NE(r.status, 0);
}

TEST_F(CommandLine, SameFileForInputAndOutputIsRefused) {
  const std::vector<unsigned char> original(480 * 4, 0x42);
  write_file(path("in.raw"), original);
  fs::create_symlink(path("in.raw"), path("link.raw"));
  fs::create_hard_link(path("in.raw"), path("hard.raw"));
  for (const std::string& out : {path("in.raw"), path("./in.raw"), path("link.raw"), path("hard.raw")}) {
    const RunResult r = run_encoder({path("in.raw"), out});
    EXPECT_EQ(r.out, kBanner + "\nError: output file " + out + " is the input file!");
    EXPECT_NE(r.status, 0) << out;
    EXPECT_EQ(read_file(path("in.raw")), original) << out;
  }
}

TEST_F(CommandLine, EncoderThatCannotBeCreatedIsReported) {
  write_file(path("in.raw"), std::vector<unsigned char>(480, 0));
  const RunResult r = run_program(G7231ENC_NO_MEMORY_PATH, {path("in.raw"), path("out.bit")});
  EXPECT_EQ(r.out, kBanner + "\nError creating encoder!");
  EXPECT_NE(r.status, 0);
}

}  // namespace
}  // namespace g7231
