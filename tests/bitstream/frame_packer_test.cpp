// Frame packer: every field of every frame kind is checked at its bit offset with a bit reader of
// the test's own, so that a packer and a reader sharing one mistake cannot hide it.
#include "bitstream/frame_packer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace g7231 {
namespace {

using Frame = std::array<std::uint8_t, kMaxFrameBytes>;

// Reads `width` bits starting at frame bit n, least significant first; bit n is bit n % 8 of byte n / 8.
std::uint32_t read_bits(const Frame& f, int start, int width) {
  std::uint32_t v = 0;
  for (int i = 0; i < width; ++i) {
    const int n = start + i;
    v |= static_cast<std::uint32_t>((f[static_cast<std::size_t>(n / 8)] >> (n % 8)) & 1) << i;
  }
  return v;
}

struct Field {
  int offset;
  int width;
  std::int64_t value;  // compared on its lowest `width` bits only
  std::string name;
};

std::int64_t combined_gain(const SubframeParams& s, bool low_rate) {
  return s.acb_gain_index * 24 + s.fcb_gain_index + (low_rate ? 0 : s.pulse_train * 2048);
}

std::int64_t position_high_part(const FrameParams& p) {
  return 810 * (p.sub[0].positions >> 16) + 90 * (p.sub[1].positions >> 14) +
         9 * (p.sub[2].positions >> 16) + (p.sub[3].positions >> 14);
}

// The expected fields of a frame with their offsets written out literally, in transmission order.
std::vector<Field> expected_fields(const FrameParams& p, FrameKind kind, bool low_rate) {
  if (kind == FrameKind::untransmitted) return {{0, 2, 3, "type"}};
  if (kind == FrameKind::sid)
    return {{0, 2, 2, "type"}, {2, 24, p.lsp_index, "lsp"}, {26, 6, p.sub[0].fcb_gain_index, "sid gain"}};

  std::vector<Field> f{{0, 2, low_rate ? 1 : 0, "type"},
                       {2, 24, p.lsp_index, "lsp"},
                       {26, 7, p.olp_lag[0] - 18, "lag 0"},
                       {33, 2, p.sub[1].lag_delta, "lag delta 1"},
                       {35, 7, p.olp_lag[1] - 18, "lag 1"},
                       {42, 2, p.sub[3].lag_delta, "lag delta 3"}};
  for (int s = 0; s < 4; ++s) f.push_back({44 + 12 * s, 12, combined_gain(p.sub[s], low_rate), "gain " + std::to_string(s)});
  for (int s = 0; s < 4; ++s) f.push_back({92 + s, 1, p.sub[s].grid, "grid " + std::to_string(s)});
  if (low_rate) {
    for (int s = 0; s < 4; ++s) f.push_back({96 + 12 * s, 12, p.sub[s].positions, "positions " + std::to_string(s)});
    for (int s = 0; s < 4; ++s) f.push_back({144 + 4 * s, 4, p.sub[s].signs, "signs " + std::to_string(s)});
  } else {
    f.push_back({96, 1, 0, "reserved"});
    f.push_back({97, 13, position_high_part(p), "position high part"});
    f.push_back({110, 16, p.sub[0].positions, "positions 0 low"});
    f.push_back({126, 14, p.sub[1].positions, "positions 1 low"});
    f.push_back({140, 16, p.sub[2].positions, "positions 2 low"});
    f.push_back({156, 14, p.sub[3].positions, "positions 3 low"});
    f.push_back({170, 6, p.sub[0].signs, "signs 0"});
    f.push_back({176, 5, p.sub[1].signs, "signs 1"});
    f.push_back({181, 6, p.sub[2].signs, "signs 2"});
    f.push_back({187, 5, p.sub[3].signs, "signs 3"});
  }
  return f;
}

int expected_bit_count(FrameKind kind, bool low_rate) {
  if (kind == FrameKind::untransmitted) return 2;
  if (kind == FrameKind::sid) return 32;
  return low_rate ? 160 : 192;
}

// Packs into a buffer pre-filled with `fill` and checks the bit count, each field, and that the bits
// after the frame are cleared.
Frame check_frame(const FrameParams& p, FrameKind kind, bool low_rate, std::uint8_t fill = 0xFF) {
  Frame out;
  out.fill(fill);
  const int count = pack_frame(p, out, kind, low_rate);
  const int expected_count = expected_bit_count(kind, low_rate);
  EXPECT_EQ(count, expected_count);

  int end = 0;
  for (const Field& f : expected_fields(p, kind, low_rate)) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.offset, end) << "layout in the test has a gap or overlap";
    end = f.offset + f.width;
    const auto mask = static_cast<std::uint32_t>((std::int64_t{1} << f.width) - 1);
    EXPECT_EQ(read_bits(out, f.offset, f.width), static_cast<std::uint32_t>(f.value) & mask);
  }
  EXPECT_EQ(end, expected_count);
  for (int n = expected_count; n < 8 * static_cast<int>(kMaxFrameBytes); ++n)
    EXPECT_EQ(read_bits(out, n, 1), 0u) << "bit " << n << " beyond the frame";
  return out;
}

