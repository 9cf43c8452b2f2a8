// Frame unpacker: the inverse of the packer for every valid frame of all kinds, every field no encoder
// writes reported, and buffers shorter than their type never read past their end.
#include "bitstream/frame_unpacker.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bitstream/frame_packer.h"

namespace g7231 {
namespace {

using Frame = std::array<std::uint8_t, kMaxFrameBytes>;

int uniform(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// Random parameters of the kind an encoder writes: lags 18..141, gains within the table the lag selects,
// the pulse train only for short lags at 6.3 kbit/s, position indices within their range.
FrameParams random_active(std::mt19937& rng, bool low_rate) {
  FrameParams p;
  p.lsp_index = uniform(rng, 0, 0xFFFFFF);
  for (auto& lag : p.olp_lag) lag = static_cast<std::int16_t>(uniform(rng, 0, 3) == 0 ? uniform(rng, 18, 63) : uniform(rng, 18, 141));
  for (std::size_t s = 0; s < kSubframes; ++s) {
    SubframeParams& sub = p.sub[s];
    const bool short_lag = !low_rate && p.olp_lag[s / 2] < 58;
    sub.lag_delta = static_cast<std::int16_t>(s % 2 == 0 ? 1 : uniform(rng, 0, 3));
    sub.acb_gain_index = static_cast<std::int16_t>(uniform(rng, 0, short_lag ? 84 : 169));
    sub.fcb_gain_index = static_cast<std::int16_t>(uniform(rng, 0, 23));
    sub.grid = static_cast<std::int16_t>(uniform(rng, 0, 1));
    sub.pulse_train = static_cast<std::int16_t>(short_lag ? uniform(rng, 0, 1) : 0);
    if (low_rate) {
      sub.signs = static_cast<std::int16_t>(uniform(rng, 0, 15));
      sub.positions = uniform(rng, 0, 4095);
    } else {
      sub.signs = static_cast<std::int16_t>(uniform(rng, 0, s % 2 == 0 ? 63 : 31));
      sub.positions = uniform(rng, 0, s % 2 == 0 ? 593774 : 142505);
    }
  }
  return p;
}

UnpackedFrame round_trip(const FrameParams& p, FrameKind kind, bool low_rate) {
  Frame bytes;
  pack_frame(p, bytes, kind, low_rate);
  return unpack_frame(std::span(bytes).first(frame_bytes(frame_type(kind, low_rate))));
}

bool same_subframe(const SubframeParams& a, const SubframeParams& b) {
  return a.lag_delta == b.lag_delta && a.acb_gain_index == b.acb_gain_index && a.fcb_gain_index == b.fcb_gain_index &&
         a.grid == b.grid && a.pulse_train == b.pulse_train && a.signs == b.signs && a.positions == b.positions;
}

TEST(FrameUnpacker, InvertsThePackerForEveryKind) {
  std::mt19937 rng(6101);
  for (int trial = 0; trial < 3000; ++trial) {
    const bool low_rate = trial % 2 == 0;
    const FrameParams p = random_active(rng, low_rate);
    const UnpackedFrame u = round_trip(p, FrameKind::active, low_rate);
    ASSERT_EQ(u.status, UnpackStatus::ok) << "trial " << trial << ": " << (u.fault ? u.fault : "");
    ASSERT_EQ(u.type, low_rate ? FrameType::active_low_rate : FrameType::active_high_rate);
    ASSERT_EQ(u.params.lsp_index, p.lsp_index);
    ASSERT_EQ(u.params.olp_lag, p.olp_lag);
    for (std::size_t s = 0; s < kSubframes; ++s) ASSERT_TRUE(same_subframe(u.params.sub[s], p.sub[s])) << trial << " " << s;

    const UnpackedFrame sid = round_trip(p, FrameKind::sid, low_rate);
    ASSERT_EQ(sid.status, UnpackStatus::ok);
    ASSERT_EQ(sid.type, FrameType::sid);
    ASSERT_EQ(sid.params.lsp_index, p.lsp_index);
    ASSERT_EQ(sid.params.sub[0].fcb_gain_index, p.sub[0].fcb_gain_index);
  }
  const UnpackedFrame none = round_trip(FrameParams{}, FrameKind::untransmitted, true);
  EXPECT_EQ(none.status, UnpackStatus::ok);
  EXPECT_EQ(none.type, FrameType::untransmitted);
}

// Each case sets one wire field of an otherwise valid frame to a value no encoder writes.
TEST(FrameUnpacker, FieldsNoEncoderWritesAreInvalid) {
  struct Case {
    const char* what;
    bool low_rate;
    int lag0;  // olp_lag[0] of the base frame
    void (*spoil)(WireFrame&);
    bool valid;
  };
  const Case cases[] = {
      {"lag field 123 (lag 141)", true, 40, [](WireFrame& w) { w.lag[1] = 123; }, true},
      {"lag field 124", true, 40, [](WireFrame& w) { w.lag[1] = 124; }, false},
      {"lag field 127", false, 40, [](WireFrame& w) { w.lag[0] = 127; }, false},
      {"5.3 gain 4079", true, 40, [](WireFrame& w) { w.gain[2] = 4079; }, true},
      {"5.3 gain 4080", true, 40, [](WireFrame& w) { w.gain[2] = 4080; }, false},
      {"6.3 long lag gain 4079", false, 100, [](WireFrame& w) { w.gain[0] = 4079; }, true},
      {"6.3 long lag gain 4095", false, 100, [](WireFrame& w) { w.gain[1] = 4095; }, false},
      {"6.3 short lag gain 2039", false, 40, [](WireFrame& w) { w.gain[0] = 2039; }, true},
      {"6.3 short lag gain 2040", false, 40, [](WireFrame& w) { w.gain[0] = 2040; }, false},
      {"6.3 short lag train + 2039", false, 40, [](WireFrame& w) { w.gain[1] = 2048 + 2039; }, true},
      {"6.3 short lag train + 2040", false, 40, [](WireFrame& w) { w.gain[1] = 2048 + 2040; }, false},
      {"reserved bit", false, 100, [](WireFrame& w) { w.reserved = 1; }, false},
      {"high part 8099", false, 100, [](WireFrame& w) { w.position_high = 8099; w.positions = {0, 0, 0, 0}; }, true},
      {"high part 8100", false, 100, [](WireFrame& w) { w.position_high = 8100; }, false},
      {"six-pulse index 593774", false, 100,
       [](WireFrame& w) { w.position_high = 810 * 9; w.positions[0] = 593774 - 9 * 65536; }, true},
      {"six-pulse index 593775", false, 100,
       [](WireFrame& w) { w.position_high = 810 * 9; w.positions[0] = 593775 - 9 * 65536; }, false},
      {"five-pulse index 142506", false, 100,
       [](WireFrame& w) { w.position_high = 8; w.positions[3] = 142506 - 8 * 16384; }, false},
  };
  for (const Case& c : cases) {
    std::mt19937 rng(6102);
    FrameParams p = random_active(rng, c.low_rate);
    p.olp_lag = {static_cast<std::int16_t>(c.lag0), static_cast<std::int16_t>(c.lag0)};
    for (auto& sub : p.sub) {
      sub.acb_gain_index = 0;
      sub.pulse_train = 0;
      sub.positions = 0;
    }
    WireFrame w = to_wire(p, FrameKind::active, c.low_rate);
    c.spoil(w);
    Frame bytes{};
    FrameBits bits{bytes};
    visit_fields(static_cast<FrameType>(w.type), std::as_const(w), [&](std::int32_t v, int width) { int_to_bits(v, bits, width); });
    const UnpackedFrame u = unpack_frame(bytes);
    EXPECT_EQ(u.status, c.valid ? UnpackStatus::ok : UnpackStatus::invalid) << c.what;
    EXPECT_EQ(u.fault == nullptr, c.valid) << c.what;
  }
}

TEST(FrameUnpacker, ShortBuffersAreTruncatedFrames) {
  EXPECT_EQ(unpack_frame({}).status, UnpackStatus::truncated);
  for (const FrameType type : {FrameType::active_high_rate, FrameType::active_low_rate, FrameType::sid,
                               FrameType::untransmitted}) {
    std::vector<std::uint8_t> bytes(frame_bytes(type), 0);
    bytes[0] = static_cast<std::uint8_t>(type);
    EXPECT_EQ(unpack_frame(bytes).status, UnpackStatus::ok);
    bytes.push_back(0xFF);  // anything after the frame is ignored
    EXPECT_EQ(unpack_frame(bytes).status, UnpackStatus::ok);
    bytes.resize(frame_bytes(type) - 1);
    if (bytes.empty()) continue;
    const UnpackedFrame u = unpack_frame(bytes);  // the sanitizer build catches any read past the end
    EXPECT_EQ(u.status, UnpackStatus::truncated);
    EXPECT_EQ(u.type, type);
  }
}

TEST(FrameLayout, TypesKindsAndSizes) {
  EXPECT_EQ(frame_type(FrameKind::active, true), FrameType::active_low_rate);
  EXPECT_EQ(frame_type(FrameKind::active, false), FrameType::active_high_rate);
  EXPECT_EQ(frame_type(FrameKind::sid, false), FrameType::sid);
  EXPECT_EQ(frame_type(FrameKind::untransmitted, true), FrameType::untransmitted);
  for (const FrameType t : {FrameType::active_high_rate, FrameType::active_low_rate, FrameType::sid,
                            FrameType::untransmitted}) {
    EXPECT_EQ(frame_type(frame_kind(t), t != FrameType::active_high_rate), t);
    EXPECT_EQ(frame_type_of(static_cast<std::uint8_t>(0xFC | static_cast<int>(t))), t);
  }
  EXPECT_EQ(frame_bytes(FrameType::active_high_rate), 24u);
  EXPECT_EQ(frame_bytes(FrameType::active_low_rate), 20u);
  EXPECT_EQ(frame_bytes(FrameType::sid), 4u);
  EXPECT_EQ(frame_bytes(FrameType::untransmitted), 1u);
  EXPECT_EQ(split_position_high_part(8099), (std::array<std::int32_t, 4>{9, 8, 9, 8}));
  EXPECT_EQ(combine_position_high_parts(split_position_high_part(4321)), 4321);
}

}  // namespace
}  // namespace g7231
