#include "app/g7231/console.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace g7231::app {

std::string display_name(const std::string& path, bool output) {
  if (path == "-") return output ? "standard output" : "standard input";
  return path;
}

std::string about(const std::string& path, const std::string& reason) { return path + ": " + reason; }

Console::Console(bool quiet) : Console(quiet, isatty(STDERR_FILENO) == 1) {}

Console::Console(bool quiet, bool terminal) : quiet_(quiet), terminal_(terminal) {}

void Console::print_locked(const std::string& message) {
  const bool had_line = !line_.empty();
  if (had_line) std::fprintf(stderr, "\r%*s\r", static_cast<int>(line_.size()), "");
  std::fprintf(stderr, "g7231: %s\n", message.c_str());
  if (had_line) std::fprintf(stderr, "%s", line_.c_str());
  std::fflush(stderr);
}

void Console::error(const std::string& message) {
  std::lock_guard lock(mutex_);
  print_locked(message);
}

void Console::note(const std::string& message) {
  if (quiet_) return;
  std::lock_guard lock(mutex_);
  print_locked(message);
}

void Console::progress(const std::string& line, bool force) {
  if (!shows_progress()) return;
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  if (!force && !line_.empty() && now - last_draw_ < std::chrono::milliseconds(200)) return;
  last_draw_ = now;
  // Pad with blanks over the remains of a longer previous line.
  const int pad = line_.size() > line.size() ? static_cast<int>(line_.size() - line.size()) : 0;
  std::fprintf(stderr, "\r%s%*s", line.c_str(), pad, "");
  if (pad > 0) std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  line_ = line;
}

void Console::clear_progress() {
  if (!shows_progress()) return;
  std::lock_guard lock(mutex_);
  if (line_.empty()) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(line_.size()), "");
  std::fflush(stderr);
  line_.clear();
}

ProgressLine::ProgressLine(Console& console, std::string label, std::optional<double> total_seconds)
    : console_(console), label_(std::move(label)), total_(total_seconds), start_(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() { console_.clear_progress(); }

void ProgressLine::update(double seconds_done, std::int64_t items_done, std::int64_t items_total) {
  if (!console_.shows_progress()) return;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char text[160];
  int n = std::snprintf(text, sizeof text, "%s", label_.c_str());
  auto append = [&](const char* fmt, auto... args) {
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof text) {
      n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), fmt, args...);
    }
  };
  if (items_total > 0) {
    append("  %lld/%lld files", static_cast<long long>(items_done), static_cast<long long>(items_total));
    append("  %3.0f%%", 100.0 * static_cast<double>(items_done) / static_cast<double>(items_total));
  } else if (total_ && *total_ > 0.0) {
    const double share = seconds_done < *total_ ? seconds_done / *total_ : 1.0;
    append("  %3.0f%%", 100.0 * share);
  } else {
    append("  %.1f s", seconds_done);
  }
  if (wall > 0.05) append("  %.0fx real time", seconds_done / wall);
  console_.progress(text);
}

}  // namespace g7231::app
