// What g7231 does with bad input, bad output and bad command lines: a message that names the file and
// the reason, a non-zero exit status, and nothing left under the output's name.
#include <unistd.h>

#include <functional>

#include "tests/app/g7231/program.h"

namespace g7231::app::test {
namespace {

using BadInput = ProgramTest;

TEST_F(BadInput, EachIsRefusedWithItsReasonAndLeavesNoOutput) {
  write_file(path("speech.raw"), pcm_bytes(load_speech_sample("hts1a.raw")));
  write_audio(path("good.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, speech_at("hts1a.raw", 8000));
  ASSERT_EQ(run({"encode", path("speech.raw"), path("coded.g723")}).status, 0);
  const std::vector<std::uint8_t> wav = read_file(path("good.wav"));
  const bool root = geteuid() == 0;  // root reads and writes whatever the permissions say

  struct Case {
    std::string what;
    std::function<void()> prepare;
    std::vector<std::string> args;
    std::string reason;  // expected in the message after the file's name
    bool needs_permissions;
    bool output_at_fault;  // the message names the output rather than the input
  };
  const std::vector<Case> cases = {
      {"missing input", [] {}, {"encode", path("missing.wav"), path("out.g723")}, "No such file", false, false},
      {"directory", [&] { fs::create_directory(path("folder")); }, {"encode", path("folder"), path("out.g723")},
       "is a directory", false, false},
      {"empty WAV", [&] { write_file(path("empty.wav"), {}); }, {"encode", path("empty.wav"), path("out.g723")},
       "is empty", false, false},
      {"empty raw", [&] { write_file(path("empty.raw"), {}); }, {"encode", path("empty.raw"), path("out.g723")},
       "is empty", false, false},
      {"truncated WAV header", [&] { write_file(path("cut.wav"), {wav.begin(), wav.begin() + 30}); },
       {"encode", path("cut.wav"), path("out.g723")}, "", false, false},
      {"WAV that holds no audio",
       [&] {
         write_file(path("noaudio.wav"), {'R', 'I', 'F', 'F', 20, 0, 0, 0, 'W', 'A', 'V', 'E', 'j', 'u', 'n', 'k',
                                           4, 0, 0, 0, 1, 2, 3, 4});
       },
       {"encode", path("noaudio.wav"), path("out.g723")}, "", false, false},
      {"unreadable input",
       [&] {
         write_file(path("locked.raw"), pcm_bytes(load_speech_sample("hts1a.raw")));
         fs::permissions(path("locked.raw"), fs::perms::none);
       },
       {"encode", path("locked.raw"), path("out.g723")}, "Permission denied", true, false},
      {"output in a missing directory", [] {}, {"encode", path("speech.raw"), path("nowhere/out.g723")},
       "No such file", false, true},
      {"output in a read-only directory",
       [&] {
         fs::create_directory(path("readonly"));
         fs::permissions(path("readonly"), fs::perms::owner_read | fs::perms::owner_exec);
       },
       {"encode", path("speech.raw"), path("readonly/out.g723")}, "Permission denied", true, true},
      {"write-protected output",
       [&] {
         write_file(path("protected.g723"), {1, 2, 3});
         fs::permissions(path("protected.g723"), fs::perms::owner_read);
       },
       {"encode", path("speech.raw"), path("protected.g723")}, "Permission denied", true, true},
      {"encoding to a full device", [] {}, {"encode", path("speech.raw"), "/dev/full"}, "No space left", false, true},
      {"decoding to a full device", [] {}, {"decode", path("coded.g723"), "/dev/full"}, "No space left", false, true},
      {"empty frame file", [&] { write_file(path("empty.g723"), {}); },
       {"decode", path("empty.g723"), path("out.pcm")}, "is empty", false, false},
      {"input as output", [] {}, {"encode", "--raw", path("speech.raw"), path("speech.raw")}, "is the input file",
       false, true},
      {"frames as output", [] {}, {"decode", path("coded.g723"), path("./coded.g723")}, "is the input file", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_permissions && root) continue;
    c.prepare();
    const std::vector<std::string> before = listing();
    const std::vector<std::uint8_t> speech_before = read_file(path("speech.raw"));
    const RunResult r = run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // The message names the file at fault: the input, or the output when the input was fine.
    const std::string& blamed = c.args[c.args.size() - (c.output_at_fault ? 1 : 2)];
    const std::string name = "g7231: " + blamed + ": ";
    EXPECT_EQ(r.err.rfind(name, 0), 0U) << r.err;
    EXPECT_NE(r.err.find(c.reason, name.size()), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(listing(), before);  // no output, no temporary left behind
    EXPECT_EQ(read_file(path("speech.raw")), speech_before);
  }
}

TEST_F(BadInput, AFailedRunLeavesAnExistingOutputAsItWas) {
  write_file(path("out.g723"), {'k', 'e', 'e', 'p'});
  write_file(path("broken.wav"), {'R', 'I', 'F', 'F'});
  EXPECT_EQ(run({"encode", path("broken.wav"), path("out.g723")}).status, 1);
  EXPECT_EQ(read_text(path("out.g723")), "keep");
}

TEST_F(BadInput, CommandLineMistakesExitWithUsageStatus) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               std::vector<std::string>{"encode", path("only-one")},
                                               std::vector<std::string>{"encode", "--rate", "8", "a", "b"},
                                               std::vector<std::string>{"decode", "--out-rate", "0", "a", "b"},
                                               std::vector<std::string>{"info"},
                                               std::vector<std::string>{"transcode", "a", "b"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err, "");
  }
}

TEST_F(BadInput, HelpVersionAndQuietBehaveAsUsual) {
  const RunResult version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind(std::string("g7231 ") + G7231_VERSION_TEXT + "\n", 0), 0U) << version.out;
  for (const std::string sub : {"encode", "decode", "info"}) {
    const RunResult help = run({sub, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("g7231 " + sub), std::string::npos) << help.out;
  }

  // Samples beyond full scale are noted once; -q, before or after the subcommand, silences the note.
  std::vector<float> loud = speech_at("hts1a.raw", 8000);
  for (std::size_t i = 0; i < loud.size(); i += 100) loud[i] = i % 200 == 0 ? 2.0F : -1.5F;
  write_audio(path("loud.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, loud);
  const RunResult noted = run({"encode", path("loud.wav"), path("a.g723")});
  EXPECT_EQ(noted.err, "g7231: " + path("loud.wav") + ": " + std::to_string((loud.size() + 99) / 100) +
                           " samples beyond full scale were limited\n");
  EXPECT_EQ(run({"-q", "encode", path("loud.wav"), path("a.g723")}).err, "");
  EXPECT_EQ(run({"encode", "-q", path("loud.wav"), path("a.g723")}).err, "");
}

}  // namespace
}  // namespace g7231::app::test
