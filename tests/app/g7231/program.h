// Running the built g7231 program from tests, with audio files made by libsndfile and reference frames and
// speech from the codec library.
#pragma once

#include <sndfile.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/common/pcm_conversion.h"
#include "app/g7231/resampler.h"
#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "tests/app/program_runner.h"
#include "tests/speech_samples.h"

namespace g7231::app::test {

// Speech of the bundled sample at another rate, full scale ±1.0.
inline std::vector<float> speech_at(const std::string& sample, int rate) {
  const std::vector<std::int16_t> pcm = load_speech_sample(sample);
  std::vector<float> in(pcm.size());
  cli::pcm16_to_float(pcm, in);
  if (rate == 8000) return in;
  std::vector<float> out;
  Resampler r(8000, rate);
  r.process(in, out);
  r.flush(out);
  return out;
}

struct Audio {
  int rate = 0;
  int channels = 0;
  std::vector<std::int16_t> samples;  // interleaved
};

// Writes interleaved samples in a libsndfile format (SF_FORMAT_WAV | SF_FORMAT_FLOAT, ...).
inline void write_audio(const fs::path& p, int format, int rate, int channels, const std::vector<float>& samples) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  // Float files keep values beyond full scale as they are.
  sf_command(f, SFC_SET_CLIPPING, nullptr, SF_FALSE);
  EXPECT_EQ(sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size()) / channels),
            static_cast<sf_count_t>(samples.size()) / channels);
  sf_close(f);
}

inline Audio read_audio(const fs::path& p) {
  Audio a;
  SF_INFO info{};
  SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
  if (f == nullptr) return a;
  a.rate = info.samplerate;
  a.channels = info.channels;
  a.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  a.samples.resize(static_cast<std::size_t>(sf_readf_short(f, a.samples.data(), info.frames) * info.channels));
  sf_close(f);
  return a;
}

// The library's packed stream for speech (a last partial frame completed with zeros).
inline std::vector<std::uint8_t> library_packed(std::vector<std::int16_t> speech, const EncoderOptions& options) {
  speech.resize((speech.size() + kFrameSamples - 1) / kFrameSamples * kFrameSamples, 0);
  G7231Encoder* enc = create_encoder(options);
  std::vector<std::uint8_t> packed;
  std::array<std::uint8_t, kMaxFrameBytes> frame{};
  for (std::size_t at = 0; at < speech.size(); at += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> samples{};
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(at), kFrameSamples, samples.begin());
    encode_frame(enc, samples, frame);
    const auto size = static_cast<std::ptrdiff_t>(frame_bytes(frame_type_of(frame[0])));
    packed.insert(packed.end(), frame.begin(), frame.begin() + size);
  }
  destroy_encoder(enc);
  return packed;
}

// The library's speech for a packed stream (with the built-in table set unless another is given).
inline std::vector<std::int16_t> library_decoded(const std::vector<std::uint8_t>& packed, bool postfilter,
                                                 const TableSet* tables = nullptr) {
  G7231Decoder* dec = create_decoder({.postfilter = postfilter, .tables = tables});
  std::vector<std::int16_t> speech;
  std::array<std::int16_t, kFrameSamples> out{};
  for (std::size_t at = 0; at < packed.size(); at += frame_bytes(frame_type_of(packed[at]))) {
    decode_frame(dec, std::span(packed).subspan(at), false, out);
    speech.insert(speech.end(), out.begin(), out.end());
  }
  destroy_decoder(dec);
  return speech;
}

// `g7231 args` as a shell command.
inline std::string command(const std::vector<std::string>& args) {
  std::string cmd = quoted(G7231_PATH);
  for (const auto& a : args) cmd.append(" ").append(quoted(a));
  return cmd;
}

inline RunResult run(const std::vector<std::string>& args) { return run_program(G7231_PATH, args); }

}  // namespace g7231::app::test
