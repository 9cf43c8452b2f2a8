// Checks of a table set: the structure every set must have for the encoder to work as designed, and,
// separately, whether it holds the values published for the standard's set (the quoted rows, first and
// last entries, positions and sums). A set of our own passes the first and, honestly, not the second.
#pragma once

#include <string>
#include <vector>

#include "tools/table_set/table_set_view.h"

namespace g7231::tables {

struct Check {
  std::string what;    // the property
  bool ok = true;
  std::string detail;  // where it fails
};

// Zero first rows and entries, derived gain values within one unit of their rule, non-decreasing taming
// tables, sharpening offsets in -2..2 or 60 with gain 0 wherever the offset is 60.
std::vector<Check> check_structure(const TableSetView& set);

// Every value published for the standard's set.
std::vector<Check> check_published_values(const TableSetView& set);

bool all_ok(const std::vector<Check>& checks);

}  // namespace g7231::tables
