#include "gain_training.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>
#include <span>
#include <tuple>

#include "codec/encoder/encoder.h"
#include "codec/encoder/training_hooks.h"
#include "table_sets.h"

namespace g7231::training {
namespace {

std::vector<GainRecord>* g_sink = nullptr;

constexpr double kMaxTap = 23000;              // keeps -b*b/16384 within 16 bits
constexpr double kMaxTotalGain = 2.2 * 16384;  // summed tap magnitudes of the strongest predictor
constexpr double kRidge = 1e-3;                // relative regularisation of ill-conditioned cells

using Taps = std::array<double, 5>;

// A candidate's correlations as a quadratic: criterion(x) = 32768 (c.x - x'Ex) for taps x = b / 16384.
struct Quadratic {
  std::array<double, 5> c{};
  std::array<std::array<double, 5>, 5> e{};
  std::size_t count = 0;

  void add(const std::array<std::int16_t, 20>& g) {
    for (std::size_t t = 0; t < 5; ++t) {
      c[t] += g[t] / 2.0;
      e[t][t] += g[5 + t] / 2.0;
    }
    for (std::size_t p = 0; p < kAcbTapPairs.size(); ++p) {
      const auto [t, u] = kAcbTapPairs[p];
      e[t][u] += g[10 + p] / 4.0;
      e[u][t] += g[10 + p] / 4.0;
    }
    ++count;
  }

