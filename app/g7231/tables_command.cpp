// g7231 tables: check a table-set file, or write the built-in set as one (tools/table_set).
#include <CLI/CLI.hpp>

#include "app/g7231/command.h"
#include "tools/table_set/table_set_commands.h"

namespace g7231::app {
namespace {

class TablesCommand : public Command {
 public:
  explicit TablesCommand(CLI::App& cmd) {
    check_ = cmd.add_subcommand("check", "Check a table-set file: its format, the structure the coder needs, and "
                                         "whether it holds the values published for the standard's set");
    check_->add_option("FILE", check_file_, "The table-set file")->required();
    export_ = cmd.add_subcommand("export", "Write the built-in table set to FILE in the table-set format");
    export_->add_option("FILE", export_file_, "The file to write")->required();
    cmd.require_subcommand(1, 1);
  }

  int run(const GlobalOptions&) override {
    if (check_->parsed()) return tables::check_table_set_command(check_file_.c_str());
    return tables::export_table_set_command(export_file_.c_str());
  }

 private:
  CLI::App* check_ = nullptr;
  CLI::App* export_ = nullptr;
  std::string check_file_;
  std::string export_file_;
};

}  // namespace

CommandEntry add_tables_command(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("tables", "Check a table-set file, or export the built-in set as one");
  return {cmd, std::make_unique<TablesCommand>(*cmd)};
}

}  // namespace g7231::app