// Random parameters, each within the range an encoder produces for the given rate.
FrameParams random_params(std::mt19937& rng, bool low_rate) {
  auto uniform = [&rng](std::uint32_t n) { return static_cast<std::int32_t>(rng() % n); };
  FrameParams p;
  p.lsp_index = uniform(1 << 24);
  p.olp_lag = {static_cast<std::int16_t>(18 + uniform(128)), static_cast<std::int16_t>(18 + uniform(128))};
  for (std::size_t s = 0; s < kSubframes; ++s) {
    SubframeParams& sp = p.sub[s];
    const bool odd = s % 2 == 1;
    sp.lag_delta = static_cast<std::int16_t>(odd ? uniform(4) : 1);
    sp.pulse_train = static_cast<std::int16_t>(low_rate ? 0 : uniform(2));
    sp.acb_gain_index = static_cast<std::int16_t>(uniform(sp.pulse_train ? 85 : 170));
    sp.fcb_gain_index = static_cast<std::int16_t>(uniform(24));
    sp.grid = static_cast<std::int16_t>(uniform(2));
    if (low_rate) {
      sp.signs = static_cast<std::int16_t>(uniform(16));
      sp.positions = uniform(1 << 12);
    } else {
      const int low_bits = odd ? 14 : 16;
      sp.signs = static_cast<std::int16_t>(uniform(odd ? 32 : 64));
      sp.positions = (uniform(odd ? 9 : 10) << low_bits) | uniform(1u << low_bits);
    }
  }
  return p;
}

TEST(FramePacker, EveryFieldOfRandomFramesOfAllKinds) {
  std::mt19937 rng(0x7231);
  for (const bool low_rate : {true, false}) {
    for (int trial = 0; trial < 50; ++trial) {
      SCOPED_TRACE(testing::Message() << (low_rate ? "5.3" : "6.3") << " kbit/s, trial " << trial);
      const FrameParams p = random_params(rng, low_rate);
      for (const FrameKind kind : {FrameKind::untransmitted, FrameKind::sid, FrameKind::active})
        for (const std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) check_frame(p, kind, low_rate, fill);
    }
  }
}

TEST(FramePacker, FixedBytesOfShortFrames) {
  FrameParams p;  // the SID gain lives in sub[0]; everything else must not leak into short frames
  p.olp_lag = {145, 145};
  p.sub[1].signs = 0x7FFF;
  Frame expected{};
  expected[0] = 0x03;
  EXPECT_EQ(check_frame(p, FrameKind::untransmitted, true), expected);
  EXPECT_EQ(check_frame(p, FrameKind::untransmitted, false), expected);

  expected[0] = 0x02;
  EXPECT_EQ(check_frame(p, FrameKind::sid, false), expected);
  p.sub[0].fcb_gain_index = 63;
  expected[3] = 0xFC;
  EXPECT_EQ(check_frame(p, FrameKind::sid, true), expected);

  // Bit order across byte boundaries: 0x123456 << 2 | 2 = 0x48D15A, gain 42 << 26 puts 0xA8 in byte 3.
  p.lsp_index = 0x123456;
  p.sub[0].fcb_gain_index = 42;
  expected[0] = 0x5A, expected[1] = 0xD1, expected[2] = 0x48, expected[3] = 0xA8;
  EXPECT_EQ(check_frame(p, FrameKind::sid, true), expected);
}

TEST(FramePacker, ActiveTypeCodeAndLagRange) {
  FrameParams p;
  for (const bool low_rate : {true, false}) {
    p.olp_lag = {18, 145};
    Frame out = check_frame(p, FrameKind::active, low_rate);
    EXPECT_EQ(out[0] & 0x03, low_rate ? 0x01 : 0x00);
    EXPECT_EQ(read_bits(out, 26, 7), 0u);
    EXPECT_EQ(read_bits(out, 35, 7), 0x7Fu);
    p.olp_lag = {145, 18};
    out = check_frame(p, FrameKind::active, low_rate);
    EXPECT_EQ(read_bits(out, 26, 7), 0x7Fu);
    EXPECT_EQ(read_bits(out, 35, 7), 0u);
  }
}

