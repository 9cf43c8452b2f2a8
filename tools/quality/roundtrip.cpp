// Codes a raw speech file and decodes it again, for listening and for the quality measures: at either
// rate, with or without voice activity detection and the postfilter, optionally losing frames in a
// regular pattern. The output lags the input by the coder's delay of one subframe (60 samples).
//
//   g7231roundtrip [--high-rate] [--no-vad] [--no-postfilter] [--lose EVERY:COUNT[:FIRST]] in.raw out.raw
//
// --lose 20:3 loses frames 0, 1, 2, 20, 21, 22, ...; an optional third figure moves the first loss.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "g7231/version.h"

namespace {

using namespace g7231;

struct Options {
  EncoderOptions encoder;
  DecoderOptions decoder;
  long lose_every = 0;
  long lose_count = 0;
  long lose_first = 0;
  std::string in, out;
};

int usage() {
  std::fputs("usage: g7231roundtrip [--high-rate] [--no-vad] [--no-postfilter] [--lose EVERY:COUNT[:FIRST]] in.raw out.raw\n",
             stderr);
  return 1;
}

bool parse_loss(const char* text, Options& o) {
  char* end = nullptr;
  o.lose_every = std::strtol(text, &end, 10);
  if (*end != ':') return false;
  o.lose_count = std::strtol(end + 1, &end, 10);
  if (*end == ':') o.lose_first = std::strtol(end + 1, &end, 10);
  return *end == '\0' && o.lose_every > 0 && o.lose_count >= 0 && o.lose_first >= 0;
}

bool lost(const Options& o, long frame) {
  if (o.lose_every == 0 || frame < o.lose_first) return false;
  return (frame - o.lose_first) % o.lose_every < o.lose_count;
}

}  // namespace

int main(int argc, char* argv[]) {
  Options o;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--version") {
      std::printf("g7231roundtrip %s\n", G7231_VERSION_STRING);
      return 0;
    }
    if (a == "--high-rate") {
      o.encoder.high_rate = true;
    } else if (a == "--no-vad") {
      o.encoder.vad = false;
    } else if (a == "--no-postfilter") {
      o.decoder.postfilter = false;
    } else if (a == "--lose" && i + 1 < argc) {
      if (!parse_loss(argv[++i], o)) return usage();
    } else if (!a.empty() && a[0] == '-') {
      return usage();
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return usage();

  std::FILE* in = std::fopen(files[0].c_str(), "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", files[0].c_str());
    return 1;
  }
  std::vector<std::uint8_t> output;
  G7231Encoder* enc = create_encoder(o.encoder);
  G7231Decoder* dec = create_decoder(o.decoder);
  if (enc == nullptr || dec == nullptr) {
    std::fputs("cannot create the encoder or decoder\n", stderr);
    std::fclose(in);
    return 1;
  }
  std::array<std::uint8_t, 2 * kFrameSamples> bytes;
  std::array<std::int16_t, kFrameSamples> frame;
  std::array<std::uint8_t, kMaxFrameBytes> packed;
  std::array<std::int16_t, kFrameSamples> decoded;
  for (long f = 0; std::fread(bytes.data(), 1, bytes.size(), in) == bytes.size(); ++f) {
    for (std::size_t n = 0; n < kFrameSamples; ++n) {
      frame[n] = static_cast<std::int16_t>(bytes[2 * n] | (bytes[2 * n + 1] << 8));  // little-endian
    }
    encode_frame(enc, frame, packed);
    decode_frame(dec, std::span(packed).first(frame_bytes(frame_type_of(packed[0]))), lost(o, f), decoded);
    for (const std::int16_t v : decoded) {
      output.push_back(static_cast<std::uint8_t>(v & 0xFF));
      output.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
  }
  const bool read_failed = std::ferror(in) != 0;
  std::fclose(in);
  destroy_encoder(enc);
  destroy_decoder(dec);
  if (read_failed) {
    std::fprintf(stderr, "cannot read %s\n", files[0].c_str());
    return 1;
  }

  std::FILE* out = std::fopen(files[1].c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "cannot create %s\n", files[1].c_str());
    return 1;
  }
  const bool written = std::fwrite(output.data(), 1, output.size(), out) == output.size();
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "cannot write %s\n", files[1].c_str());
    std::remove(files[1].c_str());
    return 1;
  }
  return 0;
}
