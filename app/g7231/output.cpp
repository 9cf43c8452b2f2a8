#include "app/g7231/output.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "app/g7231/console.h"

namespace g7231::app {
namespace {

// The reason for the last failed call, safe to take from several batch jobs at once.
std::string system_reason() { return std::generic_category().message(errno); }

}  // namespace

Output::Output(const std::string& path) : name_(display_name(path, true)) {
  if (path != "-") {
    if (!file_.open(path)) throw Failure(about(name_, system_reason()));
    return;
  }
  if (isatty(STDOUT_FILENO) == 1) throw Failure(about(name_, "is a terminal; name an output file or redirect it"));
  file_.open_standard_output();
}

void Output::write(std::span<const std::uint8_t> bytes) {
  if (!file_.write(bytes)) throw Failure(about(name_, "cannot write: " + system_reason()));
}

void Output::commit() {
  if (!file_.commit()) throw Failure(about(name_, "cannot write: " + system_reason()));
}

}  // namespace g7231::app
