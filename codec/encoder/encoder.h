// The encoder object and its three entry points.
//
// One `G7231Encoder` holds everything that links one frame of a speech stream to the next; it owns no
// other memory, and two encoders never share anything. Create it with `create_encoder`, feed it 240-sample
// frames with `encode_frame`, dispose of it with `destroy_encoder`. One object must not be used by two
// threads at once; separate objects may run on separate threads.
//
// An encoder codes with a table set (EncoderOptions::tables, the built-in one by default) that it refers
// to and never changes: the caller keeps the set alive and unchanged for as long as the encoder lives.
#pragma once

#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/encoder/encoder_state.h"

namespace g7231 {

// A new encoder at 5.3 kbit/s (high_rate false) or 6.3 kbit/s (true), with the high-pass filter and voice
// activity detection on; null when it cannot be allocated.
[[nodiscard]] G7231Encoder* create_encoder(bool high_rate);

// A new encoder with the given options; null when it cannot be allocated.
[[nodiscard]] G7231Encoder* create_encoder(const EncoderOptions& options);

// Codes one frame. samples is the frame's working buffer and is overwritten; out receives the packed frame
// (20 significant bytes at 5.3 kbit/s, 24 at 6.3 kbit/s, 4 for SID frames, 1 for untransmitted frames, the
// rest zero). Returns false, touching nothing, for a null encoder.
bool encode_frame(G7231Encoder* encoder, std::span<std::int16_t, kFrameSamples> samples,
                  std::span<std::uint8_t, kMaxFrameBytes> out);

// Switches the rate from the next frame on: 6.3 kbit/s (high_rate true) or 5.3 kbit/s. Every frame carries
// its own type bits, so the stream goes on without a break and a decoder follows it; the other options
// stay as created. Returns false, changing nothing, for a null encoder.
bool set_encoder_rate(G7231Encoder* encoder, bool high_rate);

// Destroys an encoder. Returns true when it destroyed one, false for null.
bool destroy_encoder(CodecBase* encoder);

}  // namespace g7231
