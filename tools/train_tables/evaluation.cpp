#include "evaluation.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "codec/encoder/encoder.h"
#include "codec/encoder/input_conditioning.h"
#include "table_sets.h"

namespace g7231::training {
namespace {

constexpr double kSilenceRms = 64.0;  // full-scale RMS below which a frame is not counted
constexpr std::size_t kDelay = kSubframeSamples;

}  // namespace

SegmentalSnr segmental_snr(const std::vector<Recording>& recordings, bool high_rate) {
  SegmentalSnr out;
  double sum = 0;
  for (const Recording& rec : recordings) {
    G7231Encoder* enc = create_encoder({.high_rate = high_rate, .tables = &installed()});
    std::int16_t hpf_in = 0;
    std::int32_t hpf_out = 0;
    std::array<std::int16_t, kDelay> delay{};  // the conditioned samples still to come out of the delay
    for (std::size_t f = 0; f + kFrameSamples <= rec.samples.size(); f += kFrameSamples) {
      std::array<std::int16_t, kFrameSamples> frame;
      std::copy_n(rec.samples.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());

      // The reference: the input conditioned as the encoder conditions it, delayed by one subframe, at
      // full scale (the encoder works at half scale and reconstructs at full scale).
      std::array<std::int16_t, kFrameSamples> conditioned = frame;
      remove_dc(conditioned, hpf_in, hpf_out, true);
      std::array<double, kFrameSamples> reference;
      for (std::size_t n = 0; n < kFrameSamples; ++n) {
        reference[n] = 2.0 * (n < kDelay ? delay[n] : conditioned[n - kDelay]);
      }
      std::copy(conditioned.end() - kDelay, conditioned.end(), delay.begin());

      std::array<std::uint8_t, kMaxFrameBytes> packed;
      encode_frame(enc, frame, packed);  // frame now holds the reconstructed speech
      const int type = packed[0] & 3;
      if (type != 0 && type != 1) continue;

      double signal = 0;
      double noise = 0;
      for (std::size_t n = 0; n < kFrameSamples; ++n) {
        signal += reference[n] * reference[n];
        noise += (reference[n] - frame[n]) * (reference[n] - frame[n]);
      }
      if (std::sqrt(signal / kFrameSamples) < kSilenceRms) continue;
      const double snr = noise > 0 ? 10.0 * std::log10(signal / noise) : 35.0;
      sum += std::clamp(snr, -10.0, 35.0);
      ++out.frames;
    }
    destroy_encoder(enc);
  }
  if (out.frames > 0) out.mean_db = sum / static_cast<double>(out.frames);
  return out;
}

}  // namespace g7231::training
