#include "bitstream/frame_unpacker.h"

#include "codec/common/fixed_codebook_excitation.h"
#include "codec/tables/fixed_codebook_tables.h"
#include "codec/tables/table_set_types.h"

namespace g7231 {
namespace {

constexpr std::int32_t kCombinedGainEntries170 = static_cast<std::int32_t>(kAcbEntries) * kFcbGainsPerEntry;
constexpr std::int32_t kCombinedGainEntries85 = static_cast<std::int32_t>(kAcbShortLagEntries) * kFcbGainsPerEntry;

// Active frame: the parameters, or the first field no encoder writes.
const char* active_from_wire(const WireFrame& w, bool low_rate, FrameParams& p) {
  p.lsp_index = w.lsp_index;
  for (std::size_t h = 0; h < 2; ++h) {
    p.olp_lag[h] = static_cast<std::int16_t>(w.lag[h] + kPitchMin);
    if (p.olp_lag[h] > kMaxTransmittedLag) return "pitch lag out of range";
    p.sub[2 * h].lag_delta = 1;
    p.sub[2 * h + 1].lag_delta = static_cast<std::int16_t>(w.odd_lag_delta[h]);
  }

  for (std::size_t s = 0; s < kSubframes; ++s) {
    SubframeParams& sub = p.sub[s];
    std::int32_t gain = w.gain[s];
    std::int32_t entries = kCombinedGainEntries170;
    // At 6.3 kbit/s a short lag takes the 85-entry table and may repeat its pulses (the top bit).
    if (!low_rate && p.olp_lag[s / 2] < kShortLagLimit) {
      sub.pulse_train = static_cast<std::int16_t>(gain / kPulseTrainFlag);
      gain %= kPulseTrainFlag;
      entries = kCombinedGainEntries85;
    }
    if (gain >= entries) return "gain beyond its table";
    sub.acb_gain_index = static_cast<std::int16_t>(gain / kFcbGainsPerEntry);
    sub.fcb_gain_index = static_cast<std::int16_t>(gain % kFcbGainsPerEntry);
    sub.grid = static_cast<std::int16_t>(w.grid[s]);
    sub.signs = static_cast<std::int16_t>(w.signs[s]);
    sub.positions = w.positions[s];
  }
  if (low_rate) return nullptr;

  if (w.reserved != 0) return "reserved bit set";
  if (w.position_high > kMaxPositionHighPart) return "position high part out of range";
  const std::array<std::int32_t, kSubframes> high = split_position_high_part(w.position_high);
  for (std::size_t s = 0; s < kSubframes; ++s) {
    std::int32_t& positions = p.sub[s].positions;
    positions += high[s] << kPositionLowBits[s];
    if (positions >= mpmlq_position_codes(static_cast<std::size_t>(kMpmlqPulseCount[s]))) return "pulse position index out of range";
  }
  return nullptr;
}

}  // namespace

std::int32_t bits_to_int(std::span<const std::uint8_t> bytes, int start, int width) {
  std::int32_t v = 0;
  for (int i = 0; i < width; ++i) {
    const int n = start + i;
    v |= static_cast<std::int32_t>((bytes[static_cast<std::size_t>(n / 8)] >> (n % 8)) & 1) << i;
  }
  return v;
}

UnpackedFrame unpack_frame(std::span<const std::uint8_t> bytes) {
  UnpackedFrame out;
  if (bytes.empty()) return out;
  out.type = frame_type_of(bytes[0]);
  if (bytes.size() < frame_bytes(out.type)) return out;

  WireFrame wire;
  int at = 0;
  visit_fields(out.type, wire, [&](std::int32_t& field, int width) {
    field = bits_to_int(bytes, at, width);
    at += width;
  });

  out.status = UnpackStatus::ok;
  switch (out.type) {
    case FrameType::untransmitted:
      break;
    case FrameType::sid:
      out.params.lsp_index = wire.lsp_index;
      out.params.sub[0].fcb_gain_index = static_cast<std::int16_t>(wire.sid_gain);
      break;
    case FrameType::active_low_rate:
    case FrameType::active_high_rate:
      out.fault = active_from_wire(wire, out.type == FrameType::active_low_rate, out.params);
      if (out.fault != nullptr) out.status = UnpackStatus::invalid;
      break;
  }
  return out;
}

}  // namespace g7231
