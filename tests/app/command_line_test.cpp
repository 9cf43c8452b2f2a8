#include "app/command_line.h"

#include <gtest/gtest.h>

#include <ctime>

namespace g7231::cli {
namespace {

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
