#include "codec/tables/table_set_check.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace g7231::tables {
namespace {

template <std::size_t Width>
void require_zero_row(std::vector<Check>& out, const char* name,
                      std::span<const std::array<std::int16_t, Width>, kLspCodebookRows> book) {
  Finding f(str(name, ": row 0 is all zero"));
  for (std::size_t j = 0; j < Width; ++j) {
    if (book[0][j] != 0) f.fail("value ", j, " is ", book[0][j]);
  }
  out.push_back(f.done());
}

template <std::size_t N>
void require_gain_rules(std::vector<Check>& out, const char* name, std::span<const AcbGainEntry, N> table) {
  Finding zero(str(name, ": entry 0 is all zero"));
  for (std::size_t i = 0; i < 20; ++i) {
    if (table[0][i] != 0) zero.fail("value ", i, " is ", table[0][i]);
  }
  out.push_back(zero.done());

  Finding derived(str(name, ": derived values within one unit of -b_t*b_u/16384"));
  for (std::size_t e = 0; e < N; ++e) {
    const auto near = [&](std::size_t slot, std::size_t t, std::size_t u) {
      const double want = -static_cast<double>(table[e][t]) * table[e][u] / 16384.0;
      if (std::abs(table[e][slot] - want) > 1.0) derived.fail("entry ", e, " value ", slot, " is ", table[e][slot], " for ", want);
    };
    for (std::size_t t = 0; t < 5; ++t) near(5 + t, t, t);
    for (std::size_t p = 0; p < kAcbTapPairs.size(); ++p) near(10 + p, kAcbTapPairs[p][0], kAcbTapPairs[p][1]);
  }
  out.push_back(derived.done());
}

template <std::size_t N>
void require_non_decreasing(std::vector<Check>& out, const char* name, std::span<const std::int16_t, N> table) {
  Finding f(str(name, ": non-decreasing"));
  for (std::size_t i = 1; i < N; ++i) {
    if (table[i] < table[i - 1]) f.fail("entry ", i, " (", table[i], ") below entry ", i - 1, " (", table[i - 1], ")");
  }
  out.push_back(f.done());
}

}  // namespace

std::vector<Check> check_structure(const TableSetView& set) {
  std::vector<Check> out;
  require_zero_row<3>(out, "lsp_band0 (LSP band 0 codebook)", set.lsp_band0);
  require_zero_row<3>(out, "lsp_band1 (LSP band 1 codebook)", set.lsp_band1);
  require_zero_row<4>(out, "lsp_band2 (LSP band 2 codebook)", set.lsp_band2);
  require_gain_rules<kAcbShortLagEntries>(out, "acb_gain85 (85-entry pitch-gain table)", set.acb_gain85);
  require_gain_rules<kAcbEntries>(out, "acb_gain170 (170-entry pitch-gain table)", set.acb_gain170);
  require_non_decreasing<kAcbShortLagEntries>(out, "taming_gain85 (85-entry taming table)", set.taming_gain85);
  require_non_decreasing<kAcbEntries>(out, "taming_gain170 (170-entry taming table)", set.taming_gain170);

  Finding offsets("sharp_lag_offset (sharpening lag offsets): within -2..2, or 60 (off)");
  Finding off_gain("sharp_gain (sharpening gains): 0 wherever the offset is 60");
  Finding gains("sharp_gain (sharpening gains): non-negative");
  for (std::size_t i = 0; i < kAcbEntries; ++i) {
    const std::int16_t o = set.sharp_lag_offset[i];
    const std::int16_t g = set.sharp_gain[i];
    if (o != kSharpOff && (o < -2 || o > 2)) offsets.fail("entry ", i, " is ", o);
    if (o == kSharpOff && g != 0) off_gain.fail("entry ", i, " has gain ", g);
    if (g < 0) gains.fail("entry ", i, " is ", g);
  }
  out.push_back(offsets.done());
  out.push_back(off_gain.done());
  out.push_back(gains.done());
  return out;
}

bool all_ok(const std::vector<Check>& checks) {
  return std::ranges::all_of(checks, [](const Check& c) { return c.ok; });
}

}  // namespace g7231::tables
