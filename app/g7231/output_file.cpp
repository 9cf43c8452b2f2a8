#include "app/g7231/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "app/g7231/console.h"

namespace g7231::app {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBufferBytes = 1 << 16;

// Temporaries in progress, for the interrupt handler: each slot holds the path of one, or null. A slot is
// cleared before its string is freed.
std::array<std::atomic<const char*>, 256> g_temporaries{};

int register_temporary(const char* path) {
  for (std::size_t i = 0; i < g_temporaries.size(); ++i) {
    const char* expected = nullptr;
    if (g_temporaries[i].compare_exchange_strong(expected, path)) return static_cast<int>(i);
  }
  return -1;  // more outputs at once than slots: that one is left behind if the program is interrupted
}

void unregister_temporary(int slot) {
  if (slot >= 0) g_temporaries[static_cast<std::size_t>(slot)].store(nullptr);
}

extern "C" void remove_temporaries_and_end(int sig) {
  for (auto& slot : g_temporaries) {
    const char* path = slot.load();
    if (path != nullptr) unlink(path);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

std::string system_reason() { return std::strerror(errno); }

// A fresh name for a temporary beside target: hidden, and marked as ours.
std::string temporary_name(const fs::path& target, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  const auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::string name = ".";
  name.append(target.filename().string());
  name.append(".g7231-").append(std::to_string(getpid()));
  name.append("-").append(std::to_string(counter++));
  name.append("-").append(std::to_string((ticks ^ (attempt * 7919ULL)) % 1000000ULL));
  name.append(".tmp");
  return (target.parent_path() / name).string();
}

}  // namespace

void refuse_same_file(const std::string& input, const std::string& output) {
  if (input == "-" || output == "-") return;
  struct stat in_stat {};
  struct stat out_stat {};
  if (stat(input.c_str(), &in_stat) != 0 || stat(output.c_str(), &out_stat) != 0) return;
  if (in_stat.st_dev == out_stat.st_dev && in_stat.st_ino == out_stat.st_ino) {
    throw Failure(about(output, "is the input file; refusing to overwrite it"));
  }
}

OutputFile::OutputFile(const std::string& path) : name_(display_name(path, true)) {
  buffer_.reserve(kBufferBytes);
  if (path == "-") {
    if (isatty(STDOUT_FILENO) == 1) {
      throw Failure(about(name_, "is a terminal; name an output file or redirect it"));
    }
    fd_ = STDOUT_FILENO;
    owns_fd_ = false;
    return;
  }
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;  // through symbolic links
  if (exists && S_ISDIR(st.st_mode)) throw Failure(about(name_, "is a directory"));
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or FIFO: nothing to rename into, so write it directly.
    fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) throw Failure(about(name_, system_reason()));
    return;
  }
  // Replacing a file by renaming would pass over its write protection: honour it as writing in place would.
  if (exists && access(path.c_str(), W_OK) != 0) throw Failure(about(name_, "cannot write: " + system_reason()));
  std::error_code ec;
  target_ = exists ? fs::canonical(path, ec).string() : path;
  if (ec) target_ = path;
  for (unsigned attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temp_ = temporary_name(fs::path(target_), attempt);
    fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    const std::string reason = system_reason();
    temp_.clear();
    throw Failure(about(name_, "cannot create it: " + reason));
  }
  cleanup_slot_ = register_temporary(temp_.c_str());
  // A file that is replaced keeps its permissions.
  if (exists) (void)fchmod(fd_, st.st_mode & 07777);
}

OutputFile::~OutputFile() { abandon(); }

void OutputFile::abandon() {
  if (fd_ >= 0 && owns_fd_) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) {
    unregister_temporary(cleanup_slot_);
    cleanup_slot_ = -1;
    unlink(temp_.c_str());
    temp_.clear();
  }
}

void OutputFile::flush_buffer() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string reason = n < 0 ? system_reason() : "nothing written";
      buffer_.clear();
      throw Failure(about(name_, "cannot write: " + reason));
    }
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

void OutputFile::write(std::span<const std::uint8_t> bytes) {
  if (buffer_.size() + bytes.size() > kBufferBytes) flush_buffer();
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  if (buffer_.size() >= kBufferBytes) flush_buffer();
}

void OutputFile::commit() {
  try {
    flush_buffer();
  } catch (const Failure&) {
    abandon();
    throw;
  }
  if (owns_fd_) {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
      const std::string reason = system_reason();
      abandon();
      throw Failure(about(name_, "cannot write: " + reason));
    }
  }
  if (!temp_.empty()) {
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
      const std::string reason = system_reason();
      abandon();
      throw Failure(about(name_, "cannot put the output in place: " + reason));
    }
    unregister_temporary(cleanup_slot_);
    cleanup_slot_ = -1;
    temp_.clear();
  }
  fd_ = -1;
}

void install_interrupt_cleanup() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal the caller chose to ignore (nohup, a background job) stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    std::signal(sig, remove_temporaries_and_end);
  }
}

}  // namespace g7231::app
