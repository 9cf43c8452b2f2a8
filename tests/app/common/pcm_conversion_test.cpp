// Samples and their forms: little-endian bytes both ways, floating point to 16 bits with rounding,
// limiting and the count of limited samples, and mixdown.
#include "app/common/pcm_conversion.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace g7231::cli {
namespace {

TEST(PcmBytes, SamplesAreLittleEndianBothWays) {
  const std::array<std::uint8_t, 8> head = {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
  const std::array<std::int16_t, 4> values = {0x1234, -1, -32768, 32767};
  std::array<std::uint8_t, kPcmFrameBytes> bytes{};
  std::copy(head.begin(), head.end(), bytes.begin());
  bytes[kPcmFrameBytes - 2] = 0x01;  // last sample
  std::array<std::int16_t, kFrameSamples> samples;
  samples.fill(99);
  samples_from_bytes(bytes, samples);
  EXPECT_TRUE(std::equal(values.begin(), values.end(), samples.begin()));
  EXPECT_EQ(samples[4], 0);
  EXPECT_EQ(samples[kFrameSamples - 1], 1);

  std::array<std::uint8_t, kPcmFrameBytes> back;
  back.fill(0xAA);
  bytes_from_samples(samples, back);
  EXPECT_EQ(back, bytes);
}

TEST(PcmConversion, RoundsToNearestAndCountsWhatItLimits) {
  struct Case {
    float in;
    std::int16_t out;
    bool limited;
  };
  const std::vector<Case> cases = {
      {0.0F, 0, false},
      {0.5F / 32768.0F, 0, false},  // ties go to even
      {1.5F / 32768.0F, 2, false},
      {-1.5F / 32768.0F, -2, false},
      {0.7F / 32768.0F, 1, false},
      {32767.0F / 32768.0F, 32767, false},
      {32767.5F / 32768.0F, 32767, true},  // rounds to 32768, beyond the range
      {1.0F, 32767, true},
      {-1.0F, -32768, false},
      {-1.1F, -32768, true},
      {std::numeric_limits<float>::infinity(), 32767, true},
      {std::numeric_limits<float>::quiet_NaN(), 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::int16_t out = 123;
    EXPECT_EQ(float_to_pcm16(std::span(&c.in, 1), std::span(&out, 1)), c.limited ? 1U : 0U);
    EXPECT_EQ(out, c.out);
  }
}

// Every 16-bit value survives the trip to floating point and back.
TEST(PcmConversion, SixteenBitSamplesRoundTripThroughFloat) {
  std::vector<std::int16_t> all;
  for (int v = -32768; v <= 32767; ++v) all.push_back(static_cast<std::int16_t>(v));
  std::vector<float> f(all.size());
  pcm16_to_float(all, f);
  EXPECT_EQ(f.front(), -1.0F);
  std::vector<std::int16_t> back(all.size());
  EXPECT_EQ(float_to_pcm16(f, back), 0U);
  EXPECT_EQ(back, all);
}

TEST(PcmConversion, MixdownAveragesTheChannelsOfEachFrame) {
  const std::vector<float> stereo = {1.0F, 0.0F, -0.5F, -0.25F, 0.25F, 0.25F};
  std::vector<float> mono(3);
  mix_down(stereo, 2, mono);
  EXPECT_EQ(mono, (std::vector<float>{0.5F, -0.375F, 0.25F}));
}

}  // namespace
}  // namespace g7231::cli
