// g7231 info: its counts against the frames the library wrote, and damaged frames reported by index.
#include <cstdio>

#include "tests/app/g7231/program.h"

namespace g7231::app::test {
namespace {

using Info = ProgramTest;

// Runs jq's test expr on the JSON text; true when jq accepts the JSON and the expression holds.
bool jq_holds(const std::string& json, const std::string& expr, const std::string& file) {
  write_file(file, {json.begin(), json.end()});
  return std::system(("jq -e " + quoted(expr) + " " + quoted(file) + " >/dev/null").c_str()) == 0;
}

TEST_F(Info, JsonReportParsesAndCountsTheFrames) {
  ASSERT_EQ(std::system("command -v jq >/dev/null"), 0) << "jq is needed: scripts/install-deps installs it";
  for (const bool high_rate : {false, true}) {
    SCOPED_TRACE(high_rate);
    const std::vector<std::uint8_t> packed = library_packed(load_speech_sample("forig.raw"), {.high_rate = high_rate});
    std::array<std::size_t, 4> by_type{};
    std::size_t frames = 0;
    for (std::size_t at = 0; at < packed.size(); at += frame_bytes(frame_type_of(packed[at])), ++frames) {
      ++by_type[static_cast<std::size_t>(frame_type_of(packed[at]))];
    }
    ASSERT_GT(by_type[2] + by_type[3], 0U) << "the sample should hold silence";
    write_file(path("coded.g723"), packed);

    const RunResult r = run({"info", "--json", "--frames", path("coded.g723")});
    ASSERT_EQ(r.status, 0) << r.err;
    char silence[32];
    std::snprintf(silence, sizeof silence, "%.4f",
                  static_cast<double>(by_type[2] + by_type[3]) / static_cast<double>(frames));
    const std::string expr = ".frames.total == " + std::to_string(frames) +
                             " and .frames.active_6_3 == " + std::to_string(by_type[0]) +
                             " and .frames.active_5_3 == " + std::to_string(by_type[1]) +
                             " and .frames.sid == " + std::to_string(by_type[2]) +
                             " and .frames.untransmitted == " + std::to_string(by_type[3]) +
                             " and .frames.invalid == 0 and .bytes == " + std::to_string(packed.size()) +
                             " and .silence_share == " + silence + " and (.frame_list | length) == " +
                             std::to_string(frames) + " and .frame_list[0].index == 0 and .damaged_frames == []";
    EXPECT_TRUE(jq_holds(r.out, expr, path("report.json"))) << expr << "\n" << r.out.substr(0, 600);

    // The text report lists one line per frame after its header.
    const RunResult text = run({"info", "--frames", path("coded.g723")});
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.out.begin(), text.out.end(), '\n')), frames + 6) << text.out;
  }
}

TEST_F(Info, DamagedFramesAreReportedByIndexAndDoNotStopTheReport) {
  std::vector<std::uint8_t> packed = library_packed(load_speech_sample("hts1a.raw"), {});
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < packed.size(); at += frame_bytes(frame_type_of(packed[at]))) starts.push_back(at);
  // The first active frame after frame 0 gets 127 in its first lag field (frame bits 26-32)...
  std::size_t bad = 1;
  while (frame_type_of(packed[starts[bad]]) != FrameType::active_low_rate) ++bad;
  const std::size_t at = starts[bad];
  const std::vector<std::uint8_t> head(packed.begin() + static_cast<std::ptrdiff_t>(at),
                                       packed.begin() + static_cast<std::ptrdiff_t>(at + 10));
  packed[at + 3] |= 0xFC;
  packed[at + 4] |= 0x01;
  // ...and a last frame is cut short after 10 of its 20 bytes.
  packed.insert(packed.end(), head.begin(), head.end());
  const std::size_t frames = starts.size() + 1;
  write_file(path("damaged.g723"), packed);

  const RunResult r = run({"info", "--format", "packed", path("damaged.g723")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("invalid frame   " + std::to_string(bad) + ": pitch lag out of range"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("cut short       frame " + std::to_string(frames - 1) + ": 10 bytes"), std::string::npos)
      << r.out;
  const RunResult j = run({"info", "--json", "--format", "packed", path("damaged.g723")});
  EXPECT_TRUE(jq_holds(j.out,
                       ".frames.invalid == 1 and .frames.cut_short == 1 and .damaged_frames[0].index == " +
                           std::to_string(bad) + " and .damaged_frames[0].fault == \"pitch lag out of range\"",
                       path("report.json")))
      << j.out;

  // Decoding conceals both and says so.
  const RunResult d = run({"decode", "--format", "packed", path("damaged.g723"), path("out.pcm")});
  EXPECT_EQ(d.status, 0);
  EXPECT_NE(d.err.find("2 of " + std::to_string(frames) + " frames were damaged or cut short"), std::string::npos)
      << d.err;
  EXPECT_EQ(fs::file_size(path("out.pcm")), frames * kFrameSamples * 2);
}

}  // namespace
}  // namespace g7231::app::test
