// Output files that appear under their names only when complete: what the name holds before and after,
// the mode kept, links followed, devices written in place, refusals, and interrupts.
#include "app/common/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/app/program_runner.h"

namespace g7231::cli {
namespace {

std::span<const std::uint8_t> bytes_of(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void write_text(const fs::path& p, const std::string& text) { write_file(p, {text.begin(), text.end()}); }

bool write_and_commit(OutputFile& f, const std::string& text) { return f.write(bytes_of(text)) && f.commit(); }

using OutputFileTest = ProgramTest;

// Until commit the name keeps what it had; then it holds the new contents, and nothing else is left in
// the directory.
TEST_F(OutputFileTest, AppearsOnlyWhenCommitted) {
  write_text(path("out"), "old");
  {
    OutputFile f;
    ASSERT_TRUE(f.open(path("out")));
    ASSERT_TRUE(f.write(bytes_of("new")));
    EXPECT_EQ(read_text(path("out")), "old");
  }  // dropped without commit
  EXPECT_EQ(listing(), std::vector<std::string>{"out"});
  EXPECT_EQ(read_text(path("out")), "old");
  {
    OutputFile f;
    ASSERT_TRUE(f.open(path("out")));
    ASSERT_TRUE(write_and_commit(f, "new"));
  }
  EXPECT_EQ(read_text(path("out")), "new");
  EXPECT_EQ(listing(), std::vector<std::string>{"out"});
}

// Small writes around one larger than the buffer arrive whole and in order.
TEST_F(OutputFileTest, WritesOfAnySizeKeepTheirOrder) {
  std::string expected;
  OutputFile f;
  ASSERT_TRUE(f.open(path("out")));
  for (const std::size_t size : {std::size_t{3}, std::size_t{70000}, std::size_t{65533}, std::size_t{5}}) {
    const std::string piece(size, static_cast<char>('a' + expected.size() % 26));
    ASSERT_TRUE(f.write(bytes_of(piece)));
    expected += piece;
  }
  ASSERT_TRUE(f.commit());
  EXPECT_EQ(read_text(path("out")), expected);
}

TEST_F(OutputFileTest, KeepsModeAndLinks) {
  write_text(path("target"), "old");
  fs::permissions(path("target"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(path("target"), path("link"));
  fs::create_symlink("missing", path("dangling"));
  for (const char* name : {"link", "dangling"}) {
    OutputFile f;
    ASSERT_TRUE(f.open(path(name))) << name;
    ASSERT_TRUE(write_and_commit(f, name)) << name;
  }
  EXPECT_TRUE(fs::is_symlink(path("link")));
  EXPECT_EQ(read_text(path("target")), "link");
  EXPECT_EQ(fs::status(path("target")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // A link to a file not made yet: the file is made where the link points.
  EXPECT_TRUE(fs::is_symlink(path("dangling")));
  EXPECT_EQ(read_text(path("missing")), "dangling");
}

TEST_F(OutputFileTest, NewFileGetsTheModeTheUmaskAllows) {
  const mode_t old_mask = umask(027);
  OutputFile f;
  const bool opened = f.open(path("new"));
  umask(old_mask);
  ASSERT_TRUE(opened);
  ASSERT_TRUE(write_and_commit(f, "x"));
  EXPECT_EQ(fs::status(path("new")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// A directory, a directory that is not there, and a write-protected file are refused with the reason, and
// nothing is made; a device is written in place, and its write error comes at the latest from commit().
TEST_F(OutputFileTest, RefusalsAndDevices) {
  write_text(path("protected"), "old");
  fs::permissions(path("protected"), fs::perms::owner_read);
  struct Case {
    std::string path;
    int error;
  };
  std::vector<Case> cases = {{dir_.string(), EISDIR}, {path("nowhere/out"), ENOENT}, {"", ENOENT}};
  if (geteuid() != 0) cases.push_back({path("protected"), EACCES});  // root may write any file
  for (const Case& c : cases) {
    OutputFile f;
    errno = 0;
    EXPECT_FALSE(f.open(c.path)) << c.path;
    EXPECT_EQ(errno, c.error) << c.path;
  }
  EXPECT_EQ(listing(), std::vector<std::string>{"protected"});
  EXPECT_EQ(read_text(path("protected")), "old");

  OutputFile null;
  ASSERT_TRUE(null.open("/dev/null"));
  EXPECT_TRUE(write_and_commit(null, "discarded"));
  if (fs::exists("/dev/full")) {
    OutputFile full;
    ASSERT_TRUE(full.open("/dev/full"));
    errno = 0;
    EXPECT_FALSE(write_and_commit(full, "no room"));
    EXPECT_EQ(errno, ENOSPC);
  }
}

// A signal that ends the program removes the temporary and still ends it; one the caller ignores stays
// ignored.
TEST_F(OutputFileTest, InterruptRemovesTheTemporary) {
  write_text(path("out"), "old");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGHUP, SIG_IGN);
    OutputFile f;
    if (!f.open(path("out")) || !f.write(bytes_of("partial")) || !f.commit() || !f.open(path("out")) ||
        !f.write(bytes_of("unfinished"))) {
      _exit(10);
    }
    std::raise(SIGHUP);
    std::raise(SIGTERM);
    _exit(11);  // not reached when SIGTERM ends the program
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(listing(), std::vector<std::string>{"out"});
  EXPECT_EQ(read_text(path("out")), "partial");
}

}  // namespace
}  // namespace g7231::cli
