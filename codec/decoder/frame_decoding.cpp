#include "codec/decoder/frame_decoding.h"

#include <algorithm>
#include <array>

#include "bitstream/frame_unpacker.h"
#include "codec/common/adaptive_codebook.h"
#include "codec/common/comfort_noise_excitation.h"
#include "codec/common/fixed_codebook_excitation.h"
#include "codec/common/lsp_dequantiser.h"
#include "codec/common/lsp_interpolation.h"
#include "codec/common/synthesis_filter.h"
#include "codec/decoder/concealment.h"
#include "codec/decoder/postfilter.h"

namespace g7231 {
namespace {

using LpcSets = std::array<std::int16_t, kSubframes * kLpcOrder>;

// Working data of one frame.
struct FrameWork {
  std::array<std::int16_t, kFrameSamples> speech{};  // excitation, then the reconstructed speech
  LpcSets lpc{};                                      // the synthesis filter of each subframe
  std::array<std::int16_t, kSubframes> pitch_lag{};   // for the postfilter; 0 where there is no pitch
};

std::span<const std::int16_t, kLpcOrder> lpc_set(const LpcSets& sets, std::size_t s) {
  return std::span(sets).subspan(s * kLpcOrder).first<kLpcOrder>();
}

std::span<std::int16_t, kSubframeSamples> subframe(std::span<std::int16_t, kFrameSamples> frame, std::size_t s) {
  return frame.subspan(s * kSubframeSamples).first<kSubframeSamples>();
}

void synthesise_frame(G7231Decoder& dec, FrameWork& w) {
  for (std::size_t s = 0; s < kSubframes; ++s) synthesise_subframe(subframe(w.speech, s), lpc_set(w.lpc, s), dec.synth_filter_mem);
}

// Every frame of speech, decoded or concealed, leaves the comfort-noise state as after speech.
void after_speech_frame(G7231Decoder& dec) {
  dec.cng.prev_frame_kind = static_cast<std::int16_t>(FrameKind::active);
  dec.cng.random_seed = kRandomSeedInit;
}

void decode_active(G7231Decoder& dec, const FrameParams& params, bool low_rate, FrameWork& w) {
  decode_lpc_sets(*dec.tables, w.lpc, dec.prev_lsp, params.lsp_index, params.erased);
  for (std::size_t s = 0; s < kSubframes; ++s) {
    const SubframeParams& sub = params.sub[s];
    const auto exc = subframe(w.speech, s);
    build_fixed_codebook_excitation(*dec.tables, exc, params, s, low_rate);
    complete_subframe_excitation(*dec.tables, exc, dec.excitation_history, params.olp_lag[s / 2], sub.lag_delta,
                                 sub.acb_gain_index, low_rate);
    w.pitch_lag[s] = static_cast<std::int16_t>(params.olp_lag[s / 2] + sub.lag_delta - 1);
  }
  synthesise_frame(dec, w);
  note_good_frame(*dec.tables, dec.concealment, params, low_rate);
  after_speech_frame(dec);
}

// Comfort noise from the last SID description; a SID frame first brings a new one.
void decode_inactive(G7231Decoder& dec, const FrameParams* sid, FrameWork& w) {
  DecoderCngState& cng = dec.cng;
  if (sid != nullptr) {
    dequantise_lsp(*dec.tables, cng.sid_lsp, dec.prev_lsp, sid->lsp_index, 0);
    cng.sid_gain = decode_sid_gain(sid->sub[0].fcb_gain_index);
    cng.sid_received = true;
  }
  const bool after_speech = cng.prev_frame_kind == static_cast<std::int16_t>(FrameKind::active);
  FrameParams random;  // the random lags and gains of the excitation, of no further use here
  generate_comfort_noise(*dec.tables, {cng.cur_gain, cng.random_seed, dec.excitation_history, dec.prev_lsp}, cng.sid_lsp,
                         cng.sid_gain, after_speech, w.speech, w.lpc, random);
  synthesise_frame(dec, w);
  cng.prev_frame_kind = static_cast<std::int16_t>(sid != nullptr ? FrameKind::sid : FrameKind::untransmitted);
  dec.concealment.lost_frames = 0;
}

void conceal(G7231Decoder& dec, FrameWork& w) {
  decode_lpc_sets(*dec.tables, w.lpc, dec.prev_lsp, 0, 1);
  conceal_excitation(dec.concealment, dec.excitation_history, w.speech);
  synthesise_frame(dec, w);
  if (dec.concealment.voiced != 0) w.pitch_lag.fill(dec.concealment.pitch_lag);
  after_speech_frame(dec);
}

}  // namespace

DecodeResult decode_frame_pipeline(G7231Decoder& dec, std::span<const std::uint8_t> frame, bool lost,
                                   std::span<std::int16_t, kFrameSamples> out) {
  FrameWork w;
  DecodeResult result{true, true, FrameType::untransmitted};
  const UnpackedFrame unpacked = lost ? UnpackedFrame{} : unpack_frame(frame);
  result.type = unpacked.type;
  const bool in_speech = dec.cng.prev_frame_kind == static_cast<std::int16_t>(FrameKind::active);

  if (unpacked.status != UnpackStatus::ok) {
    // A loss in silence continues the comfort noise; a loss in speech is concealed.
    if (in_speech) {
      conceal(dec, w);
    } else {
      decode_inactive(dec, nullptr, w);
    }
  } else {
    switch (unpacked.type) {
      case FrameType::active_low_rate:
      case FrameType::active_high_rate:
        decode_active(dec, unpacked.params, unpacked.type == FrameType::active_low_rate, w);
        result.concealed = false;
        break;
      case FrameType::sid:
        decode_inactive(dec, &unpacked.params, w);
        result.concealed = false;
        break;
      case FrameType::untransmitted:
        // Straight after speech an untransmitted frame means that the SID frame that opened the silence
        // was lost. The background rarely changes within a call, so the comfort noise takes the last noise
        // description received; before the first one there is none, and the speech is concealed and fades
        // out.
        if (in_speech) {
          if (dec.cng.sid_received) {
            decode_inactive(dec, nullptr, w);
          } else {
            conceal(dec, w);
          }
        } else {
          decode_inactive(dec, nullptr, w);
          result.concealed = false;
        }
        break;
    }
  }
  if (result.concealed) ++dec.frames_concealed;

  if (!dec.postfilter_enabled) {
    std::ranges::copy(w.speech, out.begin());
    return result;
  }
  for (std::size_t s = 0; s < kSubframes; ++s) {
    postfilter_subframe(dec.postfilter, subframe(w.speech, s), lpc_set(w.lpc, s), w.pitch_lag[s], subframe(out, s));
  }
  return result;
}

}  // namespace g7231
