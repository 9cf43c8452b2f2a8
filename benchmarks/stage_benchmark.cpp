// Speed of the encoder's heavy stages, each on inputs taken from real speech (an encoder is run over the
// bundled speech up to a voiced frame, whose analysis supplies the stage's inputs), at the scalar level and
// at the best instruction-set level this processor runs. Reports the time per call; the whole frame is in
// encoder_benchmark.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <vector>

#include "codec/encoder/acelp_search.h"
#include "codec/tables/builtin_table_set.h"
#include "codec/encoder/adaptive_codebook_search.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/filter_cascade.h"
#include "codec/encoder/fixed_codebook_search.h"
#include "codec/encoder/formant_weighting.h"
#include "codec/encoder/input_conditioning.h"
#include "codec/encoder/lpc_analysis.h"
#include "codec/encoder/lsp_conversion.h"
#include "codec/encoder/lsp_quantiser.h"
#include "codec/encoder/mpmlq_search.h"
#include "codec/encoder/open_loop_pitch.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

using Frame = std::array<std::int16_t, kFrameSamples>;
using Subframe = std::array<std::int16_t, kSubframeSamples>;

// One voiced frame of real speech with the state an encoder has reached when it gets there.
struct StageInputs {
  G7231Encoder* enc = nullptr;
  Frame frame{};                                        // the frame as it enters the encoder
  std::array<std::int16_t, kSubframes * kLpcOrder> lpc{};
  std::array<std::int16_t, kSubframes * kWeightingCoefs> weighting{};
  std::array<std::int16_t, kPitchBufferLength> pitch{};  // weighted speech, normalised
  std::array<std::int16_t, kLpcOrder> lsp{};
  Subframe target{};
  Subframe response{};
  HarmonicWeighting shaping{60, 5000};
  std::int16_t lag = 60;

  StageInputs() {
    const std::vector<std::int16_t> speech = load_speech_sample("vk2tpm_004.raw");
    constexpr std::size_t kWarmUpFrames = 300;
    enc = create_encoder(EncoderOptions{.vad = false});
    for (std::size_t f = 0; f < kWarmUpFrames; ++f) {
      Frame work;
      std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f * kFrameSamples), kFrameSamples, work.begin());
      std::array<std::uint8_t, kMaxFrameBytes> out;
      encode_frame(enc, work, out);
    }
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(kWarmUpFrames * kFrameSamples), kFrameSamples, frame.begin());
    std::int16_t sine = 0;
    CngState cng;
    analyse_lpc(lpc, enc->analysis_history, frame, sine, cng);
    lpc_to_lsp(lsp, std::span<const std::int16_t, kSubframes * kLpcOrder>(lpc).subspan<3 * kLpcOrder, kLpcOrder>(),
               enc->prev_lsp);
    weighting_filter_coefficients(weighting, lpc);
    Frame weighted = frame;
    std::array<std::int16_t, kLpcOrder> fir{};
    std::array<std::int16_t, kLpcOrder> iir{};
    apply_formant_weighting(weighted, weighting, fir, iir);
    std::copy(enc->weighted_history.begin(), enc->weighted_history.end(), pitch.begin());
    std::copy(weighted.begin(), weighted.end(), pitch.begin() + kHistorySamples);
    normalize_block(pitch);
    lag = estimate_open_loop_pitch(pitch, kHistorySamples);
    shaping.lag = lag;
    std::copy_n(weighted.begin(), kSubframeSamples, target.begin());
    compute_impulse_response(response, a(), w(), shaping);
  }
  ~StageInputs() { destroy_encoder(enc); }

  std::span<const std::int16_t, kLpcOrder> a() const { return std::span(lpc).first<kLpcOrder>(); }
  std::span<const std::int16_t, kWeightingCoefs> w() const { return std::span(weighting).first<kWeightingCoefs>(); }
};

const StageInputs& inputs() {
  static const StageInputs in;
  return in;
}

const DspKernels& level(const benchmark::State& state) {
  return dsp_kernels(state.range(0) == 0 ? SimdLevel::scalar : SimdLevel::best);
}

void BM_ImpulseResponse(benchmark::State& state) {
  const StageInputs& in = inputs();
  const DspKernels& k = level(state);
  Subframe out;
  for (auto _ : state) {
    compute_impulse_response(out, in.a(), in.w(), in.shaping, k);
    benchmark::DoNotOptimize(out);
  }
}

// The four subframes' responses at once, as the encoder computes them.
void BM_ImpulseResponses(benchmark::State& state) {
  const StageInputs& in = inputs();
  const DspKernels& k = level(state);
  const std::array<HarmonicWeighting, kSubframes> shapings{in.shaping, in.shaping, in.shaping, in.shaping};
  std::array<Subframe, kSubframes> out;
  for (auto _ : state) {
    compute_impulse_responses(out, in.lpc, in.weighting, shapings, k);
    benchmark::DoNotOptimize(out);
  }
}

