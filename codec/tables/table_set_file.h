// Table sets as text files: another set of the nine tables, loaded at run time in place of the built-in
// one, without a rebuild.
//
// The format (`g7231 tables export` writes it; every part of it is checked on load):
//
//   # a comment runs from '#' to the end of its line; blank lines are ignored
//   [lsp_band0]
//   0 0 0
//   1921 2113 1917
//   ...
//
// One section per table, each opened by its name in brackets, in any order, each exactly once:
//
//   section           rows  values per row
//   lsp_band0          256  3   LSP residual codebook of coefficients 0-2 (Q15 of pi); row 0 all zero
//   lsp_band1          256  3   of coefficients 3-5
//   lsp_band2          256  4   of coefficients 6-9
//   acb_gain85          85  20  pitch-gain entries: five taps b0..b4 (Q14), then -b_t*b_t/16384 for t = 0..4,
//   acb_gain170        170  20    then -b_t*b_u/16384 for (t,u) = (1,0) (2,0) (2,1) (3,0) (3,1) (3,2) (4,0)
//                                  (4,1) (4,2) (4,3); entry 0 all zero
//   taming_gain85       85  1   error amplification bound of each pitch-gain entry (Q13), non-decreasing
//   taming_gain170     170  1
//   sharp_lag_offset   170  1   5.3 kbit/s pitch sharpening per 170-entry pitch-gain entry: -2..2, or 60 (off)
//   sharp_gain         170  1   its gain (Q15), 0 where the offset is 60
//
// A row is one line of whitespace-separated decimal integers in -32768..32767; rows are numbered from 0.
// After parsing, the set must have the structure the encoder needs (codec/tables/table_set_check.h).
#pragma once

#include <iosfwd>
#include <string>

#include "codec/tables/table_set_types.h"

namespace g7231 {

enum class TableSetLoad {
  ok,
  unreadable,  // the file cannot be opened or read
  malformed,   // not in the format: a line, section, row or value out of place
  invalid,     // in the format, but without the structure the encoder needs
};

// Reads a set in the text format from in, checking the format only (the result is ok or malformed): for
// tools that report on a set's structure themselves. Otherwise as read_table_set.
TableSetLoad parse_table_set(std::istream& in, const std::string& name, TableSet& set, std::string& message);

// Reads a set in the text format from in; name (the file's name) begins every message. On success fills
// set (derived members included) and returns ok; otherwise leaves set as it was and puts in message what
// failed, naming the line, table and row at fault.
TableSetLoad read_table_set(std::istream& in, const std::string& name, TableSet& set, std::string& message);

// Reads the set in the file at path; as read_table_set.
TableSetLoad load_table_set(const std::string& path, TableSet& set, std::string& message);

// Writes set in the text format, each section under a comment saying what it holds; header_comment (each
// line prefixed with "# ") goes first.
void write_table_set(std::ostream& out, const TableSet& set, const std::string& header_comment);

}  // namespace g7231
