#include "codec/encoder/encoder.h"

#include <new>

#include "codec/encoder/frame_pipeline.h"

namespace g7231 {

G7231Encoder::G7231Encoder(std::int16_t highpass_enabled_, std::int16_t spare_option_,
                           std::int16_t vad_enabled_, std::int32_t low_rate_) noexcept
    : highpass_enabled(highpass_enabled_),
      spare_option(spare_option_),
      vad_enabled(vad_enabled_),
      low_rate(low_rate_) {}

G7231Encoder::G7231Encoder(const EncoderOptions& options) noexcept
    : G7231Encoder(options.highpass ? 1 : 0, 1, options.vad ? 1 : 0, options.high_rate ? 0 : 1) {
  if (options.tables != nullptr) tables = options.tables;
  kernels = &dsp_kernels(options.simd);
}

G7231Encoder* create_encoder(bool high_rate) { return create_encoder(EncoderOptions{.high_rate = high_rate}); }

G7231Encoder* create_encoder(const EncoderOptions& options) {
  return new (std::nothrow) G7231Encoder(options);
}

bool encode_frame(G7231Encoder* encoder, std::span<std::int16_t, kFrameSamples> samples,
                  std::span<std::uint8_t, kMaxFrameBytes> out) {
  if (encoder == nullptr) return false;
  encode_frame_pipeline(*encoder, samples, out);
  return true;
}

bool set_encoder_rate(G7231Encoder* encoder, bool high_rate) {
  if (encoder == nullptr) return false;
  encoder->low_rate = high_rate ? 0 : 1;
  return true;
}

bool destroy_encoder(CodecBase* encoder) {
  if (encoder == nullptr) return false;
  delete encoder;
  return true;
}

}  // namespace g7231
