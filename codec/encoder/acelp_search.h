// 5.3 kbit/s algebraic codebook: four signed unit pulses, one per interleaved track, all on the even or
// all on the odd grid, found by a budgeted depth-first search; and the 24-level gain quantiser.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/common/constants.h"
#include "codec/common/dsp_kernels.h"
#include "codec/common/fixed_codebook_excitation.h"

namespace g7231 {

inline constexpr std::int16_t kAcelpSearchBudget = 120;

struct AcelpPulses {
  std::int16_t position_code = 0;  // 3 bits per track: the pulse's index k on its track
  std::int16_t grid = 0;           // 0 even, 1 odd positions
  std::int16_t signs = 0;          // bit t set when track t's pulse is positive
  std::array<std::int16_t, kSubframeSamples> code{};      // the pulses: -1, 0 or +1
  std::array<std::int16_t, kSubframeSamples> filtered{};  // the pulses through the prepared response
};

// Finds the four pulses for the backward-filtered target d (64 values; d[60..63] are set to 0 and d is
// sign-corrected in place), the correlation matrix (its cross blocks are sign-adjusted in place) and the
// prepared response h. budget_carry is the search budget left over by the previous subframe, updated.
AcelpPulses acelp_pulse_search(std::span<std::int16_t, kAcelpSearchFrame> d, AcelpCorrMatrix& matrix,
                               std::span<const std::int16_t, kSubframeSamples> h, std::int16_t& budget_carry,
                               const DspKernels& kernels = dsp_kernels(SimdLevel::scalar));

struct FcbGain {
  std::int16_t index = 0;  // row of the gain table, 0..23
  std::int16_t gain = 1;   // the table's level
};

// The gain level closest to the optimal gain of the filtered codeword y for target x (y is scaled in place).
FcbGain quantise_fcb_gain(std::span<const std::int16_t, kSubframeSamples> x,
                          std::span<std::int16_t, kSubframeSamples> y);

}  // namespace g7231
