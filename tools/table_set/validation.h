// Checks of a table set: the structure every set must have for the encoder to work as designed (the
// library's own check, codec/tables/table_set_check.h), and, separately, whether it holds the values
// published for the standard's set (the quoted rows, first and last entries, positions and sums). A set of
// our own passes the first and, honestly, not the second.
#pragma once

#include <vector>

#include "codec/tables/table_set_check.h"
#include "tools/table_set/table_set_view.h"

namespace g7231::tables {

// Every value published for the standard's set.
std::vector<Check> check_published_values(const TableSetView& set);

}  // namespace g7231::tables
