// Runs the built command-line decoder as a user would, on what the built encoder wrote, and checks what it
// prints, writes and returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/common/record_layout.h"
#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "tests/app/program_runner.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

constexpr std::size_t kRecordBytes = cli::kLowRateRecordBytes;
using Frame = std::array<std::int16_t, kFrameSamples>;

RunResult run_decoder(const std::vector<std::string>& args) { return run_program(G7231DEC_PATH, args); }

// The encoder object's own reconstruction of the speech, frame by frame, as g7231enc codes it.
std::vector<std::int16_t> encoder_reconstruction(const std::vector<std::int16_t>& speech) {
  G7231Encoder* enc = create_encoder(false);
  std::vector<std::int16_t> out;
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    Frame frame;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> packed;
    encode_frame(enc, frame, packed);
    out.insert(out.end(), frame.begin(), frame.end());
  }
  destroy_encoder(enc);
  return out;
}

// The decoder object's output for each record, those in `lost` marked lost.
std::vector<std::int16_t> library_decoding(const std::vector<unsigned char>& records, bool postfilter,
                                           const std::vector<std::size_t>& lost = {}) {
  G7231Decoder* dec = create_decoder({.postfilter = postfilter});
  std::vector<std::int16_t> out;
  for (std::size_t r = 0; r + kRecordBytes <= records.size(); r += kRecordBytes) {
    const bool is_lost = std::ranges::find(lost, r / kRecordBytes) != lost.end();
    Frame frame;
    decode_frame(dec, std::span(records).subspan(r, kRecordBytes), is_lost, frame);
    out.insert(out.end(), frame.begin(), frame.end());
  }
  destroy_decoder(dec);
  return out;
}

using Decoder = ProgramTest;

// g7231enc then g7231dec: without the postfilter the output is the encoder's own reconstruction, with it
// the decoder object's output, on speech with pauses (SID and untransmitted records) and without.
TEST_F(Decoder, RoundTripThroughBothPrograms) {
  for (const char* file : {"cross.raw", "hts1a.raw"}) {
    const std::vector<std::int16_t> speech = load_speech_sample(file);
    write_file(path("in.raw"), pcm_bytes(speech));
    ASSERT_EQ(run_program(G7231ENC_PATH, {path("in.raw"), path("in.g723")}).status, 0);
    const std::vector<unsigned char> records = read_file(path("in.g723"));
    for (const bool postfilter : {false, true}) {
      std::vector<std::string> args = {path("in.g723"), path("out.raw")};
      if (!postfilter) args.insert(args.begin(), "--no-postfilter");
      const RunResult r = run_decoder(args);
      EXPECT_EQ(r.status, 0) << file;
      EXPECT_EQ(r.out + r.err, "") << file;
      const std::vector<std::int16_t> out = pcm_samples(read_file(path("out.raw")));
      ASSERT_EQ(out.size(), speech.size() / kFrameSamples * kFrameSamples) << file;
      EXPECT_EQ(out, postfilter ? library_decoding(records, true) : encoder_reconstruction(speech))
          << file << (postfilter ? " with" : " without") << " the postfilter";
    }
  }
}

