// Table sets in the tools: the library's view and by-value set (codec/tables/table_set_types.h), so that
// one validation serves the set built into the encoder, the sets the training tool builds and sets read
// from files.
#pragma once

#include "codec/tables/builtin_table_set.h"
#include "codec/tables/table_set_types.h"

namespace g7231::tables {

using g7231::TableSet;
using g7231::TableSetView;

inline TableSet copy_of(const TableSetView& v) { return table_set_of(v); }

// The set compiled into the encoder (codec/tables/table_set.h).
inline TableSetView builtin_table_set() { return kBuiltinTableSet.view(); }

}  // namespace g7231::tables
