#include "tools/table_set/table_set_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <span>
#include <sstream>
#include <string>

#include "app/common/files.h"
#include "codec/tables/builtin_table_set.h"
#include "codec/tables/table_set_file.h"
#include "g7231/version.h"
#include "tools/table_set/validation.h"

namespace g7231::tables {
namespace {

void report(const char* title, const std::vector<Check>& checks) {
  int failed = 0;
  for (const auto& c : checks) failed += c.ok ? 0 : 1;
  std::printf("%s: %s (%zu checks, %d failed)\n", title, failed == 0 ? "yes" : "no", checks.size(), failed);
  for (const auto& c : checks) {
    std::printf("  %-4s %s%s%s\n", c.ok ? "ok" : "FAIL", c.what.c_str(), c.ok ? "" : ": ", c.detail.c_str());
  }
}

}  // namespace

int check_table_set_command(const char* path) {
  auto set = std::make_unique<TableSet>(kBuiltinTableSet);
  if (path != nullptr) {
    std::ifstream in(path);
    std::string message;
    const TableSetLoad r = in ? parse_table_set(in, path, *set, message) : TableSetLoad::unreadable;
    if (r != TableSetLoad::ok) {
      std::fprintf(stderr, "Error: %s\n", in ? message.c_str() : (std::string(path) + ": " + std::strerror(errno)).c_str());
      return 1;
    }
    std::printf("%s: in the table-set format\n", path);
  } else {
    std::printf("the built-in set\n");
  }
  const auto structure = check_structure(set->view());
  report("Structure the encoder needs", structure);
  report("Holds every value published for the standard's set", check_published_values(set->view()));
  return all_ok(structure) ? 0 : 1;
}

int export_table_set_command(const char* path) {
  std::ostringstream text;
  write_table_set(text,
                  kBuiltinTableSet,
                  std::string("The table set built into g7231 ") + G7231_VERSION_STRING +
                      ", written by `g7231 tables export`.\n"
                      "Load it with `g7231 encode --tables FILE` and `g7231 decode --tables FILE`, or\n"
                      "g7231_table_set_load() of <g7231/g7231.h>; check it with `g7231 tables check FILE`.\n"
                      "One section per table: [name], then one row per line of whitespace-separated integers;\n"
                      "'#' starts a comment. Streams decode correctly only with the set they were coded with.");
  const std::string bytes = text.str();
  cli::OutputFile out;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  if (!out.open(path) || !out.write(std::span(data, bytes.size())) || !out.commit()) {
    std::fprintf(stderr, "Error writing %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace g7231::tables
