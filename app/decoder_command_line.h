// The command-line decoder: g7231dec [--no-postfilter] infile outfile.
#pragma once

namespace g7231::cli {

// Decodes the coded-speech records of the file named on the command line (as g7231enc writes them) into
// raw 16-bit little-endian 8 kHz PCM, 240 samples per record, with the postfilter unless --no-postfilter
// is given; --help prints the usage. Messages go to standard error. Returns the process exit status: 0 on
// success, 1 on any error (bad arguments, a file that cannot be opened, read or written, input and output
// naming the same file, or a decoder that cannot be created); a failed run leaves the output's name as it
// was.
int run_decoder(int argc, char* argv[]);

}  // namespace g7231::cli
