#include "app/command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ctime>

namespace g7231::cli {
namespace {

TEST(CommandLineInput, SamplesAreLittleEndian) {
  std::array<std::uint8_t, 2 * kFrameSamples> bytes{};
  const std::array<std::uint8_t, 8> head = {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
  std::copy(head.begin(), head.end(), bytes.begin());
  bytes[2 * kFrameSamples - 2] = 0x01;  // last sample
  std::array<std::int16_t, kFrameSamples> samples;
  samples.fill(99);
  decode_samples(bytes, samples);
  EXPECT_EQ(samples[0], 0x1234);
  EXPECT_EQ(samples[1], -1);
  EXPECT_EQ(samples[2], -32768);
  EXPECT_EQ(samples[3], 32767);
  EXPECT_EQ(samples[4], 0);
  EXPECT_EQ(samples[kFrameSamples - 1], 1);
}

// Long runs must not wrap: more ticks than a 32-bit count holds still give the right positive time.
TEST(CommandLineTiming, ElapsedTimeUsesTheClocksOwnRateWithoutWrapping) {
  EXPECT_DOUBLE_EQ(elapsed_seconds(0, CLOCKS_PER_SEC / 2), 0.5);
  if constexpr (sizeof(std::clock_t) > 4) {
    const std::clock_t start = 1000;
    const std::clock_t ticks = static_cast<std::clock_t>(CLOCKS_PER_SEC) * 5000;  // 5000 s
    EXPECT_DOUBLE_EQ(elapsed_seconds(start, start + ticks), 5000.0);
  }
  EXPECT_EQ(elapsed_seconds(static_cast<std::clock_t>(-1), 5), 0.0);
}

}  // namespace
}  // namespace g7231::cli
