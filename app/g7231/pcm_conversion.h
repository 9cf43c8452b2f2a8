// Floating-point samples (full scale ±1.0) to 16-bit PCM, and several channels to one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace g7231::app {

// Converts x to x * 32768 rounded to the nearest integer (ties to even), limited to -32768..32767.
// Returns how many samples had to be limited.
std::size_t float_to_pcm16(std::span<const float> in, std::span<std::int16_t> out);

// Averages the channels of interleaved frames into out (in.size() / channels samples), in place allowed.
void mix_down(std::span<const float> in, int channels, std::span<float> out);

}  // namespace g7231::app
