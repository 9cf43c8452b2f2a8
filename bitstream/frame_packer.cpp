#include "bitstream/frame_packer.h"

#include <algorithm>

namespace g7231 {
namespace {

// Lag of each subframe pair, sent as an offset from the shortest lag.
void put_lags(const FrameParams& p, FrameBits& bits) {
  int_to_bits(p.olp_lag[0] - kPitchMin, bits, 7);
  int_to_bits(p.sub[1].lag_delta, bits, 2);
  int_to_bits(p.olp_lag[1] - kPitchMin, bits, 7);
  int_to_bits(p.sub[3].lag_delta, bits, 2);
}

// One 12-bit gain word per subframe: adaptive entry x 24 + fixed level, plus the pulse-train flag
// at 6.3 kbit/s.
void put_gains(const FrameParams& p, FrameBits& bits, bool low_rate) {
  for (const SubframeParams& s : p.sub) {
    std::int32_t combined = s.acb_gain_index * 24 + s.fcb_gain_index;
    if (!low_rate) combined += s.pulse_train * 2048;
    int_to_bits(combined, bits, 12);
  }
}

// 6.3 kbit/s: the high parts of the four position indices as one mixed-radix number
// 810 m0 + 90 m1 + 9 m2 + m3 (digits 0..9, 0..8, 0..9, 0..8).
std::int32_t combined_position_high_part(const FrameParams& p) {
  const std::int32_t m0 = p.sub[0].positions >> 16;
  const std::int32_t m1 = p.sub[1].positions >> 14;
  const std::int32_t m2 = p.sub[2].positions >> 16;
  const std::int32_t m3 = p.sub[3].positions >> 14;
  return (m0 * 90 + m1 * 10 + m2) * 9 + m3;
}

}  // namespace

void int_to_bits(std::int32_t value, FrameBits& bits, int width) {
  for (int i = 0; i < width; ++i, ++bits.count) {
    const auto bit = static_cast<std::uint8_t>((value >> i) & 1);
    bits.bytes[static_cast<std::size_t>(bits.count / 8)] |= static_cast<std::uint8_t>(bit << (bits.count % 8));
  }
}

int pack_frame(const FrameParams& params, std::span<std::uint8_t, kMaxFrameBytes> out, FrameKind kind,
               bool low_rate) {
  std::ranges::fill(out, std::uint8_t{0});
  FrameBits bits{out};

  switch (kind) {
    case FrameKind::untransmitted:
      int_to_bits(kTypeUntransmitted, bits, 2);
      break;

    case FrameKind::sid:
      int_to_bits(kTypeSid, bits, 2);
      int_to_bits(params.lsp_index, bits, 24);
      int_to_bits(params.sub[0].fcb_gain_index, bits, 6);
      break;

    case FrameKind::active:
      int_to_bits(low_rate ? kTypeActiveLowRate : kTypeActiveHighRate, bits, 2);
      int_to_bits(params.lsp_index, bits, 24);
      put_lags(params, bits);
      put_gains(params, bits, low_rate);
      for (const SubframeParams& s : params.sub) int_to_bits(s.grid, bits, 1);
      if (low_rate) {
        for (const SubframeParams& s : params.sub) int_to_bits(s.positions, bits, 12);
        for (const SubframeParams& s : params.sub) int_to_bits(s.signs, bits, 4);
      } else {
        int_to_bits(0, bits, 1);  // reserved
        int_to_bits(combined_position_high_part(params), bits, 13);
        int_to_bits(params.sub[0].positions, bits, 16);
        int_to_bits(params.sub[1].positions, bits, 14);
        int_to_bits(params.sub[2].positions, bits, 16);
        int_to_bits(params.sub[3].positions, bits, 14);
        int_to_bits(params.sub[0].signs, bits, 6);
        int_to_bits(params.sub[1].signs, bits, 5);
        int_to_bits(params.sub[2].signs, bits, 6);
        int_to_bits(params.sub[3].signs, bits, 5);
      }
      break;
  }
  return bits.count;
}

}  // namespace g7231
