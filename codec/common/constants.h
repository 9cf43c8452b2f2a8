// Frame geometry shared by every stage of encoder and decoder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace g7231 {

inline constexpr std::size_t kFrameSamples = 240;     // 30 ms at 8 kHz
inline constexpr std::size_t kSubframes = 4;
inline constexpr std::size_t kSubframeSamples = 60;
inline constexpr std::size_t kLpcOrder = 10;
inline constexpr std::int16_t kPitchMin = 18;
inline constexpr std::int16_t kPitchMax = 145;
inline constexpr std::size_t kPitchBufferLength = 385;  // 145 samples of history, then the frame
// Pitch lags below this are short: at 6.3 kbit/s they take the 85-entry pitch-gain tables and repeat the
// fixed-codebook pulses as a pulse train; at 5.3 kbit/s sharpening lags below it sharpen the innovation.
inline constexpr std::int16_t kShortLagLimit = 58;
inline constexpr std::size_t kHistorySamples = 145;     // excitation history (and the encoder's weighted histories)

inline constexpr std::int16_t kRandomSeedInit = 12345;  // comfort-noise generator, after every active frame

inline constexpr std::size_t kMaxFrameBytes = 24;     // an active 6.3 kbit/s frame

}  // namespace g7231
