#include "corpus.h"

#include <algorithm>
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

double total_seconds(const std::vector<Recording>& recordings) {
  double samples = 0;
  for (const auto& r : recordings) samples += static_cast<double>(r.samples.size());
  return samples / 8000.0;
}

}  // namespace g7231::training
