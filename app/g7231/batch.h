// The files of a coding subcommand: one input and one output, or a batch of inputs coded into a
// directory, several at once, one coder object per file.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/g7231/command.h"
#include "app/g7231/console.h"

namespace g7231::app {

struct FileArguments {
  std::vector<std::string> files;  // IN OUT, or with output_dir the inputs
  std::string output_dir;          // -o DIR: batch mode
  unsigned jobs = 0;               // --jobs: 0 for one job per processor core
  std::string batch_extension;     // of the outputs in a batch, after the input's stem
};

// Adds the positional files, -o/--output-dir and -j/--jobs to a subcommand, and its usage forms; a batch
// names its outputs DIR/stem + batch_extension.
void add_file_arguments(CLI::App& command, FileArguments& args, const std::string& batch_extension);

// Codes in into out and returns the seconds of audio coded; throws Failure naming the file and the reason.
// progress: show a progress line for this file.
using CodeOneFile =
    std::function<double(const std::string& in, const std::string& out, Console& console, bool progress)>;

// The output name of a batch input: DIR/stem + extension.
std::string batch_output_name(const std::string& output_dir, const std::string& input, const std::string& extension);

// Throws Failure when in and out name one file (standard input and output aside).
void refuse_same_file(const std::string& in, const std::string& out);

// Runs the files: IN into OUT, or every input into its batch output name. In a batch a failing file is
// reported and the rest go on. Input and output naming the same file is refused. Returns the exit status:
// success only when every file was coded.
int run_files(const FileArguments& args, const GlobalOptions& global, const CodeOneFile& code_one);

}  // namespace g7231::app
