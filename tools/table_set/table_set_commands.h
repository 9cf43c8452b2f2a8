// The table-set commands of the programs (g7231tables, and `g7231 tables`): checking a set and writing the
// built-in one as a text file (codec/tables/table_set_file.h).
#pragma once

namespace g7231::tables {

// Reports on the set in the file at path (the built-in set when path is null): first whether it is in the
// text format, then every check of the structure the encoder needs and, separately, whether it holds the
// values published for the standard's set. Returns the exit status: 0 when the set is readable and has the
// structure, 1 otherwise (messages on standard error); the published values do not affect it.
int check_table_set_command(const char* path);

// Writes the built-in set to the file at path in the text format; the file takes its name only when it is
// complete. Returns the exit status: 0, or 1 with a message on standard error.
int export_table_set_command(const char* path);

}  // namespace g7231::tables
