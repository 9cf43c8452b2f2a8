// The encoder's state record: everything that links one frame of a speech stream to the next, held
// inline in one object. Stages take the fields they use; only the entry points and the frame pipeline
// see the whole object.
#pragma once

#include <array>
#include <cstdint>

#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"
#include "codec/tables/builtin_table_set.h"
#include "codec/tables/lsp_quantiser_tables.h"

namespace g7231 {

inline constexpr std::size_t kAnalysisHistorySamples = 120;  // kept for the next frame's LPC analysis
inline constexpr std::int32_t kTamingErrorInit = 4;

// Base of the encoder object: two indicators that nothing reads. The saturating operators of this
// encoder report to a discarding indicator instead of `overflow` (see fixedpoint/basic_ops.h).
class CodecBase {
 public:
  virtual ~CodecBase() = default;

  std::int16_t overflow = 0;
  std::int16_t spare_indicator = 0;
};

// Comfort-noise state, with the autocorrelation history that the LPC analysis keeps for it.
struct CngState {
  std::int16_t cur_gain = 0;                       // smoothed comfort-noise gain
  std::int16_t prev_frame_kind = 1;                // FrameKind of the previous frame
  std::array<std::int16_t, 44> cng_acf_history{};  // autocorrelations (lags 0..10) of the last 4 frames, newest first
  std::array<std::int16_t, 4> cng_acf_exponents{}; // their scaling exponents
  std::array<std::int16_t, 10> sid_lsp{};          // quantised LSP vector of the last SID frame
  std::array<std::int16_t, 10> sid_lpc{};          // LPC coefficients (Q13) of the last SID filter
  std::array<std::int16_t, 11> sid_filter_acf{};   // normalised autocorrelation of the SID filter
  std::int16_t sid_filter_acf_shift = 0;           // its normalisation shift
  std::array<std::int16_t, 3> energy_history{};    // residual energies of the latest inactive frames, newest first
  std::int16_t energy_count = 0;                   // number of energies averaged for the SID gain
  std::int16_t sid_gain_index = 0;                 // last transmitted SID gain index
  std::int16_t sid_gain = 0;                       // gain decoded from that index
  std::int16_t random_seed = kRandomSeedInit;      // comfort-noise random generator
};

// Voice activity detector state.
struct VadState {
  std::int16_t hangover = 0;                 // frames still declared active after speech
  std::int16_t voice_count = 0;              // recent loud frames, 0..3
  std::int32_t prev_energy = 0;              // energy of the previous frame
  std::int32_t noise_level = 0;              // background noise level estimate
  std::int16_t adapt_count = 0;              // 0..6, non-zero while the signal looks periodic or sinusoidal
  std::array<std::int16_t, 4> lag_history{}; // open-loop lags: 0-1 of the frame before last, 2-3 of the last
  std::array<std::int16_t, 10> noise_lpc{};  // inverse filter of the noise (Q13)
};

// How an encoder codes: its rate and whether the high-pass input filter and voice activity detection
// (with SID and untransmitted frames for inactive speech) run.
struct EncoderOptions {
  bool high_rate = false;  // 6.3 kbit/s (MP-MLQ) instead of 5.3 kbit/s (ACELP)
  bool vad = true;
  bool highpass = true;
  const TableSet* tables = nullptr;  // null: the built-in set; else one that outlives the encoder
  SimdLevel simd = SimdLevel::best;  // instruction-set level of the inner loops; every level codes the same bytes
};

class G7231Encoder : public CodecBase {
 public:
  // An encoder with the given options (the spare option set to 1).
  explicit G7231Encoder(const EncoderOptions& options) noexcept;
  // Options in this order: high-pass filter on, a spare option that nothing reads, voice activity
  // detection on, and 5.3 kbit/s (non-zero) or 6.3 kbit/s (zero).
  G7231Encoder(std::int16_t highpass_enabled, std::int16_t spare_option, std::int16_t vad_enabled,
               std::int32_t low_rate) noexcept;
  ~G7231Encoder() override = default;

  CngState cng;
  std::int16_t hpf_prev_input = 0;       // previous input sample of the high-pass filter
  std::int32_t hpf_prev_output = 0;      // previous output of the high-pass filter, full precision
  std::int16_t sine_detector = 0;        // sinusoid flags of the last 15 subframes; negative once fired
  std::array<std::int16_t, kLpcOrder> prev_lsp = kLspMean;       // quantised LSP vector of the previous frame
  std::array<std::int16_t, kHistorySamples> weighted_history{};  // formant-weighted speech, oldest first
  std::array<std::int16_t, kHistorySamples> shaping_history{};   // weighted reconstructed speech, oldest first
  std::array<std::int16_t, kHistorySamples> excitation_history{}; // past excitation, oldest first
  std::array<std::int16_t, kAnalysisHistorySamples> analysis_history{};  // conditioned samples for LPC analysis
  std::array<std::int16_t, kLpcOrder> formant_fir_mem{};   // past inputs of the formant weighting filter
  std::array<std::int16_t, kLpcOrder> formant_iir_mem{};   // past outputs of the formant weighting filter
  std::array<std::int16_t, kLpcOrder> synth_filter_mem{};  // synthesis filter memory
  std::array<std::int16_t, kLpcOrder> weight_filter_mem{}; // weighting filter memory (recursive part)
  std::array<std::int32_t, 5> taming_error = {kTamingErrorInit, kTamingErrorInit, kTamingErrorInit,
                                              kTamingErrorInit, kTamingErrorInit};  // per lag zone
  VadState vad;
  std::int16_t acelp_budget_carry = 0;   // pulse-search budget carried between 5.3 kbit/s subframes
  const TableSet* tables = &kBuiltinTableSet;  // the set it codes with, immutable, owned by the caller
  const DspKernels* kernels = &dsp_kernels(SimdLevel::scalar);  // the inner loops this encoder runs

  const std::int16_t highpass_enabled;   // non-zero: DC-removal filter; zero: input only halved
  const std::int16_t spare_option;       // stored, never read
  const std::int16_t vad_enabled;        // non-zero: voice activity detection; zero: every frame active
  std::int32_t low_rate;                 // non-zero: 5.3 kbit/s; zero: 6.3 kbit/s; set_encoder_rate changes it
};

}  // namespace g7231
