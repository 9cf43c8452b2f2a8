#include "gst/codec_calls.h"

#include <algorithm>
#include <array>

#include "bitstream/rtp_payload.h"
#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"

namespace g7231::gst {

struct Encoder {
  G7231Encoder* codec;
};
struct Decoder {
  G7231Decoder* codec;
};

Encoder* open_encoder(bool high_rate, bool vad, bool highpass) {
  G7231Encoder* codec = create_encoder({.high_rate = high_rate, .vad = vad, .highpass = highpass});
  return codec != nullptr ? new Encoder{codec} : nullptr;
}

void close_encoder(Encoder* encoder) {
  if (encoder == nullptr) return;
  destroy_encoder(encoder->codec);
  delete encoder;
}

std::size_t encode(Encoder* encoder, std::span<const std::int16_t, kFrameSamples> samples,
                   std::span<std::uint8_t, kMaxFrameBytes> out) {
  std::array<std::int16_t, kFrameSamples> work;  // the encoder works in its input buffer
  std::copy(samples.begin(), samples.end(), work.begin());
  encode_frame(encoder->codec, work, out);
  const FrameType type = frame_type_of(out[0]);
  return type == FrameType::untransmitted ? 0 : frame_bytes(type);
}

Decoder* open_decoder(bool postfilter) {
  G7231Decoder* codec = create_decoder({.postfilter = postfilter});
  return codec != nullptr ? new Decoder{codec} : nullptr;
}

void close_decoder(Decoder* decoder) {
  if (decoder == nullptr) return;
  destroy_decoder(decoder->codec);
  delete decoder;
}

void decode(Decoder* decoder, std::span<const std::uint8_t> frame, bool lost, std::span<std::int16_t, kFrameSamples> out) {
  decode_frame(decoder->codec, frame, lost, out);
}

std::span<const std::uint8_t> untransmitted_frame() {
  static constexpr std::uint8_t kFrame = static_cast<std::uint8_t>(FrameType::untransmitted);
  return {&kFrame, 1};
}

std::vector<std::span<const std::uint8_t>> split_frames(std::span<const std::uint8_t> bytes) {
  return rtp::split_payload(bytes).frames;
}

}  // namespace g7231::gst
