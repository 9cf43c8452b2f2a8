#include "app/g7231/table_set_option.h"

#include <CLI/CLI.hpp>

#include "app/g7231/console.h"
#include "codec/tables/table_set_file.h"

namespace g7231::app {

void add_tables_option(CLI::App& cmd, std::string& path) {
  cmd.add_option("--tables", path,
                 "Code with the table set in FILE (g7231 tables export writes one) instead of the built-in set; "
                 "a stream decodes correctly only with the set it was coded with")
      ->type_name("FILE");
}

bool load_tables_option(const std::string& path, const GlobalOptions& global, std::shared_ptr<const TableSet>& set) {
  set.reset();
  if (path.empty()) return true;
  auto loaded = std::make_shared<TableSet>();
  std::string message;
  if (load_table_set(path, *loaded, message) != TableSetLoad::ok) {
    Console(global.quiet).error(message);
    return false;
  }
  set = std::move(loaded);
  return true;
}

}  // namespace g7231::app
