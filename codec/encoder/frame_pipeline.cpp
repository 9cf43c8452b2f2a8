#include "codec/encoder/frame_pipeline.h"

#include <algorithm>
#include <array>

#include "bitstream/frame_packer.h"
#include "codec/common/adaptive_codebook.h"
#include "codec/encoder/adaptive_codebook_search.h"
#include "codec/encoder/comfort_noise_coding.h"
#include "codec/encoder/excitation_taming.h"
#include "codec/encoder/filter_cascade.h"
#include "codec/encoder/fixed_codebook_search.h"
#include "codec/encoder/formant_weighting.h"
#include "codec/encoder/harmonic_shaping.h"
#include "codec/encoder/input_conditioning.h"
#include "codec/encoder/lpc_analysis.h"
#include "codec/encoder/lsp_conversion.h"
#include "codec/common/lsp_interpolation.h"
#include "codec/encoder/lsp_quantiser.h"
#include "codec/encoder/open_loop_pitch.h"
#include "codec/encoder/voice_activity.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using LpcSets = std::array<std::int16_t, kSubframes * kLpcOrder>;
using WeightingSets = std::array<std::int16_t, kSubframes * kWeightingCoefs>;
using PitchBuffer = std::array<std::int16_t, kPitchBufferLength>;

// Working data of one frame.
struct FrameWork {
  FrameParams params;
  LpcSets lpc{};              // unquantised LPC set of each subframe
  WeightingSets weighting{};  // formant weighting filter of each subframe
  std::array<std::int16_t, kLpcOrder> lsp{};  // unquantised LSP vector (the quantiser overwrites it)
  LpcSets quantised_lpc{};    // interpolated, quantised LPC set of each subframe
  PitchBuffer pitch{};        // weighted history, then the weighted frame
};

std::span<const std::int16_t, kLpcOrder> lpc_set(const LpcSets& sets, std::size_t s) {
  return std::span(sets).subspan(s * kLpcOrder).first<kLpcOrder>();
}

std::span<const std::int16_t, kWeightingCoefs> weighting_set(const WeightingSets& sets, std::size_t s) {
  return std::span(sets).subspan(s * kWeightingCoefs).first<kWeightingCoefs>();
}

std::span<std::int16_t, kSubframeSamples> subframe(std::span<std::int16_t, kFrameSamples> frame, std::size_t s) {
  return frame.subspan(s * kSubframeSamples).first<kSubframeSamples>();
}

void build_pitch_buffer(PitchBuffer& buf, const std::array<std::int16_t, kHistorySamples>& history,
                        std::span<const std::int16_t, kFrameSamples> frame) {
  std::ranges::copy(history, buf.begin());
  std::ranges::copy(frame, buf.begin() + kHistorySamples);
}

CascadeMemory cascade_memory(G7231Encoder& enc) {
  return {enc.synth_filter_mem, enc.weight_filter_mem, enc.shaping_history};
}

// Active speech: harmonic noise shaping, then analysis-by-synthesis subframe by subframe.
void encode_active_path(G7231Encoder& enc, std::span<std::int16_t, kFrameSamples> frame, FrameWork& w) {
  FrameParams& params = w.params;
  const bool low_rate = enc.low_rate != 0;

  // Shaping parameters come from the normalised buffer; the filter runs on the unscaled weighted speech.
  std::array<HarmonicWeighting, kSubframes> shaping;
  for (std::size_t i = 0; i < kSubframes; ++i) {
    shaping[i] = estimate_harmonic_weighting(w.pitch, kHistorySamples + kSubframeSamples * i, params.olp_lag[i / 2],
                                             *enc.kernels);
  }
  build_pitch_buffer(w.pitch, enc.weighted_history, frame);
  std::copy(w.pitch.end() - kHistorySamples, w.pitch.end(), enc.weighted_history.begin());
  for (std::size_t i = 0; i < kSubframes; ++i) {
    apply_harmonic_weighting(frame, w.pitch, kSubframeSamples * i, shaping[i]);
  }

  decode_lpc_sets(*enc.tables, w.quantised_lpc, enc.prev_lsp, params.lsp_index, params.erased);

  const CascadeMemory mem = cascade_memory(enc);
  // The impulse responses depend on the filters alone: all four at once. The searches scale and sharpen
  // their subframe's copy.
  std::array<std::array<std::int16_t, kSubframeSamples>, kSubframes> responses;
  compute_impulse_responses(responses, w.quantised_lpc, w.weighting, shaping, *enc.kernels);
  for (std::size_t i = 0; i < kSubframes; ++i) {
    const auto target = subframe(frame, i);
    const auto a = lpc_set(w.quantised_lpc, i);
    const auto wf = weighting_set(w.weighting, i);
    SubframeParams& sub = params.sub[i];
    const std::span<std::int16_t, kSubframeSamples> response(responses[i]);

    subtract_ringing(target, a, wf, mem, shaping[i], *enc.kernels);
    search_adaptive_codebook(target, response, enc, params, i);
    search_fixed_codebook(target, response, enc, params, i);
    complete_subframe_excitation(*enc.tables, target, enc.excitation_history, params.olp_lag[i / 2], sub.lag_delta,
                                 sub.acb_gain_index, low_rate);
    update_taming_error(*enc.tables, enc.taming_error, params.olp_lag[i / 2], sub.lag_delta, sub.acb_gain_index, low_rate);
    update_filter_memories(target, a, wf, mem, *enc.kernels);
  }

  enc.cng.prev_frame_kind = static_cast<std::int16_t>(FrameKind::active);
  enc.cng.random_seed = kRandomSeedInit;
}