// A record claiming 6.3 kbit/s cannot hold its 24-byte frame and is concealed as lost; one with a lag
// field no encoder writes is concealed too; a trailing partial record is not decoded. Each is reported,
// and the run still succeeds.
TEST_F(Decoder, CutShortDamagedAndPartialRecordsAreConcealedAndReported) {
  write_file(path("in.raw"), pcm_bytes(load_speech_sample("hts1a.raw")));
  ASSERT_EQ(run_program(G7231ENC_PATH, {path("in.raw"), path("in.g723")}).status, 0);
  std::vector<unsigned char> records = read_file(path("in.g723"));
  constexpr std::size_t kHighRate = 20, kDamaged = 30;
  ASSERT_EQ(records[kHighRate * kRecordBytes] & 3, 1);
  ASSERT_EQ(records[kDamaged * kRecordBytes] & 3, 1);
  records[kHighRate * kRecordBytes] &= 0xFC;    // type bits 0: 6.3 kbit/s
  records[kDamaged * kRecordBytes + 3] |= 0xFC;  // frame bits 26..32, the first lag field: 127
  records[kDamaged * kRecordBytes + 4] |= 0x01;
  std::vector<unsigned char> with_tail = records;
  with_tail.insert(with_tail.end(), {1, 2, 3, 4, 5, 6, 7});
  write_file(path("in.g723"), with_tail);

  const RunResult r = run_decoder({path("in.g723"), path("out.raw")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("1 record holds a 6.3 kbit/s frame"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 record holds values no encoder writes"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("partial record of 7 bytes"), std::string::npos) << r.err;
  EXPECT_EQ(pcm_samples(read_file(path("out.raw"))), library_decoding(records, true, {kHighRate, kDamaged}));
}

struct ErrorCase {
  const char* what;
  std::vector<std::string> args;  // "@name" stands for a file of that name in the test's directory
  std::string message;            // on standard error, with "@name" as in args
};

const std::string kUsage = std::string("Usage: ") + G7231DEC_PATH + " [--no-postfilter] infile outfile\n";

// Every failure: a clear message on standard error and nothing on standard output, exit status 1, the
// input untouched, and the output's name holding what it held before (here "old", or nothing).
TEST_F(Decoder, FailuresAreReportedAndLeaveTheOutputAsItWas) {
  const std::vector<ErrorCase> cases = {
      {"no arguments", {}, kUsage},
      {"one file", {"@in.g723"}, kUsage},
      {"three files", {"@in.g723", "@new.raw", "@c"}, kUsage},
      {"unknown option", {"--postfilter=off", "@in.g723", "@new.raw"}, "Unknown option --postfilter=off\n" + kUsage},
      {"missing input", {"@missing.g723", "@new.raw"}, "Error opening input file @missing.g723: No such file"},
      {"output in a missing directory", {"@in.g723", "@no-dir/new.raw"}, "Error opening output file @no-dir/new.raw"},
      {"read error", {"@a-directory", "@old.raw"}, "Error reading input file @a-directory: Is a directory\n"},
      {"full disk", {"@in.g723", "/dev/full"}, "Error writing output file /dev/full: No space left on device\n"},
      {"same path", {"@in.g723", "@in.g723"}, "Error: output file @in.g723 is the input file!\n"},
      {"same file by another path", {"@in.g723", "@./in.g723"}, "Error: output file @./in.g723 is the input file!\n"},
      {"symbolic link to the input", {"@in.g723", "@link"}, "Error: output file @link is the input file!\n"},
      {"hard link to the input", {"@in.g723", "@hard"}, "Error: output file @hard is the input file!\n"},
  };
  const std::vector<unsigned char> input(3 * kRecordBytes, 0x03);  // three untransmitted frames
  write_file(path("in.g723"), input);
  write_file(path("old.raw"), {'o', 'l', 'd'});
  fs::create_directory(path("a-directory"));
  fs::create_symlink(path("in.g723"), path("link"));
  fs::create_hard_link(path("in.g723"), path("hard"));
  const auto expand = [&](std::string s) {
    for (std::size_t at; (at = s.find('@')) != std::string::npos;) s.replace(at, 1, dir_.string() + "/");
    return s;
  };
  for (const ErrorCase& c : cases) {
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(expand(a));
    const RunResult r = run_decoder(args);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(r.err.rfind(expand(c.message), 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(read_file(path("in.g723")), input) << c.what;
    EXPECT_EQ(read_file(path("old.raw")), (std::vector<unsigned char>{'o', 'l', 'd'})) << c.what;
    EXPECT_EQ(listing(), (std::vector<std::string>{"a-directory", "hard", "in.g723", "link", "old.raw"})) << c.what;
  }
}

TEST_F(Decoder, DecoderThatCannotBeCreatedIsReportedBeforeTheOutputIsMade) {
  write_file(path("in.g723"), std::vector<unsigned char>(kRecordBytes, 0x03));
  const RunResult r = run_program(G7231DEC_NO_MEMORY_PATH, {path("in.g723"), path("out.raw")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error creating decoder!\n");
  EXPECT_FALSE(fs::exists(path("out.raw")));
}

TEST_F(Decoder, HelpAndOptionOrder) {
  for (const char* help : {"--help", "-h"}) {
    const RunResult r = run_decoder({help, "ignored"});
    EXPECT_EQ(r.status, 0) << help;
    EXPECT_EQ(r.out.rfind(kUsage, 0), 0u) << help;
    EXPECT_NE(r.out.find("--no-postfilter"), r.out.rfind("--no-postfilter")) << "the option is explained";
    EXPECT_EQ(r.err, "") << help;
  }
  EXPECT_TRUE(fs::is_empty(dir_));

  // After "--" every word is a file name.
  const RunResult r = run_decoder({"--", "--help", path("out.raw")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Error opening input file --help: No such file", 0), 0u) << r.err;

  // Options may follow the file names. An empty input gives an empty output.
  write_file(path("in.g723"), std::vector<unsigned char>(kRecordBytes, 0x03));
  EXPECT_EQ(run_decoder({path("in.g723"), path("out.raw"), "--no-postfilter"}).status, 0);
  EXPECT_EQ(fs::file_size(path("out.raw")), 2 * kFrameSamples);
  write_file(path("in.g723"), {});
  EXPECT_EQ(run_decoder({path("in.g723"), path("out.raw")}).status, 0);
  EXPECT_EQ(fs::file_size(path("out.raw")), 0u);
}

}  // namespace
}  // namespace g7231
