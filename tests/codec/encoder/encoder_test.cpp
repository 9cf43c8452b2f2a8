#include "codec/encoder/encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "tests/speech_samples.h"

namespace g7231 {
namespace {

using Frame = std::array<std::int16_t, kFrameSamples>;
using Packed = std::array<std::uint8_t, kMaxFrameBytes>;

template <class Range>
bool all_zero(const Range& r) {
  return std::ranges::all_of(r, [](auto v) { return v == 0; });
}

TEST(EncoderObject, FreshStateMatchesTheInitialRecord) {
  for (const bool high_rate : {false, true}) {
    G7231Encoder* enc = create_encoder(high_rate);
    ASSERT_NE(enc, nullptr);
    EXPECT_EQ(enc->overflow, 0);
    EXPECT_EQ(enc->spare_indicator, 0);

    EXPECT_EQ(enc->cng.cur_gain, 0);
    EXPECT_EQ(enc->cng.prev_frame_kind, 1);
    EXPECT_TRUE(all_zero(enc->cng.cng_acf_history));
    EXPECT_TRUE(all_zero(enc->cng.cng_acf_exponents));
    EXPECT_TRUE(all_zero(enc->cng.sid_lsp));
    EXPECT_TRUE(all_zero(enc->cng.sid_lpc));
    EXPECT_TRUE(all_zero(enc->cng.sid_filter_acf));
    EXPECT_EQ(enc->cng.sid_filter_acf_shift, 0);
    EXPECT_TRUE(all_zero(enc->cng.energy_history));
    EXPECT_EQ(enc->cng.energy_count, 0);
    EXPECT_EQ(enc->cng.sid_gain_index, 0);
    EXPECT_EQ(enc->cng.sid_gain, 0);
    EXPECT_EQ(enc->cng.random_seed, 12345);

    EXPECT_EQ(enc->hpf_prev_input, 0);
    EXPECT_EQ(enc->hpf_prev_output, 0);
    EXPECT_EQ(enc->sine_detector, 0);
    EXPECT_EQ(enc->prev_lsp,
              (std::array<std::int16_t, 10>{3131, 4721, 7690, 10806, 13872, 16495, 19752, 22260, 25484, 27718}));
    EXPECT_TRUE(all_zero(enc->weighted_history));
    EXPECT_TRUE(all_zero(enc->shaping_history));
    EXPECT_TRUE(all_zero(enc->excitation_history));
    EXPECT_TRUE(all_zero(enc->analysis_history));
    EXPECT_TRUE(all_zero(enc->formant_fir_mem));
    EXPECT_TRUE(all_zero(enc->formant_iir_mem));
    EXPECT_TRUE(all_zero(enc->synth_filter_mem));
    EXPECT_TRUE(all_zero(enc->weight_filter_mem));
    EXPECT_EQ(enc->taming_error, (std::array<std::int32_t, 5>{4, 4, 4, 4, 4}));

    EXPECT_EQ(enc->vad.hangover, 0);
    EXPECT_EQ(enc->vad.voice_count, 0);
    EXPECT_EQ(enc->vad.prev_energy, 0);
    EXPECT_EQ(enc->vad.noise_level, 0);
    EXPECT_EQ(enc->vad.adapt_count, 0);
    EXPECT_TRUE(all_zero(enc->vad.lag_history));
    EXPECT_TRUE(all_zero(enc->vad.noise_lpc));
    EXPECT_EQ(enc->acelp_budget_carry, 0);

    EXPECT_EQ(enc->highpass_enabled, 1);
    EXPECT_EQ(enc->spare_option, 1);
    EXPECT_EQ(enc->vad_enabled, 1);
    EXPECT_EQ(enc->low_rate, high_rate ? 0 : 1);
    EXPECT_TRUE(destroy_encoder(enc));
  }
}

TEST(EncoderObject, NullEncoderIsRefusedWithoutTouchingAnything) {
  Frame frame{};
  frame.fill(1234);
  Packed out;
  out.fill(0xA5);
  EXPECT_FALSE(encode_frame(nullptr, frame, out));
  EXPECT_TRUE(std::ranges::all_of(out, [](std::uint8_t b) { return b == 0xA5; }));
  EXPECT_TRUE(std::ranges::all_of(frame, [](std::int16_t s) { return s == 1234; }));
  EXPECT_FALSE(destroy_encoder(nullptr));
}

TEST(EncoderObject, FrameTypeAndLengthFollowTheRate) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  for (const bool high_rate : {false, true}) {
    G7231Encoder* enc = create_encoder(high_rate);
    ASSERT_NE(enc, nullptr);
    for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
      Frame frame;
      std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
      Packed out;
      out.fill(0xFF);
      ASSERT_TRUE(encode_frame(enc, frame, out));
      // Voice activity detection is on, so silent frames may be SID or untransmitted; active ones carry
      // the rate's frame-type code and fill exactly 20 or 24 bytes.
      const int type = out[0] & 3;
      if (type == 0 || type == 1) {
        EXPECT_EQ(type, high_rate ? 0 : 1) << "frame " << f / kFrameSamples;
        if (!high_rate) {
          EXPECT_TRUE(all_zero(std::span(out).subspan(20))) << "frame " << f / kFrameSamples;
        }
      }
    }
    EXPECT_TRUE(destroy_encoder(enc));
  }
}

// Two encoders created alike and fed the same samples produce the same bytes, even when their frames are
// interleaved: nothing is shared between encoder objects.
TEST(EncoderObject, EncodersAreIndependent) {
  const std::vector<std::int16_t> speech = load_speech_sample("mmt1.raw");
  G7231Encoder* a = create_encoder(false);
  G7231Encoder* b = create_encoder(false);
  G7231Encoder* other = create_encoder(true);
  ASSERT_TRUE(a && b && other);
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    Frame fa, fb, fo;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, fa.begin());
    fb = fa;
    std::ranges::reverse_copy(fa, fo.begin());  // disturb a third encoder in between
    Packed pa, pb, po;
    encode_frame(a, fa, pa);
    encode_frame(other, fo, po);
    encode_frame(b, fb, pb);
    ASSERT_EQ(pa, pb) << "frame " << f / kFrameSamples;
  }
  destroy_encoder(a);
  destroy_encoder(b);
  destroy_encoder(other);
}

}  // namespace
}  // namespace g7231
