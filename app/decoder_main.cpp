#include "app/decoder_command_line.h"

int main(int argc, char* argv[]) { return g7231::cli::run_decoder(argc, argv); }
