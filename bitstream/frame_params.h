// The coded parameters of one frame, filled stage by stage and then packed into bytes.
#pragma once

#include <array>
#include <cstdint>

#include "codec/common/constants.h"

namespace g7231 {

// Kind of a coded frame.
enum class FrameKind : std::int16_t {
  untransmitted = 0,  // nothing new for the receiver: only the 2-bit type code is sent
  active = 1,         // active speech
  sid = 2,            // comfort-noise description (silence insertion descriptor)
};

struct SubframeParams {
  std::int16_t lag_delta = 0;       // predictor lag = olp_lag + lag_delta - 1; sent for odd subframes only
  std::int16_t acb_gain_index = 0;  // adaptive-codebook gain table entry
  std::int16_t fcb_gain_index = 0;  // fixed-codebook gain level 0..23; in SID frames sub[0] holds the SID gain
  std::int16_t grid = 0;            // 0: pulses on even positions, 1: on odd positions
  std::int16_t pulse_train = 0;     // 6.3 kbit/s: pulses repeated at the pitch period
  std::int16_t signs = 0;           // pulse sign bits
  std::int32_t positions = 0;       // pulse position code
};

struct FrameParams {
  std::int16_t erased = 0;                 // frame-erasure indicator, always 0 in the encoder
  std::int32_t lsp_index = 0;              // 24-bit LSP index: band 0 in bits 16-23, band 1 in 8-15, band 2 in 0-7
  std::array<std::int16_t, 2> olp_lag{};   // pitch lag of subframes 0-1 and 2-3, 18..145
  std::array<SubframeParams, kSubframes> sub{};
};

}  // namespace g7231
