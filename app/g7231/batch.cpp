#include "app/g7231/batch.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "app/common/files.h"

namespace g7231::app {

void refuse_same_file(const std::string& in, const std::string& out) {
  if (in != "-" && out != "-" && cli::is_same_file(in, out)) {
    throw Failure(about(out, "is the input file; refusing to overwrite it"));
  }
}

namespace {

namespace fs = std::filesystem;

// Runs code_one and reports a failure on the console; returns the seconds coded, or nothing on failure.
std::optional<double> code_reporting(const std::string& in, const std::string& out, Console& console, bool progress,
                                     const CodeOneFile& code_one) {
  try {
    refuse_same_file(in, out);
    return code_one(in, out, console, progress);
  } catch (const Failure& f) {
    console.error(f.what());
  } catch (const std::exception& e) {
    console.error(about(display_name(in), e.what()));
  }
  return std::nullopt;
}

unsigned default_jobs() { return std::max(1U, std::thread::hardware_concurrency()); }

int run_batch(const FileArguments& args, Console& console, const CodeOneFile& code_one) {
  const std::vector<std::string>& inputs = args.files;
  if (std::find(inputs.begin(), inputs.end(), "-") != inputs.end()) {
    console.error("standard input cannot be part of a batch; name the files");
    return kExitUsage;
  }
  std::error_code ec;
  fs::create_directories(args.output_dir, ec);
  if (!fs::is_directory(args.output_dir)) {
    console.error(about(args.output_dir, ec ? "cannot create it: " + ec.message() : "is not a directory"));
    return kExitFailure;
  }

  // Inputs that would share an output name would overwrite each other: only the first of them is coded.
  std::vector<std::string> outputs;
  std::vector<bool> runnable;
  std::map<std::string, std::string> first_input_of;
  for (const std::string& in : inputs) {
    outputs.push_back(batch_output_name(args.output_dir, in, args.batch_extension));
    const auto [it, fresh] = first_input_of.emplace(outputs.back(), in);
    if (!fresh) console.error(about(in, "its output " + outputs.back() + " is already that of " + it->second));
    runnable.push_back(fresh);
  }

  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> failed{static_cast<std::size_t>(std::count(runnable.begin(), runnable.end(), false))};
  std::mutex progress_mutex;
  double seconds = 0.0;
  std::int64_t finished = 0;
  ProgressLine line(console, "g7231", std::nullopt);
  auto worker = [&] {
    for (std::size_t i = next++; i < inputs.size(); i = next++) {
      std::optional<double> done;
      if (runnable[i]) {
        done = code_reporting(inputs[i], outputs[i], console, false, code_one);
        if (!done) ++failed;
      }
      std::lock_guard lock(progress_mutex);
      seconds += done.value_or(0.0);
      line.update(seconds, ++finished, static_cast<std::int64_t>(inputs.size()));
    }
  };
  const unsigned jobs = static_cast<unsigned>(std::min<std::size_t>(args.jobs > 0 ? args.jobs : default_jobs(),
                                                                    inputs.size()));
  std::vector<std::thread> threads;
  for (unsigned j = 1; j < jobs; ++j) threads.emplace_back(worker);
  worker();
  for (auto& t : threads) t.join();

  if (failed > 0) {
    console.error(std::to_string(failed.load()) + " of " + std::to_string(inputs.size()) + " files failed");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

void add_file_arguments(CLI::App& command, FileArguments& args, const std::string& batch_extension) {
  args.batch_extension = batch_extension;
  const std::string name = "g7231 " + command.get_name();
  command.footer("Usage forms:\n  " + name + " [options] IN OUT\n  " + name +
                 " [options] -o DIR FILE...   (each FILE into DIR/NAME" + batch_extension + ")");
  command.add_option("FILES", args.files, "IN OUT (\"-\": standard input or output), or with -o the input files")
      ->required()
      ->type_name("");
  command.add_option("-o,--output-dir", args.output_dir,
                     "Code every FILE into DIR, naming each output after its input")
      ->type_name("DIR");
  command.add_option("-j,--jobs", args.jobs, "Files coded at once in a batch (default: one per processor core)")
      ->type_name("N")
      ->check(CLI::Range(1U, 1024U).description(""));
}

std::string batch_output_name(const std::string& output_dir, const std::string& input, const std::string& extension) {
  return (fs::path(output_dir) / fs::path(input).stem()).string() + extension;
}

int run_files(const FileArguments& args, const GlobalOptions& global, const CodeOneFile& code_one) {
  Console console(global.quiet);
  if (!args.output_dir.empty()) return run_batch(args, console, code_one);
  if (args.files.size() != 2) {
    console.error("expected IN and OUT, or -o DIR and the input files (see --help)");
    return kExitUsage;
  }
  return code_reporting(args.files[0], args.files[1], console, true, code_one) ? kExitSuccess : kExitFailure;
}

}  // namespace g7231::app
