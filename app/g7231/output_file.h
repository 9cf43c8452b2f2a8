// An output file that appears under its name only when it is complete.
//
// Output goes to a temporary file beside OUT (same directory, so that the final rename stays on one file
// system) and is renamed over OUT only by commit(). An output that is abandoned, because coding failed or
// the program was interrupted, is removed, and whatever was under OUT before stays as it was. Standard
// output, devices and FIFOs cannot be renamed into and are written in place.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace g7231::app {

// Throws Failure when the input and the output name the same existing file (through whatever links).
void refuse_same_file(const std::string& input, const std::string& output);

class OutputFile {
 public:
  // path "-" is standard output, refused when it is a terminal. Throws Failure when the output cannot be
  // created; nothing is created then.
  explicit OutputFile(const std::string& path);
  ~OutputFile();  // removes the temporary unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Buffered writing; throws Failure on a write error. Use either this or fd(), not both.
  void write(std::span<const std::uint8_t> bytes);
  // The open descriptor, for a library that writes by itself (libsndfile); it must not close it.
  int fd() const { return fd_; }
  // The name messages use.
  const std::string& name() const { return name_; }
  // Flushes, closes and renames the file into place; throws Failure (and removes the temporary) if any
  // step fails.
  void commit();

 private:
  void flush_buffer();
  void abandon();

  std::string name_;    // as messages show it
  std::string target_;  // the file that commit() replaces
  std::string temp_;    // the temporary beside it; empty when written in place
  int fd_ = -1;
  bool owns_fd_ = true;
  int cleanup_slot_ = -1;
  std::vector<std::uint8_t> buffer_;
};

// Removes the temporaries of unfinished outputs when the program is ended by SIGINT, SIGTERM or SIGHUP,
// then ends it as the signal would have. Call once, early in main().
void install_interrupt_cleanup();

}  // namespace g7231::app
