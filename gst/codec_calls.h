// Every call the GStreamer elements make into the codec library, in one place, over plain types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace g7231::gst {

inline constexpr std::size_t kFrameSamples = 240;  // 30 ms at 8 kHz
inline constexpr std::size_t kMaxFrameBytes = 24;
inline constexpr int kSampleRate = 8000;

struct Encoder;
struct Decoder;

// Null when it cannot be allocated.
Encoder* open_encoder(bool high_rate, bool vad, bool highpass);
void close_encoder(Encoder* encoder);
// Codes 240 samples into out; returns the frame's length in bytes, 0 for an untransmitted frame (which is
// not sent).
std::size_t encode(Encoder* encoder, std::span<const std::int16_t, kFrameSamples> samples,
                   std::span<std::uint8_t, kMaxFrameBytes> out);

Decoder* open_decoder(bool postfilter);
void close_decoder(Decoder* decoder);
// Decodes one frame (lost: never received) into 240 samples.
void decode(Decoder* decoder, std::span<const std::uint8_t> frame, bool lost, std::span<std::int16_t, kFrameSamples> out);
// The untransmitted frame, for time in which nothing was sent.
std::span<const std::uint8_t> untransmitted_frame();

// The frames of a buffer of concatenated frames at their natural lengths; empty when the lengths do not
// add up to the buffer's size.
std::vector<std::span<const std::uint8_t>> split_frames(std::span<const std::uint8_t> bytes);

}  // namespace g7231::gst
