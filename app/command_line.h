// The command-line encoder: g7231enc infile outfile.
#pragma once

#include <ctime>

namespace g7231::cli {

// Encodes the raw 16-bit little-endian 8 kHz PCM file named by argv[1] into 20-byte records in the file
// named by argv[2], at 5.3 kbit/s with the high-pass filter and voice activity detection on. Reports
// progress and the elapsed processor time on standard output. Returns the process exit status: 0 on
// success, 1 on any error (wrong argument count, a file that cannot be opened, read or written, input and
// output naming the same file, or an encoder that cannot be created). `g7231enc --version` prints the
// version alone.
int run(int argc, char* argv[]);

// Processor time between two readings of std::clock, in seconds at the clock's own tick rate; 0 when the
// clock is unavailable.
double elapsed_seconds(std::clock_t start, std::clock_t end);

}  // namespace g7231::cli
