// Encoding speed of the encoder object on the bundled real speech, at both rates.
// Reports frames per second and the multiple of real time (one frame is 30 ms of speech).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

using Frame = std::array<std::int16_t, kFrameSamples>;

const std::vector<Frame>& speech_frames() {
  static const std::vector<Frame> frames = [] {
    std::vector<Frame> out;
    for (const char* name : {"hts1a.raw", "hts2a.raw", "mmt1.raw", "morig.raw", "forig.raw", "big_dog.raw",
                             "cross.raw", "vk2tpm_004.raw"}) {
      const std::vector<std::int16_t> s = load_speech_sample(name);
      for (std::size_t i = 0; i + kFrameSamples <= s.size(); i += kFrameSamples) {
        Frame f;
        std::copy_n(s.begin() + static_cast<std::ptrdiff_t>(i), kFrameSamples, f.begin());
        out.push_back(f);
      }
    }
    return out;
  }();
  return frames;
}

// One pass over all bundled speech per iteration, with a fresh encoder as the command-line program uses;
// argument 0 runs the scalar kernels, 1 the best level this processor runs.
void encode_speech(benchmark::State& state, bool high_rate) {
  const std::vector<Frame>& frames = speech_frames();
  std::array<std::uint8_t, kMaxFrameBytes> out{};
  std::chrono::duration<double> spent{0};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    G7231Encoder* enc = create_encoder(
        EncoderOptions{.high_rate = high_rate, .simd = state.range(0) == 0 ? SimdLevel::scalar : SimdLevel::best});
    for (const Frame& f : frames) {
      Frame work = f;  // the encoder overwrites its input
      encode_frame(enc, work, out);
      benchmark::DoNotOptimize(out);
    }
    destroy_encoder(enc);
    spent += std::chrono::steady_clock::now() - start;
  }
  const double n = static_cast<double>(frames.size()) * static_cast<double>(state.iterations());
  state.counters["frames_per_second"] = n / spent.count();
  state.counters["x_real_time"] = n * 0.030 / spent.count();
}

void BM_Encode53(benchmark::State& state) { encode_speech(state, false); }
void BM_Encode63(benchmark::State& state) { encode_speech(state, true); }
BENCHMARK(BM_Encode53)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode63)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace g7231

BENCHMARK_MAIN();
