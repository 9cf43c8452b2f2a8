// g7231bench: whole-program runs for speed measurement, reading and writing one frame at a time.
//   g7231bench encode53 IN.raw OUT    codes 16-bit PCM at 5.3 kbit/s (VAD and high-pass on), 24-byte records
//   g7231bench encode63 IN.raw OUT    the same at 6.3 kbit/s
//   g7231bench decode IN OUT.raw      decodes such records (postfilter on) back to 16-bit PCM
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

int encode(FILE* in, FILE* out, bool high_rate) {
  g7231::G7231Encoder* enc = g7231::create_encoder(high_rate);
  if (enc == nullptr) return 1;
  std::array<std::int16_t, g7231::kFrameSamples> frame;
  std::array<std::uint8_t, g7231::kMaxFrameBytes> packed;
  while (std::fread(frame.data(), sizeof frame[0], frame.size(), in) == frame.size()) {
    g7231::encode_frame(enc, frame, packed);
    if (std::fwrite(packed.data(), 1, packed.size(), out) != packed.size()) return 1;
  }
  g7231::destroy_encoder(enc);
  return 0;
}

int decode(FILE* in, FILE* out) {
  g7231::G7231Decoder* dec = g7231::create_decoder();
  if (dec == nullptr) return 1;
  std::array<std::uint8_t, g7231::kMaxFrameBytes> packed;
  std::array<std::int16_t, g7231::kFrameSamples> frame;
  while (std::fread(packed.data(), 1, packed.size(), in) == packed.size()) {
    const std::size_t bytes = g7231::frame_bytes(g7231::frame_type_of(packed[0]));
    g7231::decode_frame(dec, std::span(packed).first(bytes), false, frame);
    if (std::fwrite(frame.data(), sizeof frame[0], frame.size(), out) != frame.size()) return 1;
  }
  g7231::destroy_decoder(dec);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: g7231bench encode53|encode63|decode IN OUT\n");
    return 1;
  }
  File in(std::fopen(argv[2], "rb"), std::fclose);
  File out(std::fopen(argv[3], "wb"), std::fclose);
  if (!in || !out) {
    std::fprintf(stderr, "g7231bench: cannot open %s or %s\n", argv[2], argv[3]);
    return 1;
  }
  if (std::strcmp(argv[1], "encode53") == 0) return encode(in.get(), out.get(), false);
  if (std::strcmp(argv[1], "encode63") == 0) return encode(in.get(), out.get(), true);
  if (std::strcmp(argv[1], "decode") == 0) return decode(in.get(), out.get());
  std::fprintf(stderr, "g7231bench: unknown mode %s\n", argv[1]);
  return 1;
}
