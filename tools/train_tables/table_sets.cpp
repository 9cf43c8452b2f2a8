#include "table_sets.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tools/table_set/published_values.h"

namespace g7231::training {
namespace {

// Every value of a set in one fixed order, for the text form.
template <class F>
void for_each_value(TableSet& s, F&& f) {
  for (auto& row : s.lsp_band0) for (auto& v : row) f(v);
  for (auto& row : s.lsp_band1) for (auto& v : row) f(v);
  for (auto& row : s.lsp_band2) for (auto& v : row) f(v);
  for (auto& e : s.acb_gain85) for (auto& v : e) f(v);
  for (auto& e : s.acb_gain170) for (auto& v : e) f(v);
  for (auto& v : s.taming_gain85) f(v);
  for (auto& v : s.taming_gain170) f(v);
  for (auto& v : s.sharp_lag_offset) f(v);
  for (auto& v : s.sharp_gain) f(v);
}

template <class Row>
std::string row_text(const Row& row) {
  std::ostringstream os;
  os << "{";
  for (std::size_t i = 0; i < row.size(); ++i) os << (i ? ", " : "") << row[i];
  os << "}";
  return os.str();
}

// A table of rows, one row per line.
template <class Table>
std::string rows_text(const Table& table) {
  std::ostringstream os;
  os << "{{\n";
  for (std::size_t i = 0; i < table.size(); ++i) os << "    " << row_text(table[i]) << (i + 1 < table.size() ? ",\n" : "\n");
  os << "}}";
  return os.str();
}

// A flat table, ten values a line.
template <class Table>
std::string flat_text(const Table& table) {
  std::ostringstream os;
  os << "{\n";
  for (std::size_t i = 0; i < table.size(); ++i) {
    os << (i % 10 == 0 ? "    " : " ") << table[i] << (i + 1 < table.size() ? "," : "");
    if (i % 10 == 9 || i + 1 == table.size()) os << "\n";
  }
  os << "}";
  return os.str();
}

}  // namespace

namespace {
TableSet g_installed;  // the tool's current set; the tool runs on one thread
}  // namespace

void install(const TableSet& set) {
  g_installed = set;
  g_installed.derive();
}

const TableSet& installed() { return g_installed; }

TableSet placeholder_set() {
  using namespace tables::published;
  TableSet s;
  for (const auto& [r, row] : kLspBand0Rows) s.lsp_band0[r] = row;
  for (const auto& [r, row] : kLspBand1Rows) s.lsp_band1[r] = row;
  for (const auto& [r, row] : kLspBand2Rows) s.lsp_band2[r] = row;

  s.acb_gain85[1] = kAcbGain85Entry1;
  s.acb_gain85[kAcbShortLagEntries - 1] = acb_gain_entry(kAcbGain85LastTaps);
  s.acb_gain170[1] = kAcbGain170Entry1;
  s.acb_gain170[kAcbEntries - 1] = acb_gain_entry(kAcbGain170LastTaps);

  // Taming: the published first and last four values, linear (rounded down) in between.
  const auto taming = [](auto& table, const Four& first, const Four& last) {
    const std::size_t hi = table.size() - 4;
    for (std::size_t i = 0; i < 4; ++i) {
      table[i] = first[i];
      table[hi + i] = last[i];
    }
    for (std::size_t i = 4; i < hi; ++i) {
      table[i] = static_cast<std::int16_t>(first[3] + (last[0] - first[3]) * static_cast<long>(i - 3) /
                                                          static_cast<long>(hi - 3));
    }
  };
  taming(s.taming_gain85, kTaming85First, kTaming85Last);
  taming(s.taming_gain170, kTaming170First, kTaming170Last);

  for (std::size_t i : kSharpOffPositions) s.sharp_lag_offset[i] = kSharpOff;
  std::ranges::copy(kSharpOffsetsFirst, s.sharp_lag_offset.begin());
  std::ranges::copy(kSharpGainsFirst, s.sharp_gain.begin());
  std::ranges::copy(kSharpOffsetsLast, s.sharp_lag_offset.end() - 4);
  std::ranges::copy(kSharpGainsLast, s.sharp_gain.end() - 4);
  return s;
}

void write_set(const std::string& path, const TableSet& set) {
  std::ofstream out(path);
  TableSet copy = set;
  int n = 0;
  for_each_value(copy, [&](std::int16_t v) { out << v << (++n % 20 == 0 ? '\n' : ' '); });
  out << '\n';
  if (!out) throw std::runtime_error("cannot write " + path);
}

TableSet read_set(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  TableSet set;
  for_each_value(set, [&](std::int16_t& v) {
    int x;
    if (!(in >> x)) throw std::runtime_error("table set file too short: " + path);
    v = static_cast<std::int16_t>(x);
  });
  return set;
}

void write_header(const std::string& path, const TableSet& set, const std::string& provenance) {
  std::ofstream out(path);
  out << R"(// GENERATED FILE: written by tools/train_tables; regenerate rather than edit.
//
// The encoder's table set: the nine tables whose values are not fixed by a formula (the LSP codebooks,
// the pitch-gain, taming and sharpening tables). This file is the one unit to swap to install another set:
// replace it and rebuild, then run g7231tables to validate it.
//
// THIS IS OUR OWN TRAINED SET, NOT THE STANDARD'S SET. It has the structure the coder requires, but its
// values were trained by this project from speech; decoders built with the standard's tables will not
// decode our bitstreams correctly, and vice versa.
//
)" << provenance
      << R"(#pragma once

#include <array>
#include <cstdint>

#include "codec/tables/table_set_types.h"

// Marks a set trained by this project (the tests then expect it not to be the standard's set).
#define G7231_OWN_TRAINED_TABLE_SET 1

namespace g7231 {

// LSP residual codebooks of the three bands (coefficients 0-2, 3-5, 6-9); row 0 is all zero.
inline constexpr LspCodebook<3> kLspBand0Codebook = )"
      << rows_text(set.lsp_band0) << R"(;
inline constexpr LspCodebook<3> kLspBand1Codebook = )"
      << rows_text(set.lsp_band1) << R"(;
