#include "app/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace g7231::cli {

void samples_from_bytes(std::span<const std::uint8_t, kPcmFrameBytes> bytes,
                        std::span<std::int16_t, kFrameSamples> samples) {
  for (std::size_t i = 0; i < kFrameSamples; ++i) {
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
}

void bytes_from_samples(std::span<const std::int16_t, kFrameSamples> samples,
                        std::span<std::uint8_t, kPcmFrameBytes> bytes) {
  for (std::size_t i = 0; i < kFrameSamples; ++i) {
    const auto u = static_cast<std::uint16_t>(samples[i]);
    bytes[2 * i] = static_cast<std::uint8_t>(u & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
  }
}

File::~File() {
  if (f_ != nullptr) std::fclose(f_);
}

bool File::close() {
  std::FILE* f = f_;
  f_ = nullptr;
  return std::fclose(f) == 0;
}

bool is_same_file(std::FILE* input, const char* output) {
  struct stat in_stat {};
  struct stat out_stat {};
  if (fstat(fileno(input), &in_stat) != 0 || stat(output, &out_stat) != 0) return false;
  return in_stat.st_dev == out_stat.st_dev && in_stat.st_ino == out_stat.st_ino;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  const int saved = errno;
  if (f_ != nullptr) std::fclose(f_);
  f_ = nullptr;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  errno = saved;
}

bool OutputFile::open(const char* path) {
  discard();
  struct stat st {};
  const bool exists = stat(path, &st) == 0;
  struct stat link {};
  const bool dangling_link = !exists && lstat(path, &link) == 0;
  if ((exists && !S_ISREG(st.st_mode)) || dangling_link) {
    f_ = std::fopen(path, "wb");
    return f_ != nullptr;
  }

  mode_t mode;
  if (exists) {
    // The file keeps its mode, and one the user may not write stays as it is, as it would when opened
    // for writing. Through a symbolic link the file linked to is replaced, not the link.
    if (access(path, W_OK) != 0) return false;
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr) return false;
    target_ = resolved;
    std::free(resolved);
    mode = st.st_mode & 07777;
  } else {
    target_ = path;
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  std::string name = target_ + ".XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  temporary_ = name;
  if (fchmod(fd, mode) == 0) f_ = fdopen(fd, "wb");
  if (f_ == nullptr) {
    const int error = errno;
    ::close(fd);
    discard();
    errno = error;
    return false;
  }
  return true;
}

bool OutputFile::commit() {
  if (f_ == nullptr) return false;
  std::FILE* f = f_;
  f_ = nullptr;
  bool ok = std::fflush(f) == 0;
  int error = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && !temporary_.empty() && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    discard();
    errno = error;
    return false;
  }
  temporary_.clear();
  return true;
}

}  // namespace g7231::cli
