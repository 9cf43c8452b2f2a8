// g7231tables: checks a table set, the one built into the encoder or one in a text file, and writes the
// built-in set as a text file.
//
//   g7231tables                 checks the built-in set
//   g7231tables check FILE      checks the set in FILE
//   g7231tables export FILE     writes the built-in set to FILE
//
// A check's exit status is 0 when the set has the structure the encoder needs (whatever its values), 1 when
// it does not or cannot be read. Whether the set holds the values published for the standard's set is
// reported separately and does not affect the status.
#include <cstdio>
#include <cstring>

#include "g7231/version.h"
#include "tools/table_set/table_set_commands.h"

int main(int argc, char* argv[]) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("g7231tables %s\n", G7231_VERSION_STRING);
    return 0;
  }
  if (argc == 1) return g7231::tables::check_table_set_command(nullptr);
  if (argc == 3 && std::strcmp(argv[1], "check") == 0) return g7231::tables::check_table_set_command(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "export") == 0) return g7231::tables::export_table_set_command(argv[2]);
  std::fprintf(stderr, "Usage: g7231tables [check FILE | export FILE | --version]\n");
  return 2;
}
