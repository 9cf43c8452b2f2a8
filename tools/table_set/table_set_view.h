// A read-only view of a complete table set, so that one validation serves the set built into the encoder
// and the sets the training tool builds.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "codec/tables/table_set_types.h"

namespace g7231::tables {

struct TableSetView {
  std::span<const std::array<std::int16_t, 3>, kLspCodebookRows> lsp_band0;
  std::span<const std::array<std::int16_t, 3>, kLspCodebookRows> lsp_band1;
  std::span<const std::array<std::int16_t, 4>, kLspCodebookRows> lsp_band2;
  std::span<const AcbGainEntry, kAcbShortLagEntries> acb_gain85;
  std::span<const AcbGainEntry, kAcbEntries> acb_gain170;
  std::span<const std::int16_t, kAcbShortLagEntries> taming_gain85;
  std::span<const std::int16_t, kAcbEntries> taming_gain170;
  std::span<const std::int16_t, kAcbEntries> sharp_lag_offset;
  std::span<const std::int16_t, kAcbEntries> sharp_gain;
};

// A table set held by value, for tools that build or alter sets.
struct TableSet {
  LspCodebook<3> lsp_band0{};
  LspCodebook<3> lsp_band1{};
  LspCodebook<4> lsp_band2{};
  AcbGainTable<kAcbShortLagEntries> acb_gain85{};
  AcbGainTable<kAcbEntries> acb_gain170{};
  std::array<std::int16_t, kAcbShortLagEntries> taming_gain85{};
  std::array<std::int16_t, kAcbEntries> taming_gain170{};
  std::array<std::int16_t, kAcbEntries> sharp_lag_offset{};
  std::array<std::int16_t, kAcbEntries> sharp_gain{};

  TableSetView view() const {
    return {lsp_band0,     lsp_band1,      lsp_band2,        acb_gain85, acb_gain170,
            taming_gain85, taming_gain170, sharp_lag_offset, sharp_gain};
  }
};

inline TableSet copy_of(const TableSetView& v) {
  TableSet s;
  std::ranges::copy(v.lsp_band0, s.lsp_band0.begin());
  std::ranges::copy(v.lsp_band1, s.lsp_band1.begin());
  std::ranges::copy(v.lsp_band2, s.lsp_band2.begin());
  std::ranges::copy(v.acb_gain85, s.acb_gain85.begin());
  std::ranges::copy(v.acb_gain170, s.acb_gain170.begin());
  std::ranges::copy(v.taming_gain85, s.taming_gain85.begin());
  std::ranges::copy(v.taming_gain170, s.taming_gain170.begin());
  std::ranges::copy(v.sharp_lag_offset, s.sharp_lag_offset.begin());
  std::ranges::copy(v.sharp_gain, s.sharp_gain.begin());
  return s;
}

// The set compiled into the encoder (codec/tables/table_set.h).
TableSetView builtin_table_set();

}  // namespace g7231::tables
