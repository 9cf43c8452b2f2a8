// Running a built program as a user would, in a scratch directory of its own, and looking at what it
// printed, wrote and returned.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/common/pcm_conversion.h"

extern char** environ;

namespace g7231 {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;  // everything printed on standard output
  std::string err;  // everything printed on standard error
};

namespace detail {

struct CloseFile {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using TempFile = std::unique_ptr<std::FILE, CloseFile>;

inline std::string contents(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

}  // namespace detail

// Runs program with args (argv[0] being the program as named) and no standard input (/dev/null), its
// standard output and error captured in unnamed temporary files, so that nothing appears in the
// directory under test.
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args) {
  RunResult r;
  const detail::TempFile out(std::tmpfile());
  const detail::TempFile err(std::tmpfile());
  if (!out || !err) return r;
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(out.get()), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fileno(err.get()), STDERR_FILENO);
  pid_t pid;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return r;
  int st = 0;
  if (waitpid(pid, &st, 0) != pid) return r;
  if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
  r.out = detail::contents(out.get());
  r.err = detail::contents(err.get());
  return r;
}

// s quoted for the shell.
inline std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command line (a pipeline, say), capturing its standard output and error.
inline RunResult run_shell(const std::string& command_line) { return run_program("/bin/sh", {"-c", command_line}); }

inline std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::uint8_t> read_file(const fs::path& p) {
  const std::string s = read_text(p);
  return {s.begin(), s.end()};
}

inline void write_file(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The bytes of the samples in a raw PCM file.
inline std::vector<std::uint8_t> pcm_bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> bytes(2 * samples.size());
  cli::bytes_from_samples(samples, bytes);
  return bytes;
}

// The samples of a raw PCM file's bytes; an odd last byte is left out.
inline std::vector<std::int16_t> pcm_samples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  cli::samples_from_bytes(bytes, samples);
  return samples;
}

// A fresh scratch directory for each test, removed afterwards whatever permissions the test left in it.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "g7231-program-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const auto& e : fs::recursive_directory_iterator(dir_, ec)) {
      if (!e.is_symlink()) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(dir_, ec);
  }

  // The path of a name in the scratch directory.
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // The names in the scratch directory, sorted.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

}  // namespace g7231
