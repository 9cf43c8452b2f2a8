// Decoding speed of the decoder object on the bundled real speech, coded at both rates (voice activity
// detection on, as the command-line encoder codes), with and without the postfilter. Reports frames per
// second and the multiple of real time (one frame is 30 ms of speech).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

using Packed = std::vector<std::uint8_t>;

std::vector<Packed> coded_speech(bool high_rate) {
  std::vector<Packed> out;
  G7231Encoder* enc = create_encoder(high_rate);
  for (const char* name : {"hts1a.raw", "hts2a.raw", "mmt1.raw", "morig.raw", "forig.raw", "big_dog.raw",
                           "cross.raw", "vk2tpm_004.raw"}) {
    const std::vector<std::int16_t> s = load_speech_sample(name);
    for (std::size_t i = 0; i + kFrameSamples <= s.size(); i += kFrameSamples) {
      std::array<std::int16_t, kFrameSamples> f;
      std::copy_n(s.begin() + static_cast<std::ptrdiff_t>(i), kFrameSamples, f.begin());
      std::array<std::uint8_t, kMaxFrameBytes> p;
      encode_frame(enc, f, p);
      out.emplace_back(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(frame_bytes(frame_type_of(p[0]))));
    }
  }
  destroy_encoder(enc);
  return out;
}

void decode_speech(benchmark::State& state, bool high_rate, bool postfilter) {
  const std::vector<Packed> frames = coded_speech(high_rate);
  std::array<std::int16_t, kFrameSamples> out{};
  std::chrono::duration<double> spent{0};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    G7231Decoder* dec = create_decoder({.postfilter = postfilter});
    for (const Packed& p : frames) {
      decode_frame(dec, p, false, out);
      benchmark::DoNotOptimize(out);
    }
    destroy_decoder(dec);
    spent += std::chrono::steady_clock::now() - start;
  }
  const double n = static_cast<double>(frames.size()) * static_cast<double>(state.iterations());
  state.counters["frames_per_second"] = n / spent.count();
  state.counters["x_real_time"] = n * 0.030 / spent.count();
}

void BM_Decode53(benchmark::State& state) { decode_speech(state, false, true); }
void BM_Decode63(benchmark::State& state) { decode_speech(state, true, true); }
void BM_Decode53NoPostfilter(benchmark::State& state) { decode_speech(state, false, false); }
void BM_Decode63NoPostfilter(benchmark::State& state) { decode_speech(state, true, false); }
BENCHMARK(BM_Decode53)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode63)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode53NoPostfilter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode63NoPostfilter)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace g7231

BENCHMARK_MAIN();
