#include "app/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/app/program_runner.h"

namespace g7231::cli {
namespace {

TEST(PcmBytes, SamplesAreLittleEndianBothWays) {
  const std::array<std::uint8_t, 8> head = {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
  const std::array<std::int16_t, 4> values = {0x1234, -1, -32768, 32767};
  std::array<std::uint8_t, kPcmFrameBytes> bytes{};
  std::copy(head.begin(), head.end(), bytes.begin());
  bytes[kPcmFrameBytes - 2] = 0x01;  // last sample
  std::array<std::int16_t, kFrameSamples> samples;
  samples.fill(99);
  samples_from_bytes(bytes, samples);
  EXPECT_TRUE(std::equal(values.begin(), values.end(), samples.begin()));
  EXPECT_EQ(samples[4], 0);
  EXPECT_EQ(samples[kFrameSamples - 1], 1);

  std::array<std::uint8_t, kPcmFrameBytes> back;
  back.fill(0xAA);
  bytes_from_samples(samples, back);
  EXPECT_EQ(back, bytes);
}

std::string text_of(const fs::path& p) {
  const std::vector<unsigned char> bytes = read_file(p);
  return {bytes.begin(), bytes.end()};
}

void write_text(const fs::path& p, const std::string& text) { write_file(p, {text.begin(), text.end()}); }

bool write_and_commit(OutputFile& f, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), f.get()) == text.size() && f.commit();
}

using OutputFileTest = ProgramTest;

// Until commit the name keeps what it had; then it holds the new contents, and nothing else is left in
// the directory.
TEST_F(OutputFileTest, AppearsOnlyWhenCommitted) {
  write_text(path("out"), "old");
  {
    OutputFile f;
    ASSERT_TRUE(f.open(str("out").c_str()));
    ASSERT_EQ(std::fputs("new", f.get()), 1);
    ASSERT_EQ(std::fflush(f.get()), 0);
    EXPECT_EQ(text_of(path("out")), "old");
  }  // dropped without commit
  EXPECT_EQ(text_of(path("out")), "old");
  {
    OutputFile f;
    ASSERT_TRUE(f.open(str("out").c_str()));
    ASSERT_TRUE(write_and_commit(f, "new"));
  }
  EXPECT_EQ(text_of(path("out")), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(OutputFileTest, KeepsModeAndLinks) {
  write_text(path("target"), "old");
  fs::permissions(path("target"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(path("target"), path("link"));
  OutputFile f;
  ASSERT_TRUE(f.open(str("link").c_str()));
  ASSERT_TRUE(write_and_commit(f, "new"));
  EXPECT_TRUE(fs::is_symlink(path("link")));
  EXPECT_EQ(text_of(path("target")), "new");
  EXPECT_EQ(fs::status(path("target")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(OutputFileTest, NewFileGetsTheModeTheUmaskAllows) {
  const mode_t old_mask = umask(027);
  OutputFile f;
  const bool opened = f.open(str("new").c_str());
  umask(old_mask);
  ASSERT_TRUE(opened);
  ASSERT_TRUE(write_and_commit(f, "x"));
  EXPECT_EQ(fs::status(path("new")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(OutputFileTest, ReadOnlyFileIsNotReplaced) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
  write_text(path("out"), "old");
  fs::permissions(path("out"), fs::perms::owner_read);
  OutputFile f;
  EXPECT_FALSE(f.open(str("out").c_str()));
  EXPECT_EQ(text_of(path("out")), "old");
}

}  // namespace
}  // namespace g7231::cli
