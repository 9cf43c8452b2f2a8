// g7231tables: validates the table set built into the encoder. Exit status 0 when the set has the structure
// the encoder needs (whatever its values), 1 when it does not. Whether the set holds the values published
// for the standard's set is reported separately and does not affect the status.
#include <cstdio>
#include <cstring>

#include "g7231/version.h"
#include "tools/table_set/validation.h"

namespace {

void report(const char* title, const std::vector<g7231::tables::Check>& checks) {
  int failed = 0;
  for (const auto& c : checks) failed += c.ok ? 0 : 1;
  std::printf("%s: %s (%zu checks, %d failed)\n", title, failed == 0 ? "yes" : "no", checks.size(), failed);
  for (const auto& c : checks) {
    std::printf("  %-4s %s%s%s\n", c.ok ? "ok" : "FAIL", c.what.c_str(), c.ok ? "" : ": ", c.detail.c_str());
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("g7231tables %s\n", G7231_VERSION_STRING);
    return 0;
  }
  const g7231::tables::TableSetView set = g7231::tables::builtin_table_set();
  const auto structure = g7231::tables::check_structure(set);
  const auto published = g7231::tables::check_published_values(set);
  report("Structure the encoder needs", structure);
  report("Holds every value published for the standard's set", published);
  return g7231::tables::all_ok(structure) ? 0 : 1;
}
