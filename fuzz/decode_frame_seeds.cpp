// Writes seed inputs for the decode_frame fuzz target (decode_frame_input.h) into a directory: real coded
// frames of the bundled speech at both rates, with silence frames, and copies of them with frames lost
// and cut short. Minimise them into the target's corpus with
//   decode_frame_fuzzer -merge=1 fuzz/corpus/decode_frame_fuzzer DIR
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bitstream/frame_layout.h"
#include "codec/encoder/encoder.h"
#include "fuzz/decode_frame_input.h"
#include "tests/speech_samples.h"

namespace g7231::fuzz {
namespace {

constexpr std::size_t kFramesPerSeed = 12;

using Packed = std::array<std::uint8_t, kMaxFrameBytes>;

std::vector<Packed> encode(const std::vector<std::int16_t>& speech, bool high_rate) {
  G7231Encoder* enc = create_encoder(high_rate);
  std::vector<Packed> frames;
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> frame;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    frames.emplace_back();
    encode_frame(enc, frame, frames.back());
  }
  destroy_encoder(enc);
  return frames;
}

// How a seed alters the frames it carries.
struct Variant {
  const char* name;
  std::uint8_t options;
  std::size_t lost_from, lost_to;  // frames flagged lost
  std::size_t cut;                 // this frame arrives 5 bytes short (kFramesPerSeed: none)
};

constexpr std::array<Variant, 4> kVariants = {{
    {"clean", 0, 0, 0, kFramesPerSeed},
    {"unfiltered", kNoPostfilter, 0, 0, kFramesPerSeed},
    {"burst", 0, 3, 7, kFramesPerSeed},
    {"cut", 0, 0, 0, 4},
}};

void write_seed(const std::string& path, const std::vector<Packed>& frames, std::size_t first, const Variant& v) {
  std::vector<std::uint8_t> seed{v.options};
  for (std::size_t i = 0; i < kFramesPerSeed && first + i < frames.size(); ++i) {
    const Packed& p = frames[first + i];
    std::size_t length = frame_bytes(frame_type_of(p[0]));
    if (i == v.cut) length -= std::min<std::size_t>(length, 5);
    seed.push_back(frame_header(length, i >= v.lost_from && i < v.lost_to));
    seed.insert(seed.end(), p.begin(), p.begin() + static_cast<std::ptrdiff_t>(length));
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(seed.data()),
                                              static_cast<std::streamsize>(seed.size()));
}

}  // namespace
}  // namespace g7231::fuzz

int main(int argc, char* argv[]) {
  using namespace g7231;
  using namespace g7231::fuzz;
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s directory\n", argv[0]);
    return 1;
  }
  int written = 0;
  for (const char* file : {"hts1a.raw", "cross.raw"}) {
    const std::vector<std::int16_t> speech = load_speech_sample(file);
    for (const bool high_rate : {false, true}) {
      const std::vector<Packed> frames = encode(speech, high_rate);
      for (std::size_t first = 0; first < frames.size(); first += kFramesPerSeed) {
        for (const Variant& v : kVariants) {
          write_seed(std::string(argv[1]) + "/" + file + (high_rate ? "-6.3-" : "-5.3-") + std::to_string(first) +
                         "-" + v.name,
                     frames, first, v);
          ++written;
        }
      }
    }
  }
  std::printf("%d seeds\n", written);
  return 0;
}
