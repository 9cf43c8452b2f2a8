#include "corpus.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace g7231::training {
namespace {

namespace fs = std::filesystem;

Recording load(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Recording r{path.filename().string(), std::vector<std::int16_t>(bytes.size() / 2)};
  for (std::size_t i = 0; i < r.samples.size(); ++i) {
    r.samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return r;
}

}  // namespace

std::vector<Recording> load_recordings(const std::vector<std::string>& paths) {
  std::vector<Recording> out;
  for (const std::string& p : paths) {
    if (fs::is_directory(p)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(p)) {
        if (entry.path().extension() == ".raw") files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      for (const auto& f : files) out.push_back(load(f));
    } else {
      out.push_back(load(p));
    }
  }
  return out;
}

void add_tilted_copies(std::vector<Recording>& recordings, const std::vector<double>& tilts) {
  const std::size_t originals = recordings.size();
  for (double a : tilts) {
    for (std::size_t i = 0; i < originals; ++i) {
      const Recording& r = recordings[i];
      Recording copy{r.name + "+tilt" + std::to_string(a), std::vector<std::int16_t>(r.samples.size())};
      const double scale = 1.0 / (1.0 + std::abs(a));
      for (std::size_t n = 0; n < r.samples.size(); ++n) {
        const double prev = n > 0 ? r.samples[n - 1] : 0.0;
        copy.samples[n] = static_cast<std::int16_t>(std::lround(scale * (r.samples[n] + a * prev)));
      }
      recordings.push_back(std::move(copy));
    }
  }
}

double total_seconds(const std::vector<Recording>& recordings) {
  double samples = 0;
  for (const auto& r : recordings) samples += static_cast<double>(r.samples.size());
  return samples / 8000.0;
}

}  // namespace g7231::training
