// g7231: encode audio files, decode frames, inspect frame files, code batches of files.
#include <CLI/CLI.hpp>
#include <sndfile.h>
#include <soxr.h>

#include <cstdio>
#include <exception>
#include <vector>

#include "app/g7231/command.h"
#include "g7231/version.h"

namespace {

std::string version_text() {
  return std::string("g7231 ") + G7231_VERSION_STRING + "\nwith " + sf_version_string() + " and " + soxr_version();
}

int run(int argc, char** argv) {
  using namespace g7231::app;
  CLI::App app{"Encode, decode and inspect speech in the dual-rate 5.3/6.3 kbit/s coder's frames.", "g7231"};
  app.set_version_flag("--version", version_text());
  GlobalOptions global;
  app.add_flag("-q,--quiet", global.quiet, "No notes and no progress line; errors are still reported");
  app.require_subcommand(1, 1);
  app.fallthrough();  // global options may follow the subcommand's name
  app.footer("Run g7231 COMMAND --help for a command's options. Exit status: 0 success, 1 failure, 2 usage.");

  std::vector<CommandEntry> commands;
  for (auto add : {add_encode_command, add_decode_command, add_info_command, add_tables_command}) commands.push_back(add(app));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitSuccess : kExitUsage;
  }
  for (CommandEntry& c : commands) {
    if (c.cli->parsed()) return c.command->run(global);
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "g7231: %s\n", e.what());
    return g7231::app::kExitFailure;
  }
}
