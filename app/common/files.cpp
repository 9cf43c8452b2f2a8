#include "app/common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <system_error>

namespace g7231::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBufferBytes = 1 << 16;

// Temporaries in progress, for the signal handler: each slot holds the path of one, or null. A slot is
// cleared before its string is freed. Batches write several outputs at once, one per job.
std::array<std::atomic<const char*>, 256> g_temporaries{};
static_assert(std::atomic<const char*>::is_always_lock_free, "the signal handler reads the slots");

extern "C" void remove_temporaries_and_end(int sig) {
  for (auto& slot : g_temporaries) {
    const char* path = slot.load();
    if (path != nullptr) unlink(path);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void install_interrupt_cleanup() {
  static const bool installed = [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      // A signal the caller chose to ignore (nohup, a background job) stays ignored.
      if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
      std::signal(sig, remove_temporaries_and_end);
    }
    return true;
  }();
  (void)installed;
}

int register_temporary(const char* path) {
  install_interrupt_cleanup();
  for (std::size_t i = 0; i < g_temporaries.size(); ++i) {
    const char* expected = nullptr;
    if (g_temporaries[i].compare_exchange_strong(expected, path)) return static_cast<int>(i);
  }
  return -1;  // more outputs at once than slots: that one is left behind if the program is interrupted
}

void unregister_temporary(int slot) {
  if (slot >= 0) g_temporaries[static_cast<std::size_t>(slot)].store(nullptr);
}

// The file that writing to path reaches: path with the symbolic links of its last part followed, whether
// or not the file at their end exists yet. False, with errno set, for a loop of links.
bool follow_links(std::string& path) {
  fs::path p = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) {
      path = p.string();
      return true;
    }
    const fs::path to = fs::read_symlink(p, ec);
    if (ec) {
      errno = ec.value();
      return false;
    }
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  errno = ELOOP;
  return false;
}

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A fresh name for a temporary beside target: hidden, and marked as a program's own.
std::string temporary_name(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  std::string name = ".";
  name.append(target.filename().string());
  name.append(".g7231-").append(std::to_string(getpid()));
  name.append("-").append(std::to_string(counter++)).append(".tmp");
  return (target.parent_path() / name).string();
}

}  // namespace

File::~File() {
  if (f_ != nullptr) std::fclose(f_);
}

bool File::close() {
  std::FILE* f = f_;
  f_ = nullptr;
  return std::fclose(f) == 0;
}

bool is_same_file(const std::string& input, const std::string& output) {
  struct stat in_stat {};
  struct stat out_stat {};
  if (stat(input.c_str(), &in_stat) != 0 || stat(output.c_str(), &out_stat) != 0) return false;
  return in_stat.st_dev == out_stat.st_dev && in_stat.st_ino == out_stat.st_ino;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  const int saved = errno;
  if (fd_ >= 0 && owns_fd_) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) {
    unregister_temporary(cleanup_slot_);
    cleanup_slot_ = -1;
    unlink(temporary_.c_str());
    temporary_.clear();
  }
  buffer_.clear();
  errno = saved;
}

void OutputFile::open_standard_output() {
  discard();
  fd_ = STDOUT_FILENO;
  owns_fd_ = false;
}

bool OutputFile::open(const std::string& path) {
  discard();
  owns_fd_ = true;
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  target_ = path;
  if (!follow_links(target_)) return false;
  struct stat st {};
  const bool exists = stat(target_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or FIFO: nothing to rename into, so write it directly.
    fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    return fd_ >= 0;
  }
  // Replacing a file by renaming would pass over its write protection: honour it as writing in place would.
  if (exists && access(target_.c_str(), W_OK) != 0) return false;

  // A new file gets the mode the umask allows, from open() itself: asking for the umask would change it
  // for a moment under the other jobs of a batch.
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_ = temporary_name(target_);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    const int error = errno;
    temporary_.clear();
    errno = error;
    return false;
  }
  cleanup_slot_ = register_temporary(temporary_.c_str());
  // A file that is replaced keeps its mode.
  if (exists && fchmod(fd_, st.st_mode & 07777) != 0) {
    const int error = errno;
    discard();
    errno = error;
    return false;
  }
  return true;
}

bool OutputFile::flush_buffer() {
  const bool ok = write_all(fd_, buffer_);
  buffer_.clear();
  return ok;
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  if (buffer_.size() + bytes.size() > kBufferBytes && !flush_buffer()) return false;
  if (bytes.size() >= kBufferBytes) return write_all(fd_, bytes);
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return true;
}

bool OutputFile::commit() {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  bool ok = flush_buffer();
  if (ok && owns_fd_) {
    const int fd = fd_;
    fd_ = -1;
    ok = ::close(fd) == 0;
  }
  if (ok && !temporary_.empty()) ok = std::rename(temporary_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    discard();
    return false;
  }
  unregister_temporary(cleanup_slot_);
  cleanup_slot_ = -1;
  temporary_.clear();
  fd_ = -1;
  return true;
}

}  // namespace g7231::cli
