#include "codec/decoder/concealment.h"

#include <algorithm>

#include "codec/common/adaptive_codebook.h"
#include "codec/common/comfort_noise_excitation.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;

// A predictor whose five taps sum to at least a half (Q14) carries a pitch worth repeating.
constexpr std::int32_t kVoicedTapSum = 8192;

// The window whose level an unvoiced loss keeps: the last two subframes.
constexpr std::size_t kLevelWindow = 2 * kSubframeSamples;

// Snapshot of the excitation when a loss begins.
void begin_loss(ConcealmentState& c, std::span<const std::int16_t, kHistorySamples> history) {
  std::ranges::copy(history, c.last_good.begin());
  c.elapsed = 0;
  // Uniform noise of peak A has a mean magnitude of A / 2.
  std::int32_t magnitude = 0;
  for (std::size_t n = kHistorySamples - kLevelWindow; n < kHistorySamples; ++n) magnitude += abs16(history[n]);
  c.noise_amplitude = saturate16(2 * magnitude / static_cast<std::int32_t>(kLevelWindow));
}

}  // namespace

void note_good_frame(const TableSet& tables, ConcealmentState& c, const FrameParams& params, bool low_rate) {
  const SubframeParams& last = params.sub[kSubframes - 1];
  c.lost_frames = 0;
  c.pitch_lag = static_cast<std::int16_t>(params.olp_lag[1] + last.lag_delta - 1);
  const AcbGainEntry& taps = acb_gain_table(tables, low_rate, params.olp_lag[1])[static_cast<std::size_t>(last.acb_gain_index)];
  std::int32_t sum = 0;
  for (std::size_t t = 0; t < kAcbTaps; ++t) sum += taps[t];
  c.voiced = sum >= kVoicedTapSum ? 1 : 0;
}

void conceal_excitation(ConcealmentState& c, std::span<std::int16_t, kHistorySamples> excitation_history,
                        std::span<std::int16_t, kFrameSamples> exc) {
  if (c.lost_frames == 0) begin_loss(c, excitation_history);
  c.lost_frames = std::min<std::int16_t>(static_cast<std::int16_t>(c.lost_frames + 1), kMax16);

  const auto lag = static_cast<std::size_t>(c.pitch_lag);
  for (std::int16_t& e : exc) {
    if (c.elapsed >= kConcealmentFadeSamples) {
      e = 0;
      continue;
    }
    std::int16_t source;
    if (c.voiced != 0) {
      source = c.last_good[kHistorySamples - lag + static_cast<std::size_t>(c.elapsed) % lag];
    } else {
      source = mult16(random16(c.noise_seed), c.noise_amplitude);
    }
    // Full level at the start of the loss, silence after the fade (exact: at most 720 * 32767).
    const auto fade = static_cast<std::int16_t>((kConcealmentFadeSamples - c.elapsed) * kMax16 / kConcealmentFadeSamples);
    e = mult16(source, fade);
    c.elapsed = static_cast<std::int16_t>(c.elapsed + 1);
  }
  std::copy(exc.end() - kHistorySamples, exc.end(), excitation_history.begin());
}

}  // namespace g7231
