// --tables FILE of encode and decode: code with a table set read from a text file instead of the built-in
// one. The file is read and checked once, before any input is coded.
#pragma once

#include <memory>
#include <string>

#include "app/g7231/command.h"
#include "codec/tables/table_set_types.h"

namespace CLI {
class App;
}

namespace g7231::app {

void add_tables_option(CLI::App& cmd, std::string& path);

// The set in the file at path, or null for an empty path (the built-in set). A file that cannot be read
// or fails its checks is reported, naming the line, table and row at fault, and gives false.
bool load_tables_option(const std::string& path, const GlobalOptions& global, std::shared_ptr<const TableSet>& set);

}  // namespace g7231::app
