// Running a built program as a user would, in a directory of its own, and looking at what it printed,
// wrote and returned.
#pragma once

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

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

// Runs program with args (argv[0] being the program as named), its standard output and error captured
// in unnamed temporary files, so that nothing appears in the directory under test.
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

inline std::vector<unsigned char> read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const fs::path& p, const std::vector<unsigned char>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Little-endian bytes of the samples.
inline std::vector<unsigned char> pcm_bytes(const std::vector<std::int16_t>& samples) {
  std::vector<unsigned char> bytes;
  for (std::int16_t s : samples) {
    bytes.push_back(static_cast<unsigned char>(s & 0xFF));
    bytes.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
  }
  return bytes;
}

// A fresh temporary directory for each test, removed afterwards.
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
    fs::remove_all(dir_, ec);
  }
  fs::path path(const std::string& name) const { return dir_ / name; }
  std::string str(const std::string& name) const { return path(name).string(); }

  fs::path dir_;
};

}  // namespace g7231
