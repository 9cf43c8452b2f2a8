// Speech recordings for training and evaluation: raw 16-bit little-endian PCM at 8 kHz.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace g7231::training {

struct Recording {
  std::string name;
  std::vector<std::int16_t> samples;
};

// The recordings named by paths: files, or directories whose *.raw files are taken in name order.
std::vector<Recording> load_recordings(const std::vector<std::string>& paths);

double total_seconds(const std::vector<Recording>& recordings);

// Adds, for every recording, copies through first-order tilts 1 + a z^-1 for each a (scaled so as not
// to clip): the same speech as if picked up by brighter or duller microphones and channels.
void add_tilted_copies(std::vector<Recording>& recordings, const std::vector<double>& tilts);

}  // namespace g7231::training
