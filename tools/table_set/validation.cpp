#include "tools/table_set/validation.h"

#include "tools/table_set/published_values.h"

#include <algorithm>
#include <numeric>
#include <span>

namespace g7231::tables {
namespace {

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

std::vector<Check> check_published_values(const TableSetView& set) {
  using namespace published;
  std::vector<Check> out;
  require_rows<3>(out, "lsp_band0 (LSP band 0 codebook)", set.lsp_band0, kLspBand0Rows);
  require_rows<3>(out, "lsp_band1 (LSP band 1 codebook)", set.lsp_band1, kLspBand1Rows);
  require_rows<4>(out, "lsp_band2 (LSP band 2 codebook)", set.lsp_band2, kLspBand2Rows);

  require_values<AcbGainEntry, kAcbShortLagEntries, 1>(out, "acb_gain85 (85-entry pitch-gain table): entry 1", set.acb_gain85, 1,
                                                       {kAcbGain85Entry1});
  require_values<AcbGainEntry, kAcbEntries, 1>(out, "acb_gain170 (170-entry pitch-gain table): entry 1", set.acb_gain170, 1,
                                               {kAcbGain170Entry1});
  require_last_taps<kAcbShortLagEntries>(out, "acb_gain85 (85-entry pitch-gain table)", set.acb_gain85, kAcbGain85LastTaps);
  require_last_taps<kAcbEntries>(out, "acb_gain170 (170-entry pitch-gain table)", set.acb_gain170, kAcbGain170LastTaps);

  require_values<std::int16_t, kAcbShortLagEntries, 4>(out, "taming_gain85 (85-entry taming table): first four", set.taming_gain85, 0,
                                                       kTaming85First);
  require_values<std::int16_t, kAcbShortLagEntries, 4>(out, "taming_gain85 (85-entry taming table): last four", set.taming_gain85, 81,
                                                       kTaming85Last);
  require_values<std::int16_t, kAcbEntries, 4>(out, "taming_gain170 (170-entry taming table): first four", set.taming_gain170, 0,
                                               kTaming170First);
  require_values<std::int16_t, kAcbEntries, 4>(out, "taming_gain170 (170-entry taming table): last four", set.taming_gain170, 166,
                                               kTaming170Last);

  Finding positions("sharp_lag_offset (sharpening offsets): 60 at exactly the 22 published positions");
  for (std::size_t i = 0; i < kAcbEntries; ++i) {
    const bool listed = std::find(kSharpOffPositions.begin(), kSharpOffPositions.end(), i) != kSharpOffPositions.end();
    if (listed != (set.sharp_lag_offset[i] == kSharpOff)) positions.fail("entry ", i);
  }
  out.push_back(positions.done());
  require_values<std::int16_t, kAcbEntries, 8>(out, "sharp_lag_offset (sharpening offsets): first eight", set.sharp_lag_offset, 0,
                                               kSharpOffsetsFirst);
  require_values<std::int16_t, kAcbEntries, 4>(out, "sharp_lag_offset (sharpening offsets): last four", set.sharp_lag_offset, 166,
                                               kSharpOffsetsLast);
  require_sum<kAcbEntries>(out, "sharp_lag_offset (sharpening offsets): sum 1331", set.sharp_lag_offset, kSharpOffsetSum);
  require_values<std::int16_t, kAcbEntries, 6>(out, "sharp_gain (sharpening gains): first six", set.sharp_gain, 0, kSharpGainsFirst);
  require_values<std::int16_t, kAcbEntries, 4>(out, "sharp_gain (sharpening gains): last four", set.sharp_gain, 166,
                                               kSharpGainsLast);
  require_sum<kAcbEntries>(out, "sharp_gain (sharpening gains): sum 3273113", set.sharp_gain, kSharpGainSum);
  return out;
}

}  // namespace g7231::tables
