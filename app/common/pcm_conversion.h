// Samples and their forms: 16-bit samples as the bytes of a raw PCM file (little-endian whatever the
// host's byte order), floating-point samples (full scale ±1.0) as 16-bit ones, several channels as one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/common/constants.h"

namespace g7231::cli {

// The coder's sample rate, in Hz.
inline constexpr int kSpeechRate = 8000;

// A frame of raw PCM: 240 16-bit samples.
inline constexpr std::size_t kPcmFrameBytes = 2 * kFrameSamples;

// The samples whose bytes are given, two per sample: bytes.size() == 2 * samples.size().
void samples_from_bytes(std::span<const std::uint8_t> bytes, std::span<std::int16_t> samples);

// The bytes of the samples, two per sample: bytes.size() == 2 * samples.size().
void bytes_from_samples(std::span<const std::int16_t> samples, std::span<std::uint8_t> bytes);

// Converts x to x * 32768 rounded to the nearest integer (ties to even), limited to -32768..32767.
// Returns how many samples had to be limited.
std::size_t float_to_pcm16(std::span<const float> in, std::span<std::int16_t> out);

// x / 32768 for each sample: the inverse of float_to_pcm16, exact.
void pcm16_to_float(std::span<const std::int16_t> in, std::span<float> out);

// Averages the channels of interleaved frames into out (in.size() / channels samples), in place allowed.
void mix_down(std::span<const float> in, int channels, std::span<float> out);

}  // namespace g7231::cli
