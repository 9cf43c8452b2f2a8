// The encoder object and its three entry points.
//
// One `G7231Encoder` holds everything that links one frame of a speech stream to the next; it owns no
// other memory, and two encoders never share anything. Create it with `create_encoder`, feed it 240-sample
// frames with `encode_frame`, dispose of it with `destroy_encoder`. One object must not be used by two
// threads at once; separate objects may run on separate threads.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/encoder/encoder_state.h"

namespace g7231 {

// A new encoder at 5.3 kbit/s (high_rate false) or 6.3 kbit/s (true), with the high-pass filter and voice
// activity detection on; null when it cannot be allocated.
[[nodiscard]] G7231Encoder* create_encoder(bool high_rate);

// How an encoder codes: its rate and whether the high-pass input filter and voice activity detection
// (with SID and untransmitted frames for inactive speech) run.
struct EncoderOptions {
  bool high_rate = false;  // 6.3 kbit/s (MP-MLQ) instead of 5.3 kbit/s (ACELP)
  bool vad = true;
  bool highpass = true;
  SimdLevel simd = SimdLevel::best;  // instruction-set level of the inner loops; every level codes the same bytes
};

// A new encoder with the given options; null when it cannot be allocated.
[[nodiscard]] G7231Encoder* create_encoder(const EncoderOptions& options);

// Codes one frame. samples is the frame's working buffer and is overwritten; out receives the packed frame
// (20 significant bytes at 5.3 kbit/s, 24 at 6.3 kbit/s, 4 for SID frames, 1 for untransmitted frames, the
// rest zero). Returns false, touching nothing, for a null encoder.
bool encode_frame(G7231Encoder* encoder, std::span<std::int16_t, kFrameSamples> samples,
                  std::span<std::uint8_t, kMaxFrameBytes> out);

// Destroys an encoder. Returns true when it destroyed one, false for null.
bool destroy_encoder(CodecBase* encoder);

}  // namespace g7231
