// The equivalence corpus: every bundled speech file and synthetic signals at the extremes of the input
// range, each coded in the eight configurations (both rates, voice activity detection on and off, high-pass
// filter on and off), summarised as one hash of the coded bytes per signal and configuration.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"
#include "tests/codec/decoder/signals.h"
#include "tests/speech_samples.h"

namespace g7231 {

inline std::vector<Signal> equivalence_corpus() {
  std::vector<Signal> out;
  for (const char* name : {"hts1a.raw", "hts2a.raw", "mmt1.raw", "morig.raw", "forig.raw", "big_dog.raw", "cross.raw",
                           "vk2tpm_004.raw"}) {
    out.push_back({name, load_speech_sample(name)});
  }
  for (Signal& s : synthetic_signals()) out.push_back(std::move(s));

  constexpr std::size_t kLength = 40 * kFrameSamples;
  // Full-scale impulses of both signs, a few per frame at irregular spacing.
  std::vector<std::int16_t> impulses(kLength, 0);
  for (std::size_t n = 17, i = 0; n < kLength; n += 61 + 37 * (i % 5), ++i) impulses[n] = i % 2 ? -32768 : 32767;
  out.push_back({"impulses", impulses});
  out.push_back({"dc high", std::vector<std::int16_t>(kLength, 32767)});
  out.push_back({"dc low", std::vector<std::int16_t>(kLength, -32768)});
  std::vector<std::int16_t> alternating(kLength);
  for (std::size_t n = 0; n < kLength; ++n) alternating[n] = n % 2 ? -32768 : 32767;
  out.push_back({"alternating", alternating});
  std::mt19937 rng(4711);
  std::vector<std::int16_t> quiet(kLength);
  for (auto& v : quiet) v = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-3, 3)(rng));
  out.push_back({"quiet noise", quiet});
  // Speech and silence alternating every one to three frames.
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  std::vector<std::int16_t> switching(speech.size(), 0);
  for (std::size_t f = 0, run = 0; f * kFrameSamples < speech.size(); ++f) {
    const bool talk = (run++ / (1 + f % 3)) % 2 == 0;
    for (std::size_t n = f * kFrameSamples; n < std::min(speech.size(), (f + 1) * kFrameSamples); ++n) {
      switching[n] = talk ? speech[n] : 0;
    }
  }
  out.push_back({"speech/silence switching", switching});
  return out;
}

// The eight configurations, named for the report.
struct CorpusConfig {
  std::string name;
  EncoderOptions options;
};

inline std::vector<CorpusConfig> corpus_configs(SimdLevel simd) {
  std::vector<CorpusConfig> out;
  for (const bool high_rate : {false, true}) {
    for (const bool vad : {true, false}) {
      for (const bool highpass : {true, false}) {
        const std::string name = std::string(high_rate ? "6.3" : "5.3") + (vad ? " vad" : " no-vad") +
                                 (highpass ? " hpf" : " no-hpf");
        out.push_back({name, {.high_rate = high_rate, .vad = vad, .highpass = highpass, .simd = simd}});
      }
    }
  }
  return out;
}

// FNV-1a over the 24-byte output of every frame, and over the reconstructed speech the encoder leaves.
inline std::uint64_t code_signal(const std::vector<std::int16_t>& signal, const EncoderOptions& options) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  const auto mix = [&h](std::uint8_t b) { h = (h ^ b) * 0x100000001b3ull; };
  G7231Encoder* enc = create_encoder(options);
  for (std::size_t f = 0; f + kFrameSamples <= signal.size(); f += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> frame;
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> out{};
    encode_frame(enc, frame, out);
    for (std::uint8_t b : out) mix(b);
    for (std::int16_t v : frame) {
      mix(static_cast<std::uint8_t>(v));
      mix(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
    }
  }
  destroy_encoder(enc);
  return h;
}

// One line per signal and configuration: "signal | configuration | hash".
inline std::vector<std::string> corpus_hashes(const std::vector<Signal>& corpus, SimdLevel simd) {
  std::vector<std::string> lines;
  for (const Signal& s : corpus) {
    for (const CorpusConfig& c : corpus_configs(simd)) {
      lines.push_back(s.name + " | " + c.name + " | " + std::to_string(code_signal(s.samples, c.options)));
    }
  }
  return lines;
}

}  // namespace g7231