  // The taps (Q14) that maximise the criterion, x = (2E)^-1 c, lightly regularised and bounded to a
  // realistic predictor; false when E is singular.
  bool best_taps(Taps& b) const {
    std::array<std::array<double, 6>, 5> m{};
    double scale = 0;
    for (std::size_t i = 0; i < 5; ++i) scale = std::max(scale, std::abs(2 * e[i][i]));
    if (scale <= 0) return false;
    for (std::size_t i = 0; i < 5; ++i) {
      for (std::size_t j = 0; j < 5; ++j) m[i][j] = 2 * e[i][j] + (i == j ? kRidge * scale : 0.0);
      m[i][5] = c[i];
    }
    for (std::size_t col = 0; col < 5; ++col) {
      std::size_t piv = col;
      for (std::size_t r = col + 1; r < 5; ++r) {
        if (std::abs(m[r][col]) > std::abs(m[piv][col])) piv = r;
      }
      if (std::abs(m[piv][col]) < 1e-9 * scale) return false;
      std::swap(m[piv], m[col]);
      for (std::size_t r = 0; r < 5; ++r) {
        if (r == col) continue;
        const double f = m[r][col] / m[col][col];
        for (std::size_t k = col; k < 6; ++k) m[r][k] -= f * m[col][k];
      }
    }
    double total = 0;
    for (std::size_t i = 0; i < 5; ++i) {
      b[i] = 16384.0 * m[i][5] / m[i][i];
      total += std::abs(b[i]);
    }
    const double shrink = total > kMaxTotalGain ? kMaxTotalGain / total : 1.0;
    for (double& v : b) v = std::clamp(v * shrink, -kMaxTap, kMaxTap);
    return true;
  }
};

AcbGainEntry entry_from(const Taps& b) {
  std::array<std::int16_t, 5> taps;
  for (std::size_t t = 0; t < 5; ++t) taps[t] = static_cast<std::int16_t>(std::lround(b[t]));
  return acb_gain_entry(taps);
}

double criterion(const std::array<std::int16_t, 20>& g, const AcbGainEntry& entry) {
  double sum = 0;
  for (std::size_t i = 0; i < 20; ++i) sum += static_cast<double>(g[i]) * entry[i];
  return sum;
}

// The best achievable criterion of a record (any taps, any candidate) and those taps.
struct Optimum {
  double criterion = 0;
  std::size_t candidate = 0;
  Taps taps{};
};
Optimum record_optimum(const GainRecord& r) {
  Optimum best;
  for (std::size_t j = 0; j < r.candidates; ++j) {
    Quadratic q;
    q.add(r.g[j]);
    Taps b;
    if (!q.best_taps(b)) continue;
    const double crit = criterion(r.g[j], entry_from(b));
    if (crit > best.criterion) best = {crit, j, b};
  }
  return best;
}

// The gain tables as floating-point rows, for the training's many criterion evaluations.
struct FloatTables {
  std::vector<std::array<float, 20>> short_lag;
  std::vector<std::array<float, 20>> long_lag;
  explicit FloatTables(const TableSet& set) {
    for (const auto& e : set.acb_gain85) short_lag.push_back(to_float(e));
    for (const auto& e : set.acb_gain170) long_lag.push_back(to_float(e));
  }
  static std::array<float, 20> to_float(const AcbGainEntry& e) {
    std::array<float, 20> f;
    std::copy(e.begin(), e.end(), f.begin());
    return f;
  }
};

// Which table and entry the search would choose for a record with the given tables (entries limited as
// taming limited them when the record was made). Ties keep the earlier candidate and entry.
struct Choice {
  bool short_lag_table = false;
  std::size_t candidate = 1;
  std::size_t entry = 0;
  double criterion = 0;
};
Choice choose(const GainRecord& r, const FloatTables& tables) {
  Choice best;
  best.short_lag_table = r.candidates > 1 && r.short_lag_table[1];
  float best_crit = 0;
  for (std::size_t j = 0; j < r.candidates; ++j) {
    const bool short_table = r.short_lag_table[j];
    const auto& table = short_table ? tables.short_lag : tables.long_lag;
    const std::size_t allowed = std::min<std::size_t>(table.size(), short_table ? r.entries85 : r.entries170);
    std::array<float, 20> g;
    std::copy(r.g[j].begin(), r.g[j].end(), g.begin());
    for (std::size_t e = 0; e < allowed; ++e) {
      float crit = 0;
      for (std::size_t i = 0; i < 20; ++i) crit += g[i] * table[e][i];
      if (crit > best_crit) {
        best_crit = crit;
        best = {short_table, j, e, crit};
      }
    }
  }
  return best;
}

// k-means++ seeding of entries 1.. of one table from the records whose optimum uses it: each new entry
// is a record's optimal taps, drawn with probability proportional to how much the entries so far lose on it.
template <std::size_t N>
void seed_table(AcbGainTable<N>& table, const std::vector<GainRecord>& records, const std::vector<Optimum>& optima,
                bool short_table, std::mt19937& rng) {
  std::vector<std::size_t> pool;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (optima[i].criterion > 0 && records[i].short_lag_table[optima[i].candidate] == short_table) pool.push_back(i);
  }
  table = {};
  if (pool.empty()) return;
  std::vector<double> loss(pool.size());
  for (std::size_t k = 0; k < pool.size(); ++k) loss[k] = optima[pool[k]].criterion;  // entry 0 achieves 0
  for (std::size_t e = 1; e < N; ++e) {
    std::discrete_distribution<std::size_t> pick(loss.begin(), loss.end());
    const std::size_t k = pick(rng);
    table[e] = entry_from(optima[pool[k]].taps);
    for (std::size_t m = 0; m < pool.size(); ++m) {
      const GainRecord& r = records[pool[m]];
      const double achieved = criterion(r.g[optima[pool[m]].candidate], table[e]);
      loss[m] = std::max(0.0, std::min(loss[m], optima[pool[m]].criterion - achieved));
    }
  }
}

// Lloyd iterations over both tables: choose as the search does, then move each entry to the taps that
// maximise its cell's summed criterion; an empty cell takes the optimum of the record coded worst.
void lloyd(TableSet& set, const std::vector<GainRecord>& records, const std::vector<Optimum>& optima, int iterations) {
  for (int it = 0; it < iterations; ++it) {
    std::vector<Quadratic> cells85(kAcbShortLagEntries);
    std::vector<Quadratic> cells170(kAcbEntries);
    std::vector<std::pair<double, std::size_t>> worst;
    const FloatTables tables(set);
    for (std::size_t i = 0; i < records.size(); ++i) {
      const GainRecord& r = records[i];
      const Choice c = choose(r, tables);
      if (c.entry > 0) (c.short_lag_table ? cells85 : cells170)[c.entry].add(r.g[c.candidate]);
      worst.emplace_back(optima[i].criterion - c.criterion, i);
    }
    std::sort(worst.begin(), worst.end(), std::greater<>());
    std::size_t next_worst = 0;
    const auto update = [&](auto& table, std::vector<Quadratic>& cells, bool short_table) {
      for (std::size_t e = 1; e < table.size(); ++e) {
        Taps b;
        if (cells[e].count > 0 && cells[e].best_taps(b)) {
          table[e] = entry_from(b);
          continue;
        }
        // Re-seed from the worst-coded records whose optimum searched this table.
        while (next_worst < worst.size()) {
          const std::size_t i = worst[next_worst++].second;
          if (optima[i].criterion > 0 && records[i].short_lag_table[optima[i].candidate] == short_table) {
            table[e] = entry_from(optima[i].taps);
            break;
          }
        }
      }
    };
    update(set.acb_gain85, cells85, true);
    update(set.acb_gain170, cells170, false);
  }
}

double coding_gain(const std::vector<GainRecord>& records, const TableSet& set) {
  double sum = 0;
  const FloatTables tables(set);
  for (const GainRecord& r : records) sum += choose(r, tables).criterion;
  return sum / std::max<std::size_t>(records.size(), 1);
}

}  // namespace

