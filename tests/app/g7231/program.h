// Running the built g7231 program from tests, in a scratch directory of its own, with audio files made by
// libsndfile and reference frames and speech from the codec library.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/g7231/resampler.h"
#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "tests/speech_samples.h"

namespace g7231::app::test {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// s quoted for the shell.
inline std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::uint8_t> read_bytes(const fs::path& p) {
  const std::string s = read_text(p);
  return {s.begin(), s.end()};
}

inline void write_bytes(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> pcm_bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> bytes;
  for (std::int16_t s : samples) {
    bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
  }
  return bytes;
}

inline std::vector<std::int16_t> pcm_samples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

// Speech of the bundled sample at another rate, full scale ±1.0.
inline std::vector<float> speech_at(const std::string& sample, int rate) {
  const std::vector<std::int16_t> pcm = load_speech_sample(sample);
  std::vector<float> in(pcm.size());
  for (std::size_t i = 0; i < pcm.size(); ++i) in[i] = pcm[i] / 32768.0F;
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

// A scratch directory per test, and the program run inside it.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "g7231-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir_, ec)) {
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(dir_, ec);
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // `g7231 args` as a shell command.
  static std::string command(const std::vector<std::string>& args) {
    std::string cmd = quoted(G7231_PATH);
    for (const auto& a : args) cmd.append(" ").append(quoted(a));
    return cmd;
  }

  // Runs a shell command line, capturing its standard output and error.
  Outcome shell(const std::string& command_line) const {
    const std::string cmd = "(" + command_line + ") >" + quoted(path(".out")) + " 2>" + quoted(path(".err"));
    Outcome r;
    const int st = std::system(cmd.c_str());
    if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
    r.out = read_text(path(".out"));
    r.err = read_text(path(".err"));
    fs::remove(path(".out"));
    fs::remove(path(".err"));
    return r;
  }

  // Runs `g7231 args` with standard input from stdin_path.
  Outcome run(const std::vector<std::string>& args, const std::string& stdin_path = "/dev/null") const {
    return shell(command(args) + " <" + quoted(stdin_path));
  }

  // The names in the scratch directory.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

}  // namespace g7231::app::test
