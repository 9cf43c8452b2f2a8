// train_tables: trains the encoder's table set from speech, or measures a set.
//
//   train_tables train --train PATH... --eval PATH... --header OUT.h --set OUT.set [--tilt A]... [--quick]
//   train_tables train-lsp --train PATH... --eval PATH... [--set OUT.set]
//   train_tables evaluate (--set FILE | --placeholder) --eval PATH...
//
// PATHs are raw 16-bit little-endian 8 kHz files, or directories of them. Training starts from the
// placeholder set, trains the LSP codebooks, then the pitch-gain tables (with the taming and sharpening
// tables derived from them), validates the result and writes it as a text set file and as the encoder's
// data unit. Every random choice is seeded, so the same corpus gives the same set.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "corpus.h"
#include "evaluation.h"
#include "gain_training.h"
#include "lsp_training.h"
#include "table_sets.h"
#include "tools/table_set/validation.h"

namespace g7231::training {
namespace {

struct Arguments {
  std::string command;
  std::vector<std::string> train;
  std::vector<std::string> eval;
  std::string header;
  std::string set;
  bool placeholder = false;
  bool quick = false;
  std::vector<double> tilts;
};

Arguments parse(int argc, char* argv[]) {
  Arguments a;
  if (argc < 2) throw std::runtime_error("usage: train_tables train|evaluate ...");
  a.command = argv[1];
  std::vector<std::string>* list = nullptr;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--train") list = &a.train;
    else if (arg == "--eval") list = &a.eval;
    else if (arg == "--header") a.header = value(), list = nullptr;
    else if (arg == "--set") a.set = value(), list = nullptr;
    else if (arg == "--placeholder") a.placeholder = true, list = nullptr;
    else if (arg == "--quick") a.quick = true, list = nullptr;
    else if (arg == "--tilt") a.tilts.push_back(std::stod(value())), list = nullptr;
    else if (list != nullptr && arg.rfind("--", 0) != 0) list->push_back(arg);
    else throw std::runtime_error("unknown argument " + arg);
  }
  return a;
}

struct Figures {
  SpectralDistortion sd;
  SegmentalSnr low;
  SegmentalSnr high;
};

Figures measure(const TableSet& set, const std::vector<Recording>& eval) {
  install(set);
  return {lsp_spectral_distortion(extract_lsp_tracks(eval)), segmental_snr(eval, false), segmental_snr(eval, true)};
}

std::string describe(const Figures& f) {
  std::ostringstream os;
  char line[256];
  std::snprintf(line, sizeof line,
                "LSP spectral distortion %.2f dB mean, %.2f%% of frames 2-4 dB, %.2f%% over 4 dB (%zu frames); "
                "segmental SNR %.2f dB at 5.3 kbit/s, %.2f dB at 6.3 kbit/s (%zu, %zu frames)",
                f.sd.mean_db, 100 * f.sd.share_2_to_4_db, 100 * f.sd.share_over_4_db, f.sd.frames, f.low.mean_db,
                f.high.mean_db, f.low.frames, f.high.frames);
  os << line;
  return os.str();
}

std::string corpus_list(const std::vector<Recording>& recordings) {
  std::ostringstream os;
  for (const auto& r : recordings) {
    char line[128];
    std::snprintf(line, sizeof line, "//   %-32s %7.1f s\n", r.name.c_str(), static_cast<double>(r.samples.size()) / 8000);
    os << line;
  }
  return os.str();
}

int train(const Arguments& a) {
  const std::vector<Recording> corpus = load_recordings(a.train);
  const std::vector<Recording> eval = load_recordings(a.eval);
  std::fprintf(stderr, "training corpus: %zu recordings, %.1f s; held-out evaluation: %zu recordings, %.1f s\n",
               corpus.size(), total_seconds(corpus), eval.size(), total_seconds(eval));

  TableSet set = placeholder_set();
  const Figures before = measure(set, eval);
  std::fprintf(stderr, "placeholder set: %s\n", describe(before).c_str());

  LspTrainingOptions lsp_options;
  GainTrainingOptions gain_options;
  if (a.quick) {
    lsp_options.passes = 2;
    lsp_options.first_iterations = 5;
    lsp_options.iterations = 2;
    gain_options.passes = 2;
    gain_options.first_iterations = 5;
    gain_options.iterations = 2;
  }
  std::fprintf(stderr, "training the LSP codebooks\n");
  {
    std::vector<Recording> lsp_corpus = corpus;  // tilted copies widen the spectral envelopes seen
    add_tilted_copies(lsp_corpus, a.tilts);
    train_lsp_codebooks(set, extract_lsp_tracks(lsp_corpus), lsp_options);
  }
  std::fprintf(stderr, "training the pitch-gain tables\n");
  train_gain_tables(set, corpus, gain_options);

  const auto structure = tables::check_structure(set.view());
  for (const auto& c : structure) {
    if (!c.ok) throw std::runtime_error("trained set fails: " + c.what + ": " + c.detail);
  }
  const bool published = tables::all_ok(tables::check_published_values(set.view()));
  const Figures after = measure(set, eval);
  std::fprintf(stderr, "trained set: %s\n", describe(after).c_str());

  std::vector<std::string> words = {"train_tables", "train", "--train"};
  words.insert(words.end(), a.train.begin(), a.train.end());
  words.push_back("--eval");
  words.insert(words.end(), a.eval.begin(), a.eval.end());
  for (double t : a.tilts) {
    words.push_back("--tilt");
    std::ostringstream os;
    os << t;
    words.push_back(os.str());
  }
  if (a.quick) words.push_back("--quick");
  std::ostringstream provenance;
  std::string line = "// Generated by:";
  for (const std::string& w : words) {
    if (line.size() + 1 + w.size() > 110) {
      provenance << line << "\n";
      line = "//  ";
    }
    line += " " + w;
  }
  provenance << line << "\n//\n"
             << "// Method: generalised Lloyd training, closed loop through the encoder, with fixed seeds (LSP "
             << lsp_options.seed << ", gains " << gain_options.seed << "): " << lsp_options.passes
             << " quantiser\n// passes for the LSP codebooks (the quantiser's weighted error; the corpus also through the tilts\n"
             << "// listed above, 1 + a z^-1), " << gain_options.passes
             << " encoder passes at both rates for the pitch-gain tables (the search's own\n"
             << "// criterion); taming bounds and sharpening derived from the gain entries\n"
             << "// (tools/train_tables/gain_training.h).\n//\n"
             << "// Training corpus (" << corpus.size() << " recordings, " << static_cast<int>(total_seconds(corpus))
             << " s):\n"
             << corpus_list(corpus) << "//\n// Held out for evaluation only:\n"
             << corpus_list(eval) << "//\n// On the held-out speech:\n//   placeholder set: " << describe(before)
             << "\n//   this set:        " << describe(after) << "\n//\n"
             << "// Structure the encoder needs: yes. Holds the values published for the standard's set: "
             << (published ? "yes" : "no") << ".\n";

  if (!a.set.empty()) write_set(a.set, set);
  if (!a.header.empty()) write_header(a.header, set, provenance.str());
  std::fprintf(stderr, "written:%s%s%s%s\n", a.set.empty() ? "" : " ", a.set.c_str(), a.header.empty() ? "" : " ",
               a.header.c_str());
  return 0;
}

// The LSP codebooks alone, for comparing corpora quickly: prints the held-out distortion.
int train_lsp(const Arguments& a) {
  std::vector<Recording> corpus = load_recordings(a.train);
  add_tilted_copies(corpus, a.tilts);
  const std::vector<Recording> eval = load_recordings(a.eval);
  TableSet set = placeholder_set();
  train_lsp_codebooks(set, extract_lsp_tracks(corpus), LspTrainingOptions{});
  const SpectralDistortion sd = lsp_spectral_distortion(extract_lsp_tracks(eval));
  std::printf("held-out LSP spectral distortion %.3f dB mean, %.2f%% 2-4 dB, %.2f%% over 4 dB (%zu frames)\n",
              sd.mean_db, 100 * sd.share_2_to_4_db, 100 * sd.share_over_4_db, sd.frames);
  if (!a.set.empty()) write_set(a.set, set);
  return 0;
}

int evaluate(const Arguments& a) {
  const TableSet set = a.placeholder ? placeholder_set() : read_set(a.set);
  const std::vector<Recording> eval = load_recordings(a.eval);
  std::printf("%s\n", describe(measure(set, eval)).c_str());
  return 0;
}

}  // namespace
}  // namespace g7231::training

int main(int argc, char* argv[]) {
  try {
    const auto args = g7231::training::parse(argc, argv);
    if (args.command == "train") return g7231::training::train(args);
    if (args.command == "evaluate") return g7231::training::evaluate(args);
    if (args.command == "train-lsp") return g7231::training::train_lsp(args);
    throw std::runtime_error("unknown command " + args.command);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "train_tables: %s\n", e.what());
    return 1;
  }
}
