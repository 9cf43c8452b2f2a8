// What g7231 tells its user on standard error: errors, notes and, on a terminal, one progress line.
//
// Standard output carries only data (coded frames, speech, the info report), so that it can feed a pipe.
// Every message names the file it is about. Several jobs of a batch may report at once; the console
// serialises them and keeps the progress line below the messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace g7231::app {

// A failure that ends the coding of one file; what() is the complete message, naming the file.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "NAME: reason", with standard input and output called by name.
std::string about(const std::string& path, const std::string& reason);

// The name a path is reported under: "standard input"/"standard output" for "-".
std::string display_name(const std::string& path, bool output = false);

class Console {
 public:
  // quiet: notes and the progress line are suppressed; errors are always printed. The progress line is
  // also suppressed when standard error is not a terminal.
  explicit Console(bool quiet);
  Console(bool quiet, bool terminal);

  void error(const std::string& message);
  void note(const std::string& message);
  // Replaces the progress line; limited to a few redraws a second unless force is set.
  void progress(const std::string& line, bool force = false);
  void clear_progress();

  bool quiet() const { return quiet_; }
  bool shows_progress() const { return terminal_ && !quiet_; }

 private:
  void print_locked(const std::string& message);

  std::mutex mutex_;
  bool quiet_;
  bool terminal_;
  std::string line_;  // the progress line now shown, empty when none
  std::chrono::steady_clock::time_point last_draw_{};
};

// The progress of one run: share done and speed as a multiple of real time, shown on the console.
class ProgressLine {
 public:
  // total_seconds: the audio to code, when known; the line then shows a percentage.
  ProgressLine(Console& console, std::string label, std::optional<double> total_seconds);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Audio seconds coded so far; items counts finished files in a batch (shown when items_total > 0).
  void update(double seconds_done, std::int64_t items_done = 0, std::int64_t items_total = 0);
  void set_total(std::optional<double> total_seconds) { total_ = total_seconds; }

 private:
  Console& console_;
  std::string label_;
  std::optional<double> total_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace g7231::app
