#include "lsp_training.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <span>

#include "codec/encoder/encoder.h"
#include "codec/encoder/input_conditioning.h"
#include "codec/encoder/lpc_analysis.h"
#include "codec/encoder/lsp_conversion.h"
#include "codec/encoder/lsp_quantiser.h"
#include "codec/tables/lsp_quantiser_tables.h"
#include "table_sets.h"

namespace g7231::training {
namespace {

using Lsp = std::array<std::int16_t, 10>;

// Frames whose conditioned analysis block is quieter than this (RMS at half scale) are silence.
constexpr double kSilenceRms = 16.0;

// Runs the quantiser over every recording, prediction from the previous quantised vector as in the
// encoder, calling on_frame(unquantised, residual, weights, index, quantised, usable) for each frame.
template <class F>
void run_quantiser(const std::vector<LspTrack>& tracks, F&& on_frame) {
  for (const LspTrack& track : tracks) {
    Lsp prev = kLspMean;
    for (std::size_t i = 0; i < track.lsp.size(); ++i) {
      const Lsp lsp = track.found[i] ? track.lsp[i] : prev;
      Lsp weights;
      lsp_weights(weights, lsp);
      Lsp residual = lsp;
      const std::int32_t index = quantise_lsp(installed(), residual, prev);
      Lsp quantised;
      dequantise_lsp(installed(), quantised, prev, index, 0);
      on_frame(lsp, residual, weights, index, quantised, track.found[i] && track.speech[i]);
      prev = quantised;
    }
  }
}

// The training vectors of one band: residual targets and their weights.
struct BandData {
  std::size_t dim = 0;
  std::vector<float> target;
  std::vector<float> weight;
  std::size_t size() const { return dim == 0 ? 0 : target.size() / dim; }
};

using Book = std::vector<std::array<float, 4>>;  // 256 rows of up to four values

float distortion(const BandData& d, std::size_t n, const std::array<float, 4>& c) {
  float e = 0;
  for (std::size_t j = 0; j < d.dim; ++j) {
    const float diff = d.target[n * d.dim + j] - c[j];
    e += d.weight[n * d.dim + j] * diff * diff;
  }
  return e;
}

// Nearest row (the quantiser's criterion: the smallest weighted squared error; ties to the lower row).
std::size_t nearest(const BandData& d, std::size_t n, const Book& book, float* best_error = nullptr) {
  std::size_t best = 0;
  float e_best = distortion(d, n, book[0]);
  for (std::size_t r = 1; r < book.size(); ++r) {
    const float e = distortion(d, n, book[r]);
    if (e < e_best) {
      e_best = e;
      best = r;
    }
  }
  if (best_error != nullptr) *best_error = e_best;
  return best;
}

// k-means++ seeding of rows 1..255 around the fixed zero row 0.
Book seed_book(const BandData& d, std::mt19937& rng) {
  Book book(kLspCodebookRows, std::array<float, 4>{});
  const std::size_t n = d.size();
  std::vector<float> nearest_error(n);
  for (std::size_t i = 0; i < n; ++i) nearest_error[i] = distortion(d, i, book[0]);
  for (std::size_t r = 1; r < kLspCodebookRows; ++r) {
    std::discrete_distribution<std::size_t> pick(nearest_error.begin(), nearest_error.end());
    const std::size_t chosen = pick(rng);
    for (std::size_t j = 0; j < d.dim; ++j) book[r][j] = d.target[chosen * d.dim + j];
    for (std::size_t i = 0; i < n; ++i) nearest_error[i] = std::min(nearest_error[i], distortion(d, i, book[r]));
  }
  return book;
}

// Lloyd iterations: assign every vector to its nearest row, move rows 1..255 to their cells' weighted
// centroids, and re-seed empty rows with the worst-coded vectors.
void lloyd(Book& book, const BandData& d, int iterations) {
  const std::size_t n = d.size();
  for (int it = 0; it < iterations; ++it) {
    std::vector<std::array<double, 4>> wt(book.size(), std::array<double, 4>{});
    std::vector<std::array<double, 4>> ww(book.size(), std::array<double, 4>{});
    std::vector<std::size_t> count(book.size(), 0);
    std::vector<std::pair<float, std::size_t>> worst;
    for (std::size_t i = 0; i < n; ++i) {
      float e;
      const std::size_t r = nearest(d, i, book, &e);
      ++count[r];
      worst.emplace_back(e, i);
      for (std::size_t j = 0; j < d.dim; ++j) {
        wt[r][j] += static_cast<double>(d.weight[i * d.dim + j]) * d.target[i * d.dim + j];
        ww[r][j] += d.weight[i * d.dim + j];
      }
    }
    std::sort(worst.begin(), worst.end(), std::greater<>());
    std::size_t next_worst = 0;
    for (std::size_t r = 1; r < book.size(); ++r) {
      if (count[r] == 0) {
        const std::size_t i = worst[next_worst++ % worst.size()].second;
        for (std::size_t j = 0; j < d.dim; ++j) book[r][j] = d.target[i * d.dim + j];
        continue;
      }
      for (std::size_t j = 0; j < d.dim; ++j) {
        if (ww[r][j] > 0) book[r][j] = static_cast<float>(wt[r][j] / ww[r][j]);
      }
    }
  }
}

template <std::size_t Width>
void store(LspCodebook<Width>& out, const Book& book) {
  for (std::size_t r = 0; r < kLspCodebookRows; ++r) {
    for (std::size_t j = 0; j < Width; ++j) {
      out[r][j] = r == 0 ? 0 : static_cast<std::int16_t>(std::clamp(std::lround(book[r][j]), -32768L, 32767L));
    }
  }
}

template <std::size_t Width>
Book load(const LspCodebook<Width>& in) {
  Book book(kLspCodebookRows, std::array<float, 4>{});
  for (std::size_t r = 0; r < kLspCodebookRows; ++r) {
    for (std::size_t j = 0; j < Width; ++j) book[r][j] = in[r][j];
  }
  return book;
}

std::array<BandData, 3> collect_residuals(const std::vector<LspTrack>& tracks) {
  std::array<BandData, 3> bands;
  for (std::size_t b = 0; b < 3; ++b) bands[b].dim = kLspBandLayout[b].length;
  run_quantiser(tracks, [&](const Lsp&, const Lsp& residual, const Lsp& weights, std::int32_t, const Lsp&, bool usable) {
    if (!usable) return;
    for (std::size_t b = 0; b < 3; ++b) {
      for (std::size_t j = 0; j < bands[b].dim; ++j) {
        bands[b].target.push_back(residual[kLspBandLayout[b].first + j]);
        bands[b].weight.push_back(weights[kLspBandLayout[b].first + j]);
      }
    }
  });
  return bands;
}

// LPC polynomial A(z) (a[0] = 1) of an LSP vector: the sum polynomial holds the even-numbered
// frequencies and the root at z = -1, the difference polynomial the odd-numbered ones and z = 1.
std::array<double, 11> lsp_polynomial(const Lsp& lsp) {
  std::array<double, 12> p{1.0, 1.0};  // 1 + z^-1
  std::array<double, 12> q{1.0, -1.0}; // 1 - z^-1
  std::size_t np = 1;
  std::size_t nq = 1;
  for (std::size_t i = 0; i < 10; ++i) {
    const double c = -2.0 * std::cos(lsp[i] * std::numbers::pi / 32768.0);
    auto& poly = i % 2 == 0 ? p : q;
    std::size_t& deg = i % 2 == 0 ? np : nq;
    for (std::size_t k = deg + 2; k >= 2; --k) poly[k] += c * poly[k - 1] + poly[k - 2];
    poly[1] += c * poly[0];
    deg += 2;
  }
  std::array<double, 11> a{};
  for (std::size_t k = 0; k < 11; ++k) a[k] = 0.5 * (p[k] + q[k]);
  return a;
}

double spectral_distortion_db(const Lsp& reference, const Lsp& coded) {
  const std::array<double, 11> a = lsp_polynomial(reference);
  const std::array<double, 11> b = lsp_polynomial(coded);
  constexpr int kPoints = 256;
  double sum = 0;
  for (int k = 0; k < kPoints; ++k) {
    const double w = std::numbers::pi * (k + 0.5) / kPoints;
    std::complex<double> ea = 0;
    std::complex<double> eb = 0;
    for (std::size_t i = 0; i < 11; ++i) {
      const std::complex<double> z = std::polar(1.0, -w * static_cast<double>(i));
      ea += a[i] * z;
      eb += b[i] * z;
    }
    const double d = 10.0 * std::log10(std::norm(eb) / std::norm(ea));  // ratio of the synthesis spectra
    sum += d * d;
  }
  return std::sqrt(sum / kPoints);
}

}  // namespace

std::vector<LspTrack> extract_lsp_tracks(const std::vector<Recording>& recordings) {
  std::vector<LspTrack> tracks;
  for (const Recording& rec : recordings) {
    LspTrack track;
    std::int16_t hpf_in = 0;
    std::int32_t hpf_out = 0;
    std::int16_t sine = 0;
    CngState cng;
    std::array<std::int16_t, kAnalysisHistorySamples> history{};
    for (std::size_t f = 0; f + kFrameSamples <= rec.samples.size(); f += kFrameSamples) {
      std::array<std::int16_t, kFrameSamples> frame;
      std::copy_n(rec.samples.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
      remove_dc(frame, hpf_in, hpf_out, true);

      // The frame's LSP vector describes the analysis block of its last subframe: its last 180 samples.
      double energy = 0;
      for (std::size_t n = kSubframeSamples; n < kFrameSamples; ++n) energy += static_cast<double>(frame[n]) * frame[n];

      std::array<std::int16_t, kSubframes * kLpcOrder> lpc;
      analyse_lpc(lpc, history, frame, sine, cng);
      Lsp lsp;
      Lsp marker;
      marker.fill(-1);
      lpc_to_lsp(lsp, std::span(lpc).last<kLpcOrder>(), marker);
      shift_analysis_history(history, frame);

      track.found.push_back(lsp != marker ? 1 : 0);
      track.lsp.push_back(lsp);
      track.speech.push_back(std::sqrt(energy / 180.0) >= kSilenceRms ? 1 : 0);
    }
    tracks.push_back(std::move(track));
  }
  return tracks;
}

void train_lsp_codebooks(TableSet& set, const std::vector<LspTrack>& tracks, const LspTrainingOptions& options) {
  std::mt19937 rng(options.seed);
  install(set);
  for (int pass = 0; pass < options.passes; ++pass) {
    std::array<BandData, 3> bands = collect_residuals(tracks);
    std::array<Book, 3> books = {load(set.lsp_band0), load(set.lsp_band1), load(set.lsp_band2)};
    for (std::size_t b = 0; b < 3; ++b) {
      if (pass == 0) books[b] = seed_book(bands[b], rng);
      lloyd(books[b], bands[b], pass == 0 ? options.first_iterations : options.iterations);
    }
    store(set.lsp_band0, books[0]);
    store(set.lsp_band1, books[1]);
    store(set.lsp_band2, books[2]);
    install(set);
    const SpectralDistortion sd = lsp_spectral_distortion(tracks);
    std::fprintf(stderr, "  LSP pass %d: %zu vectors, training-set distortion %.3f dB (2-4 dB %.2f%%, >4 dB %.2f%%)\n",
                 pass + 1, bands[0].size(), sd.mean_db, 100 * sd.share_2_to_4_db, 100 * sd.share_over_4_db);
  }
}

SpectralDistortion lsp_spectral_distortion(const std::vector<LspTrack>& tracks) {
  SpectralDistortion out;
  double sum = 0;
  std::size_t mid = 0;
  std::size_t high = 0;
  run_quantiser(tracks, [&](const Lsp& lsp, const Lsp&, const Lsp&, std::int32_t, const Lsp& quantised, bool usable) {
    if (!usable) return;
    const double sd = spectral_distortion_db(lsp, quantised);
    sum += sd;
    ++out.frames;
    if (sd > 4.0) ++high;
    else if (sd >= 2.0) ++mid;
  });
  if (out.frames > 0) {
    out.mean_db = sum / static_cast<double>(out.frames);
    out.share_2_to_4_db = static_cast<double>(mid) / static_cast<double>(out.frames);
    out.share_over_4_db = static_cast<double>(high) / static_cast<double>(out.frames);
  }
  return out;
}

}  // namespace g7231::training
