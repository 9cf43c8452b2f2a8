// The subcommands of g7231. Each lives in its own source unit and adds itself to the command line with one
// function; main() asks each in turn and runs the one the user chose. A new subcommand is one more unit
// and one more entry in main()'s list; options that concern every subcommand belong in GlobalOptions.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

namespace g7231::app {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // a file could not be coded, or the input is unusable
inline constexpr int kExitUsage = 2;    // the command line itself is wrong

// Options given before or after the subcommand's name.
struct GlobalOptions {
  bool quiet = false;  // no notes and no progress line; errors are still reported
};

class Command {
 public:
  virtual ~Command() = default;
  // Runs the command with the options parsed into it; returns the exit status.
  virtual int run(const GlobalOptions& global) = 0;
};

struct CommandEntry {
  CLI::App* cli = nullptr;  // the subcommand's parser, to tell whether it was chosen
  std::unique_ptr<Command> command;
};

// Adds the subcommand `name` to app, its options read into a C made from the subcommand's parser.
template <class C>
CommandEntry add_command(CLI::App& app, const std::string& name, const std::string& description) {
  CLI::App* parser = app.add_subcommand(name, description);
  return {parser, std::make_unique<C>(*parser)};
}

CommandEntry add_encode_command(CLI::App& app);
CommandEntry add_decode_command(CLI::App& app);
CommandEntry add_info_command(CLI::App& app);
CommandEntry add_tables_command(CLI::App& app);

}  // namespace g7231::app