inline constexpr LspCodebook<4> kLspBand2Codebook = )"
      << rows_text(set.lsp_band2) << R"(;

// Pitch-gain tables of the five-tap long-term predictor: 85 entries (6.3 kbit/s, lags below 58) and 170
// entries (otherwise). Entry 0 is all zero (no prediction); entries rise in their taming bound.
inline constexpr AcbGainTable<kAcbShortLagEntries> kAcbGainTable85 = )"
      << rows_text(set.acb_gain85) << R"(;
inline constexpr AcbGainTable<kAcbEntries> kAcbGainTable170 = )"
      << rows_text(set.acb_gain170) << R"(;

// Error amplification bound (Q13) of each pitch-gain entry, non-decreasing.
inline constexpr std::array<std::int16_t, kAcbShortLagEntries> kTamingGain85 = )"
      << flat_text(set.taming_gain85) << R"(;
inline constexpr std::array<std::int16_t, kAcbEntries> kTamingGain170 = )"
      << flat_text(set.taming_gain170) << R"(;

// 5.3 kbit/s pitch sharpening per 170-entry pitch-gain entry: lag correction in -2..2, or 60 to switch
// sharpening off; and the sharpening gain (Q15), 0 where it is off.
inline constexpr std::array<std::int16_t, kAcbEntries> kSharpLagOffset = )"
      << flat_text(set.sharp_lag_offset) << R"(;
inline constexpr std::array<std::int16_t, kAcbEntries> kSharpGain = )"
      << flat_text(set.sharp_gain) << R"(;

}  // namespace g7231
)";
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace g7231::training
