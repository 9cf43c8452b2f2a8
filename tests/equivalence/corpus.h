// The equivalence corpus: every bundled speech file and synthetic signals at the extremes of the input
// range, each coded in the eight configurations (both rates, voice activity detection on and off, high-pass
// filter on and off), summarised as one hash of the coded bytes per signal and configuration, and two of
// the decoded speech: the stream as coded, and the stream with frames lost and damaged.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "codec/decoder/decoder.h"
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

// FNV-1a, one byte at a time.
struct Fnv1a {
  std::uint64_t h = 0xcbf29ce484222325ull;
  void byte(std::uint8_t b) { h = (h ^ b) * 0x100000001b3ull; }
  void samples(std::span<const std::int16_t> v) {
    for (std::int16_t x : v) {
      byte(static_cast<std::uint8_t>(x));
      byte(static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8));
    }
  }
};

// The hash of the 24-byte output of every frame and of the reconstructed speech the encoder leaves; the
// coded frames are appended to stream.
inline std::uint64_t code_signal(const std::vector<std::int16_t>& signal, const EncoderOptions& options,
                                 std::vector<std::array<std::uint8_t, kMaxFrameBytes>>& stream) {
  Fnv1a h;
  G7231Encoder* enc = create_encoder(options);
  for (std::size_t f = 0; f + kFrameSamples <= signal.size(); f += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> frame;
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> out{};
    encode_frame(enc, frame, out);
    for (std::uint8_t b : out) h.byte(b);
    h.samples(frame);
    stream.push_back(out);
  }
  destroy_encoder(enc);
  return h.h;
}

// The hash of the postfiltered speech decoded from a stream; when damaged, every 11th frame is lost and
// every 7th has bytes overwritten (which may change its type or make it one no encoder writes).
inline std::uint64_t decode_stream(const std::vector<std::array<std::uint8_t, kMaxFrameBytes>>& stream, bool damaged) {
  Fnv1a h;
  G7231Decoder* dec = create_decoder({.postfilter = true});
  for (std::size_t f = 0; f < stream.size(); ++f) {
    std::array<std::uint8_t, kMaxFrameBytes> frame = stream[f];
    const bool lost = damaged && f % 11 == 5;
    if (damaged && f % 7 == 3) {
      for (std::size_t i = 0; i < frame.size(); i += 3) frame[i] = static_cast<std::uint8_t>(frame[i] ^ (0x5a + 13 * f));
    }
    std::array<std::int16_t, kFrameSamples> speech{};
    decode_frame(dec, frame, lost, speech);
    h.samples(speech);
  }
  destroy_decoder(dec);
  return h.h;
}

// Three lines per signal and configuration: "signal | configuration | what | hash", for the coded bytes,
// the decoded speech and the decoded speech of the damaged stream.
inline std::vector<std::string> corpus_hashes(const std::vector<Signal>& corpus, SimdLevel simd) {
  std::vector<std::string> lines;
  for (const Signal& s : corpus) {
    for (const CorpusConfig& c : corpus_configs(simd)) {
      std::vector<std::array<std::uint8_t, kMaxFrameBytes>> stream;
      const std::string name = s.name + " | " + c.name + " | ";
      lines.push_back(name + "coded | " + std::to_string(code_signal(s.samples, c.options, stream)));
      lines.push_back(name + "decoded | " + std::to_string(decode_stream(stream, false)));
      lines.push_back(name + "decoded damaged | " + std::to_string(decode_stream(stream, true)));
    }
  }
  return lines;
}

// The number of lines corpus_hashes gives for a corpus.
inline std::size_t corpus_line_count(const std::vector<Signal>& corpus) { return corpus.size() * 8 * 3; }

}  // namespace g7231
