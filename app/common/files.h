// The files of the command-line programs: input files that close themselves, the check that input and
// output are not one file, and output files that appear under their names only when complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace g7231::cli {

// An open C file, closed when the object goes.
class File {
 public:
  explicit File(std::FILE* f) : f_(f) {}
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }
  // Closes the file now; false when buffered data could not be written.
  bool close();

 private:
  std::FILE* f_;
};

// True when both paths name one existing file (same device and inode, through any links), so that
// writing the output would destroy the input. Names are taken as they stand: "-" is a file called "-".
bool is_same_file(const std::string& input, const std::string& output);

// An output file that appears under its name only when it is complete.
//
// A new name or an existing regular file is written to a temporary file beside it (same directory, so
// that the final rename stays on one file system), which takes the name on commit(), with the mode the
// file had or the one a new file gets. Through a symbolic link the file linked to is replaced, not the
// link. An output that is dropped uncommitted, or whose writing fails, is removed, and so is every
// temporary still open when the program is ended by SIGINT, SIGTERM or SIGHUP (the first temporary
// installs the handlers; a signal the caller ignores stays ignored): the name keeps what it had. Anything
// that cannot be renamed into (a device such as /dev/null, a FIFO, standard output) is written in place.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an uncommitted output is discarded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens path for writing; false, with errno telling why, when it cannot be written: a directory
  // (EISDIR), an existing file the user may not write (its protection is honoured as writing in place
  // would honour it), a directory in which no file can be made.
  bool open(const std::string& path);
  // Writes to standard output, in place; it is flushed but left open by commit().
  void open_standard_output();

  // Buffered writing; false, with errno telling why, on a write error. Use either this or fd(), not both.
  bool write(std::span<const std::uint8_t> bytes);
  // The open descriptor, for a library that writes by itself (libsndfile); it must not close it.
  int fd() const { return fd_; }
  // Writes out what is buffered and puts the file in place under its name; false, with errno telling why,
  // when any of it fails, and then the temporary file is gone.
  bool commit();

 private:
  bool flush_buffer();
  void discard();

  int fd_ = -1;
  bool owns_fd_ = true;
  std::string temporary_;  // empty when writing in place
  std::string target_;     // the name the temporary file takes on commit
  int cleanup_slot_ = -1;  // the temporary's place in the list the signal handler removes
  std::vector<std::uint8_t> buffer_;
};

}  // namespace g7231::cli