void observe_pitch_search(const PitchSearchRecord& record) {
  if (g_sink == nullptr) return;
  GainRecord r;
  const std::size_t candidates = std::min(record.candidates, r.g.size());
  r.candidates = static_cast<std::uint8_t>(candidates);
  for (std::size_t j = 0; j < candidates; ++j) {
    std::copy_n(record.correlations.begin() + static_cast<std::ptrdiff_t>(20 * j), 20, r.g[j].begin());
    r.short_lag_table[j] = record.short_lag_table[j];
  }
  r.entries85 = static_cast<std::uint8_t>(record.entries85);
  r.entries170 = static_cast<std::uint8_t>(record.entries170);
  r.chosen_candidate = static_cast<std::uint8_t>(record.chosen_candidate);
  r.chosen_entry = static_cast<std::uint8_t>(record.chosen_entry);
  g_sink->push_back(r);
}

std::vector<GainRecord> record_gain_searches(const std::vector<Recording>& recordings, bool high_rate) {
  std::vector<GainRecord> records;
  g_sink = &records;
  for (const Recording& rec : recordings) {
    G7231Encoder* enc = create_encoder({.high_rate = high_rate, .tables = &installed()});
    std::array<std::uint8_t, kMaxFrameBytes> out;
    for (std::size_t f = 0; f + kFrameSamples <= rec.samples.size(); f += kFrameSamples) {
      std::array<std::int16_t, kFrameSamples> frame;
      std::copy_n(rec.samples.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
      encode_frame(enc, frame, out);
    }
    destroy_encoder(enc);
  }
  g_sink = nullptr;
  return records;
}

std::int16_t taming_bound(const AcbGainEntry& entry) {
  long sum = 0;
  for (std::size_t t = 0; t < 5; ++t) sum += std::abs(static_cast<long>(entry[t]));
  return static_cast<std::int16_t>(std::clamp(sum / 2, 1024L, 32767L));  // Q14 taps, Q13 bound
}

std::pair<std::int16_t, std::int16_t> sharpening_for(const AcbGainEntry& entry) {
  long total = 0;
  long magnitude = 0;
  std::size_t largest = 0;
  for (std::size_t t = 0; t < 5; ++t) {
    total += entry[t];
    magnitude += std::abs(static_cast<long>(entry[t]));
    if (entry[t] > entry[largest]) largest = t;
  }
  const bool weak = total < 3277 /* 0.2 in Q14 */ || 2 * static_cast<long>(entry[largest]) < magnitude;
  if (weak) return {kSharpOff, 0};
  const auto offset = static_cast<std::int16_t>(2 - static_cast<int>(largest));  // tap t weighs lag + 2 - t
  const auto gain = static_cast<std::int16_t>(std::min(2 * total, 26214L));      // Q14 to Q15, at most 0.8
  return {offset, gain};
}

void derive_dependent_tables(TableSet& set) {
  const auto order = [](auto& table, auto& taming) {
    std::stable_sort(table.begin() + 1, table.end(), [](const AcbGainEntry& a, const AcbGainEntry& b) {
      return taming_bound(a) < taming_bound(b);
    });
    for (std::size_t e = 0; e < table.size(); ++e) taming[e] = taming_bound(table[e]);
  };
  order(set.acb_gain85, set.taming_gain85);
  order(set.acb_gain170, set.taming_gain170);
  for (std::size_t e = 0; e < kAcbEntries; ++e) {
    std::tie(set.sharp_lag_offset[e], set.sharp_gain[e]) = sharpening_for(set.acb_gain170[e]);
  }
}

void train_gain_tables(TableSet& set, const std::vector<Recording>& recordings, const GainTrainingOptions& options) {
  std::mt19937 rng(options.seed);
  for (int pass = 0; pass < options.passes; ++pass) {
    install(set);
    std::vector<GainRecord> records = record_gain_searches(recordings, false);
    std::vector<GainRecord> high = record_gain_searches(recordings, true);
    records.insert(records.end(), high.begin(), high.end());
    std::vector<Optimum> optima(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) optima[i] = record_optimum(records[i]);

    if (pass == 0) {
      seed_table(set.acb_gain85, records, optima, true, rng);
      seed_table(set.acb_gain170, records, optima, false, rng);
    }
    const double before = coding_gain(records, set);
    lloyd(set, records, optima, pass == 0 ? options.first_iterations : options.iterations);
    derive_dependent_tables(set);
    std::fprintf(stderr, "  gain pass %d: %zu searches, mean criterion %.0f -> %.0f\n", pass + 1, records.size(),
                 before, coding_gain(records, set));
  }
  install(set);
}

}  // namespace g7231::training