// Inactive frame: comfort noise keeps the taming estimates and filter memories running.
void encode_inactive_path(G7231Encoder& enc, std::span<std::int16_t, kFrameSamples> frame, FrameKind& kind,
                          FrameWork& w) {
  std::copy(frame.end() - kHistorySamples, frame.end(), enc.weighted_history.begin());
  encode_inactive_frame(enc, frame, kind, w.params, w.quantised_lpc);

  const CascadeMemory mem = cascade_memory(enc);
  for (std::size_t i = 0; i < kSubframes; ++i) {
    const SubframeParams& sub = w.params.sub[i];
    update_taming_error(*enc.tables, enc.taming_error, w.params.olp_lag[i / 2], sub.lag_delta, sub.acb_gain_index,
                        enc.low_rate != 0);
    update_filter_memories(subframe(frame, i), lpc_set(w.quantised_lpc, i), weighting_set(w.weighting, i), mem,
                           *enc.kernels);
  }
}

}  // namespace

void encode_frame_pipeline(G7231Encoder& enc, std::span<std::int16_t, kFrameSamples> frame,
                           std::span<std::uint8_t, kMaxFrameBytes> out) {
  FrameWork w;
  FrameParams& params = w.params;
  params.erased = 0;

  // Analysis of the undelayed frame.
  remove_dc(frame, enc.hpf_prev_input, enc.hpf_prev_output, enc.highpass_enabled != 0);
  analyse_lpc(w.lpc, enc.analysis_history, frame, enc.sine_detector, enc.cng, *enc.kernels);
  lpc_to_lsp(w.lsp, lpc_set(w.lpc, kSubframes - 1), enc.prev_lsp);
  FrameKind kind = detect_voice_activity(frame, enc.vad, enc.sine_detector, enc.vad_enabled != 0, *enc.kernels) == 1
                       ? FrameKind::active
                       : FrameKind::untransmitted;
  params.lsp_index = quantise_lsp(*enc.tables, w.lsp, enc.prev_lsp, *enc.kernels);

  // From here on the frame lags the input by one subframe.
  shift_analysis_history(enc.analysis_history, frame);
  weighting_filter_coefficients(w.weighting, w.lpc);
  apply_formant_weighting(frame, w.weighting, enc.formant_fir_mem, enc.formant_iir_mem, *enc.kernels);

  build_pitch_buffer(w.pitch, enc.weighted_history, frame);
  normalize_block(w.pitch);
  for (std::size_t h = 0; h < 2; ++h) {
    const std::int16_t lag = estimate_open_loop_pitch(w.pitch, kHistorySamples + 2 * kSubframeSamples * h, *enc.kernels);
    params.olp_lag[h] = lag;
    enc.vad.lag_history[2 + h] = lag;
  }

  if (kind == FrameKind::active) {
    encode_active_path(enc, frame, w);
  } else {
    encode_inactive_path(enc, frame, kind, w);
  }
  pack_frame(params, out, kind, enc.low_rate != 0);
}

}  // namespace g7231
