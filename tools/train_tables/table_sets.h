// Table sets in the training tool: installing a set into the encoder copy the tool runs, the placeholder
// set, and reading and writing sets (a plain text form, and the encoder's generated data unit).
#pragma once

#include <string>

#include "tools/table_set/table_set_view.h"

namespace g7231::training {

using tables::TableSet;

// Makes the tool's encoders and quantiser use set from now on.
void install(const TableSet& set);

// The set the tool's encoders and quantiser use now (all zero until a set is installed).
const TableSet& installed();

// The placeholder set: zero but for the rows and entries whose values are published.
TableSet placeholder_set();

void write_set(const std::string& path, const TableSet& set);
TableSet read_set(const std::string& path);

// Writes the encoder's data unit (codec/tables/table_set.h) holding set; provenance is put in its header
// comment.
void write_header(const std::string& path, const TableSet& set, const std::string& provenance);

}  // namespace g7231::training
