#include "tools/table_set/validation.h"

#include "tools/table_set/published_values.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <span>
#include <sstream>

namespace g7231::tables {
namespace {

template <class... Args>
std::string str(const Args&... args) {
  std::ostringstream os;
  (os << ... << args);
  return os.str();
}

// Collects the first few failures of one property.
class Finding {
 public:
  explicit Finding(std::string what) : check_{std::move(what), true, {}} {}
  template <class... Args>
  void fail(const Args&... args) {
    if (check_.ok) check_.detail = str(args...);
    else if (++extra_ <= 3) check_.detail += str("; ", args...);
    check_.ok = false;
  }
  Check done() {
    if (extra_ > 3) check_.detail += str(" (and ", extra_ - 3, " more)");
    return check_;
  }

 private:
  Check check_;
  int extra_ = 0;
};

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

template <std::size_t Width>
void require_rows(std::vector<Check>& out, const char* name,
                  std::span<const std::array<std::int16_t, Width>, kLspCodebookRows> book,
                  const std::array<std::pair<std::size_t, std::array<std::int16_t, Width>>, 3>& rows) {
  Finding f(str(name, ": rows 1, 2 and 255"));
  for (const auto& [r, values] : rows) {
    if (book[r] != values) f.fail("row ", r, " differs");
  }
  out.push_back(f.done());
}

template <class T, std::size_t N, std::size_t M>
void require_values(std::vector<Check>& out, const std::string& what, std::span<const T, N> table, std::size_t first,
                    const std::array<T, M>& values) {
  Finding f(what);
  for (std::size_t i = 0; i < M; ++i) {
    if (!(table[first + i] == values[i])) f.fail("entry ", first + i, " differs");
  }
  out.push_back(f.done());
}

template <std::size_t N>
void require_sum(std::vector<Check>& out, const std::string& what, std::span<const std::int16_t, N> table, long sum) {
  Finding f(what);
  const long got = std::accumulate(table.begin(), table.end(), 0L);
  if (got != sum) f.fail("sum is ", got);
  out.push_back(f.done());
}

using Taps = std::array<std::int16_t, 5>;

template <std::size_t N>
void require_last_taps(std::vector<Check>& out, const char* name, std::span<const AcbGainEntry, N> table,
                       const Taps& taps) {
  Finding f(str(name, ": last entry's taps"));
  for (std::size_t t = 0; t < 5; ++t) {
    if (table[N - 1][t] != taps[t]) f.fail("tap ", t, " is ", table[N - 1][t]);
  }
  out.push_back(f.done());
}

}  // namespace

std::vector<Check> check_structure(const TableSetView& set) {
  std::vector<Check> out;
  require_zero_row<3>(out, "LSP band 0 codebook", set.lsp_band0);
  require_zero_row<3>(out, "LSP band 1 codebook", set.lsp_band1);
  require_zero_row<4>(out, "LSP band 2 codebook", set.lsp_band2);
  require_gain_rules<kAcbShortLagEntries>(out, "85-entry pitch-gain table", set.acb_gain85);
  require_gain_rules<kAcbEntries>(out, "170-entry pitch-gain table", set.acb_gain170);
  require_non_decreasing<kAcbShortLagEntries>(out, "85-entry taming table", set.taming_gain85);
  require_non_decreasing<kAcbEntries>(out, "170-entry taming table", set.taming_gain170);

  Finding offsets("sharpening lag offsets within -2..2, or 60 (off)");
  Finding off_gain("sharpening gain 0 wherever the offset is 60");
  Finding gains("sharpening gains non-negative");
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

std::vector<Check> check_published_values(const TableSetView& set) {
  using namespace published;
  std::vector<Check> out;
  require_rows<3>(out, "LSP band 0 codebook", set.lsp_band0, kLspBand0Rows);
  require_rows<3>(out, "LSP band 1 codebook", set.lsp_band1, kLspBand1Rows);
  require_rows<4>(out, "LSP band 2 codebook", set.lsp_band2, kLspBand2Rows);

  require_values<AcbGainEntry, kAcbShortLagEntries, 1>(out, "85-entry pitch-gain table: entry 1", set.acb_gain85, 1,
                                                       {kAcbGain85Entry1});
  require_values<AcbGainEntry, kAcbEntries, 1>(out, "170-entry pitch-gain table: entry 1", set.acb_gain170, 1,
                                               {kAcbGain170Entry1});
  require_last_taps<kAcbShortLagEntries>(out, "85-entry pitch-gain table", set.acb_gain85, kAcbGain85LastTaps);
  require_last_taps<kAcbEntries>(out, "170-entry pitch-gain table", set.acb_gain170, kAcbGain170LastTaps);

  require_values<std::int16_t, kAcbShortLagEntries, 4>(out, "85-entry taming table: first four", set.taming_gain85, 0,
                                                       kTaming85First);
  require_values<std::int16_t, kAcbShortLagEntries, 4>(out, "85-entry taming table: last four", set.taming_gain85, 81,
                                                       kTaming85Last);
  require_values<std::int16_t, kAcbEntries, 4>(out, "170-entry taming table: first four", set.taming_gain170, 0,
                                               kTaming170First);
  require_values<std::int16_t, kAcbEntries, 4>(out, "170-entry taming table: last four", set.taming_gain170, 166,
                                               kTaming170Last);

  Finding positions("sharpening offsets: 60 at exactly the 22 published positions");
  for (std::size_t i = 0; i < kAcbEntries; ++i) {
    const bool listed = std::find(kSharpOffPositions.begin(), kSharpOffPositions.end(), i) != kSharpOffPositions.end();
    if (listed != (set.sharp_lag_offset[i] == kSharpOff)) positions.fail("entry ", i);
  }
  out.push_back(positions.done());
  require_values<std::int16_t, kAcbEntries, 8>(out, "sharpening offsets: first eight", set.sharp_lag_offset, 0,
                                               kSharpOffsetsFirst);
  require_values<std::int16_t, kAcbEntries, 4>(out, "sharpening offsets: last four", set.sharp_lag_offset, 166,
                                               kSharpOffsetsLast);
  require_sum<kAcbEntries>(out, "sharpening offsets: sum 1331", set.sharp_lag_offset, kSharpOffsetSum);
  require_values<std::int16_t, kAcbEntries, 6>(out, "sharpening gains: first six", set.sharp_gain, 0, kSharpGainsFirst);
  require_values<std::int16_t, kAcbEntries, 4>(out, "sharpening gains: last four", set.sharp_gain, 166,
                                               kSharpGainsLast);
  require_sum<kAcbEntries>(out, "sharpening gains: sum 3273113", set.sharp_gain, kSharpGainSum);
  return out;
}

bool all_ok(const std::vector<Check>& checks) {
  return std::ranges::all_of(checks, [](const Check& c) { return c.ok; });
}

}  // namespace g7231::tables
