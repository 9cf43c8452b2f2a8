// Floating-point samples to 16 bits: rounding, limiting and the count of limited samples; mixdown.
#include "app/g7231/pcm_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace g7231::app {
namespace {

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

TEST(PcmConversion, MixdownAveragesTheChannelsOfEachFrame) {
  const std::vector<float> stereo = {1.0F, 0.0F, -0.5F, -0.25F, 0.25F, 0.25F};
  std::vector<float> mono(3);
  mix_down(stereo, 2, mono);
  EXPECT_EQ(mono, (std::vector<float>{0.5F, -0.375F, 0.25F}));
}

}  // namespace
}  // namespace g7231::app
