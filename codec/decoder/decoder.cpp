#include "codec/decoder/decoder.h"

#include <new>

#include "codec/decoder/frame_decoding.h"

namespace g7231 {

G7231Decoder* create_decoder(const DecoderOptions& options) {
  return new (std::nothrow) G7231Decoder(options.postfilter, options.tables);
}

DecodeResult decode_frame(G7231Decoder* decoder, std::span<const std::uint8_t> frame, bool lost,
                          std::span<std::int16_t, kFrameSamples> out) {
  if (decoder == nullptr) return {};
  return decode_frame_pipeline(*decoder, frame, lost, out);
}

bool destroy_decoder(G7231Decoder* decoder) {
  if (decoder == nullptr) return false;
  delete decoder;
  return true;
}

}  // namespace g7231
