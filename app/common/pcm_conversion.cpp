#include "app/common/pcm_conversion.h"

#include <cmath>

namespace g7231::cli {

void samples_from_bytes(std::span<const std::uint8_t> bytes, std::span<std::int16_t> samples) {
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
}

void bytes_from_samples(std::span<const std::int16_t> samples, std::span<std::uint8_t> bytes) {
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto u = static_cast<std::uint16_t>(samples[i]);
    bytes[2 * i] = static_cast<std::uint8_t>(u & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
  }
}

std::size_t float_to_pcm16(std::span<const float> in, std::span<std::int16_t> out) {
  std::size_t clipped = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    // NaN compares false both ways and becomes 0 below; it counts as clipped, being no sample at all.
    const double v = std::nearbyint(static_cast<double>(in[i]) * 32768.0);
    if (v > 32767.0) {
      out[i] = 32767;
      ++clipped;
    } else if (v < -32768.0) {
      out[i] = -32768;
      ++clipped;
    } else if (v == v) {
      out[i] = static_cast<std::int16_t>(v);
    } else {
      out[i] = 0;
      ++clipped;
    }
  }
  return clipped;
}

void pcm16_to_float(std::span<const std::int16_t> in, std::span<float> out) {
  for (std::size_t i = 0; i < in.size(); ++i) out[i] = static_cast<float>(in[i]) / 32768.0F;
}

void mix_down(std::span<const float> in, int channels, std::span<float> out) {
  const std::size_t c = static_cast<std::size_t>(channels);
  const std::size_t frames = in.size() / c;
  for (std::size_t f = 0; f < frames; ++f) {
    double sum = 0.0;
    for (std::size_t k = 0; k < c; ++k) sum += in[f * c + k];
    out[f] = static_cast<float>(sum / static_cast<double>(channels));
  }
}

}  // namespace g7231::cli