TEST(FramePacker, CombinedGainWord) {
  FrameParams p;
  p.sub[0] = {.acb_gain_index = 169, .fcb_gain_index = 23};                     // largest, 4079
  p.sub[1] = {.acb_gain_index = 84, .fcb_gain_index = 23, .pulse_train = 1};    // 2039 + 2048 at 6.3
  p.sub[2] = {.acb_gain_index = 1, .fcb_gain_index = 0};                        // one table step = 24
  p.sub[3] = {.acb_gain_index = 0, .fcb_gain_index = 5, .pulse_train = 1};
  const Frame high = check_frame(p, FrameKind::active, false);
  EXPECT_EQ(read_bits(high, 44, 12), 4079u);
  EXPECT_EQ(read_bits(high, 56, 12), 4087u);
  EXPECT_EQ(read_bits(high, 68, 12), 24u);
  EXPECT_EQ(read_bits(high, 80, 12), 2053u);
  // At 5.3 kbit/s the pulse-train flag is not part of the gain word.
  const Frame low = check_frame(p, FrameKind::active, true);
  EXPECT_EQ(read_bits(low, 56, 12), 2039u);
  EXPECT_EQ(read_bits(low, 80, 12), 5u);
}

TEST(FramePacker, PositionHighPartDigitsAndReservedBit) {
  // Each digit alone shows its weight and which shift its subframe uses; the last row is the maximum.
  struct Case { std::array<std::int32_t, 4> high; std::uint32_t expected; };
  for (const Case& c : {Case{{1, 0, 0, 0}, 810}, Case{{0, 1, 0, 0}, 90}, Case{{0, 0, 1, 0}, 9},
                        Case{{0, 0, 0, 1}, 1}, Case{{9, 8, 9, 8}, 8099}}) {
    FrameParams p;
    for (std::size_t s = 0; s < kSubframes; ++s) {
      const int low_bits = s % 2 ? 14 : 16;
      p.sub[s].positions = (c.high[s] << low_bits) | ((1 << low_bits) - 1);  // low bits all ones
      p.sub[s].grid = 1;
    }
    SCOPED_TRACE(c.expected);
    const Frame out = check_frame(p, FrameKind::active, false);
    EXPECT_EQ(read_bits(out, 95, 1), 1u);  // grid of subframe 3 is set, the reserved bit after it is not
    EXPECT_EQ(read_bits(out, 96, 1), 0u);
    EXPECT_EQ(read_bits(out, 97, 13), c.expected);
    EXPECT_EQ(read_bits(out, 110, 16), 0xFFFFu);
    EXPECT_EQ(read_bits(out, 126, 14), 0x3FFFu);
  }
}

TEST(FramePacker, OversizedFieldsContributeOnlyTheirLowestBits) {
  FrameParams p;
  p.lsp_index = 0x7F000000 | 0xA5C3E1;
  p.olp_lag = {18 + 128 + 5, 17};  // offsets 133 and -1: low seven bits 5 and 0x7F
  for (std::size_t s = 0; s < kSubframes; ++s) {
    p.sub[s].lag_delta = -1;
    p.sub[s].fcb_gain_index = 0x1FF;
    p.sub[s].signs = 0x7FF0 | static_cast<std::int16_t>(s);
    p.sub[s].positions = 0x7FFF0000 | static_cast<std::int32_t>(0x5A5 + s);
  }
  // check_frame masks each expected value to its slot, so neighbours and the frame tail must be untouched.
  for (const bool low_rate : {true, false}) {
    SCOPED_TRACE(low_rate ? "5.3 kbit/s" : "6.3 kbit/s");
    const Frame out = check_frame(p, FrameKind::active, low_rate);
    EXPECT_EQ(read_bits(out, 2, 24), 0xA5C3E1u);
    EXPECT_EQ(read_bits(out, 26, 7), 5u);
    EXPECT_EQ(read_bits(out, 35, 7), 0x7Fu);
    EXPECT_EQ(read_bits(out, 33, 2), 3u);
  }
  const Frame sid = check_frame(p, FrameKind::sid, true);
  EXPECT_EQ(read_bits(sid, 26, 6), 0x3Fu);
}

}  // namespace
}  // namespace g7231
