#include "bitstream/frame_packer.h"

#include <algorithm>

namespace g7231 {

void int_to_bits(std::int32_t value, FrameBits& bits, int width) {
  for (int i = 0; i < width; ++i, ++bits.count) {
    const auto bit = static_cast<std::uint8_t>((value >> i) & 1);
    bits.bytes[static_cast<std::size_t>(bits.count / 8)] |= static_cast<std::uint8_t>(bit << (bits.count % 8));
  }
}

WireFrame to_wire(const FrameParams& p, FrameKind kind, bool low_rate) {
  WireFrame w;
  w.type = static_cast<std::int32_t>(frame_type(kind, low_rate));
  w.lsp_index = p.lsp_index;
  w.sid_gain = p.sub[0].fcb_gain_index;
  for (std::size_t h = 0; h < 2; ++h) {
    w.lag[h] = p.olp_lag[h] - kPitchMin;
    w.odd_lag_delta[h] = p.sub[2 * h + 1].lag_delta;
  }
  std::array<std::int32_t, kSubframes> high{};
  for (std::size_t s = 0; s < kSubframes; ++s) {
    const SubframeParams& sub = p.sub[s];
    w.gain[s] = sub.acb_gain_index * kFcbGainsPerEntry + sub.fcb_gain_index;
    if (!low_rate) w.gain[s] += sub.pulse_train * kPulseTrainFlag;
    w.grid[s] = sub.grid;
    w.positions[s] = sub.positions;
    w.signs[s] = sub.signs;
    high[s] = sub.positions >> kPositionLowBits[s];
  }
  w.position_high = combine_position_high_parts(high);
  return w;
}

int pack_frame(const FrameParams& params, std::span<std::uint8_t, kMaxFrameBytes> out, FrameKind kind,
               bool low_rate) {
  std::ranges::fill(out, std::uint8_t{0});
  FrameBits bits{out};
  const WireFrame wire = to_wire(params, kind, low_rate);
  visit_fields(frame_type(kind, low_rate), wire,
               [&](std::int32_t value, int width) { int_to_bits(value, bits, width); });
  return bits.count;
}

}  // namespace g7231
