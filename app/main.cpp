#include "app/command_line.h"

int main(int argc, char* argv[]) { return g7231::cli::run(argc, argv); }
