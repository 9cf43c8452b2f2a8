// Access to the bundled speech samples from tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace g7231 {

// The samples of a bundled speech file (raw 16-bit little-endian PCM).
inline std::vector<std::int16_t> load_speech_sample(const std::string& name) {
  const std::string path = std::string(G7231_SPEECH_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open speech sample " + path);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

}  // namespace g7231