void BM_SubtractRinging(benchmark::State& state) {
  const StageInputs& in = inputs();
  const DspKernels& k = level(state);
  G7231Encoder& enc = *in.enc;
  const CascadeMemory mem{enc.synth_filter_mem, enc.weight_filter_mem, enc.shaping_history};
  for (auto _ : state) {
    Subframe target = in.target;
    subtract_ringing(target, in.a(), in.w(), mem, in.shaping, k);
    benchmark::DoNotOptimize(target);
  }
}

void BM_UpdateFilterMemories(benchmark::State& state) {
  const StageInputs& in = inputs();
  const DspKernels& k = level(state);
  G7231Encoder enc = *in.enc;  // a copy, whose memories run on
  const CascadeMemory mem{enc.synth_filter_mem, enc.weight_filter_mem, enc.shaping_history};
  for (auto _ : state) {
    Subframe exc = in.target;
    update_filter_memories(exc, in.a(), in.w(), mem, k);
    benchmark::DoNotOptimize(exc);
  }
}

void BM_FormantWeighting(benchmark::State& state) {
  const StageInputs& in = inputs();
  const DspKernels& k = level(state);
  std::array<std::int16_t, kLpcOrder> fir{};
  std::array<std::int16_t, kLpcOrder> iir{};
  for (auto _ : state) {
    Frame frame = in.frame;
    apply_formant_weighting(frame, in.weighting, fir, iir, k);
    benchmark::DoNotOptimize(frame);
  }
}

void BM_OpenLoopPitch(benchmark::State& state) {
  const StageInputs& in = inputs();
  for (auto _ : state) benchmark::DoNotOptimize(estimate_open_loop_pitch(in.pitch, kHistorySamples));
}

void BM_LpcAnalysis(benchmark::State& state) {
  const StageInputs& in = inputs();
  std::array<std::int16_t, kSubframes * kLpcOrder> lpc;
  for (auto _ : state) {
    std::int16_t sine = 0;
    CngState cng;
    analyse_lpc(lpc, in.enc->analysis_history, in.frame, sine, cng);
    benchmark::DoNotOptimize(lpc);
  }
}

void BM_LspQuantiser(benchmark::State& state) {
  const StageInputs& in = inputs();
  for (auto _ : state) {
    std::array<std::int16_t, kLpcOrder> lsp = in.lsp;
    benchmark::DoNotOptimize(quantise_lsp(kBuiltinTableSet, lsp, in.enc->prev_lsp));
  }
}

void BM_PitchSearch(benchmark::State& state) {
  const StageInputs& in = inputs();
  G7231Encoder enc = *in.enc;
  enc.kernels = &level(state);
  for (auto _ : state) {
    Subframe target = in.target;
    FrameParams params;
    params.olp_lag = {in.lag, in.lag};
    search_adaptive_codebook(target, in.response, enc, params, 0);
    benchmark::DoNotOptimize(target);
  }
}

void BM_AcelpSubframe(benchmark::State& state) {
  const StageInputs& in = inputs();
  const DspKernels& k = level(state);
  std::int16_t carry = 0;
  for (auto _ : state) {
    Subframe target = in.target;
    Subframe h = in.response;
    carry = 0;
    benchmark::DoNotOptimize(acelp_encode_subframe(target, h, {in.lag, 8000}, carry, k));
  }
}

// The 6.3 kbit/s subframe with six pulses, the pulse train on (the lag of a short-lag voice).
void BM_MpmlqSubframe(benchmark::State& state) {
  const StageInputs& in = inputs();
  const DspKernels& k = level(state);
  for (auto _ : state) {
    Subframe target = in.target;
    SubframeParams sub;
    mpmlq_encode_subframe(target, in.response, sub, kMpmlqMaxPulses, 40, k);
    benchmark::DoNotOptimize(target);
  }
}

void BM_AcelpCorrelationMatrix(benchmark::State& state) {
  const StageInputs& in = inputs();
  const DspKernels& k = level(state);
  for (auto _ : state) benchmark::DoNotOptimize(acelp_correlation_matrix(in.response, k));
}

// Argument 0: the scalar kernels; 1: the best level this processor runs.
BENCHMARK(BM_ImpulseResponse)->Arg(0)->Arg(1);
BENCHMARK(BM_ImpulseResponses)->Arg(0)->Arg(1);
BENCHMARK(BM_SubtractRinging)->Arg(0)->Arg(1);
BENCHMARK(BM_UpdateFilterMemories)->Arg(0)->Arg(1);
BENCHMARK(BM_FormantWeighting)->Arg(0)->Arg(1);
BENCHMARK(BM_PitchSearch)->Arg(0)->Arg(1);
BENCHMARK(BM_AcelpSubframe)->Arg(0)->Arg(1);
BENCHMARK(BM_AcelpCorrelationMatrix)->Arg(0)->Arg(1);
BENCHMARK(BM_MpmlqSubframe)->Arg(0)->Arg(1);
BENCHMARK(BM_OpenLoopPitch);
BENCHMARK(BM_LpcAnalysis);
BENCHMARK(BM_LspQuantiser);

}  // namespace
}  // namespace g7231

BENCHMARK_MAIN();
