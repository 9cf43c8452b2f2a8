// Fuzz target: arbitrary bytes as a stream of received frames (decode_frame_input.h), each given to
// decode_frame in a buffer of exactly its length, so that a read past its end is caught.
//
// Two decoders receive the same stream into output buffers filled with different patterns beforehand;
// their outputs must agree, so every one of the 240 samples is written and none depends on what the
// buffer held. A lost or cut-short frame must be reported as concealed, and the reported type must be the
// frame's own type bits.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

#include "codec/decoder/decoder.h"
#include "fuzz/decode_frame_input.h"

namespace g7231::fuzz {
namespace {

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "decode_frame_fuzzer: %s\n", what);
  std::abort();
}

struct DestroyDecoder {
  void operator()(G7231Decoder* decoder) const { destroy_decoder(decoder); }
};
using DecoderPtr = std::unique_ptr<G7231Decoder, DestroyDecoder>;

}  // namespace
}  // namespace g7231::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace g7231;
  using namespace g7231::fuzz;
  if (size == 0) return 0;
  const DecoderOptions options{.postfilter = (data[0] & kNoPostfilter) == 0};
  const DecoderPtr a(create_decoder(options));
  const DecoderPtr b(create_decoder(options));
  check(a != nullptr && b != nullptr, "no decoder");

  std::size_t at = 1;
  while (at < size) {
    const std::uint8_t header = data[at++];
    const std::size_t length = std::min<std::size_t>(header & kLengthMask, size - at);
    const bool lost = (header & kLost) != 0;
    // A heap block of the frame's own length: a read past it is an AddressSanitizer report.
    const std::unique_ptr<std::uint8_t[]> frame(new std::uint8_t[length]);
    std::copy_n(data + at, length, frame.get());
    at += length;
    const std::span<const std::uint8_t> bytes(frame.get(), length);

    std::array<std::int16_t, kFrameSamples> out_a;
    std::array<std::int16_t, kFrameSamples> out_b;
    out_a.fill(0x5555);
    out_b.fill(-0x5556);
    const DecodeResult ra = decode_frame(a.get(), bytes, lost, out_a);
    const DecodeResult rb = decode_frame(b.get(), bytes, lost, out_b);
    check(ra.ok && rb.ok, "a frame was refused");
    check(out_a == out_b, "the output depends on the buffer's old contents, or not all 240 samples are written");
    check(ra.concealed == rb.concealed && ra.type == rb.type, "two decoders disagree");
    if (!lost && length > 0) {
      const FrameType type = frame_type_of(bytes[0]);
      check(ra.type == type, "the reported type is not the frame's type bits");
      check(length >= frame_bytes(type) || ra.concealed, "a frame cut short was not concealed");
    } else {
      check(ra.concealed, "a lost or empty frame was not concealed");
    }
  }
  return 0;
}
