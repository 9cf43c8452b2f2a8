// Where g7231 writes the result of coding one file: an OutputFile (complete under its name, or not
// there at all) with "-" as standard output, and every failure thrown as a Failure naming the output.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "app/common/files.h"

namespace g7231::app {

class Output {
 public:
  // path "-" is standard output, refused when it is a terminal. Throws Failure when the output cannot be
  // made; nothing is made then.
  explicit Output(const std::string& path);

  // Buffered writing; throws Failure on a write error. Use either this or fd(), not both.
  void write(std::span<const std::uint8_t> bytes);
  // The open descriptor, for a library that writes by itself (libsndfile); it must not close it.
  int fd() const { return file_.fd(); }
  // The name messages use.
  const std::string& name() const { return name_; }
  // Puts the output in place; throws Failure (and the output is gone) if that fails.
  void commit();

 private:
  std::string name_;
  cli::OutputFile file_;
};

}  // namespace g7231::app
