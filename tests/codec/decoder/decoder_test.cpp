// The decoder against the encoder's own reconstruction: with the postfilter off, every frame of every kind
// decodes to the speech the encoder left in its frame array, and the two objects' histories, previous LSP
// vector and synthesis memory stay equal, at both rates with voice activity detection on and off, for the
// bundled speech and synthetic extremes. Then the entry points' contracts.
#include "codec/decoder/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"
#include "tests/codec/decoder/signals.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

using Frame = std::array<std::int16_t, kFrameSamples>;
using Packed = std::array<std::uint8_t, kMaxFrameBytes>;

struct Tally {
  int active = 0, sid = 0, untransmitted = 0;
};

// Codes the signal and decodes every frame at its natural length, comparing output and state.
Tally expect_decoder_follows_encoder(const std::vector<std::int16_t>& signal, const EncoderOptions& options,
                                     const std::string& what) {
  G7231Encoder* enc = create_encoder(options);
  G7231Decoder* dec = create_decoder({.postfilter = false});
  Tally tally;
  for (std::size_t f = 0; f + kFrameSamples <= signal.size(); f += kFrameSamples) {
    Frame frame;
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    Packed packed;
    encode_frame(enc, frame, packed);  // frame now holds the encoder's reconstruction
    const FrameType type = frame_type_of(packed[0]);
    Frame out;
    const DecodeResult r = decode_frame(dec, std::span(packed).first(frame_bytes(type)), false, out);
    const std::size_t index = f / kFrameSamples;
    EXPECT_TRUE(r.ok && !r.concealed && r.type == type) << what << " frame " << index;
    EXPECT_EQ(out, frame) << what << ": frame " << index << " of type " << static_cast<int>(type);
    EXPECT_EQ(dec->excitation_history, enc->excitation_history) << what << " frame " << index;
    EXPECT_EQ(dec->prev_lsp, enc->prev_lsp) << what << " frame " << index;
    EXPECT_EQ(dec->synth_filter_mem, enc->synth_filter_mem) << what << " frame " << index;
    if (testing::Test::HasFailure()) break;
    ++(type == FrameType::sid ? tally.sid : type == FrameType::untransmitted ? tally.untransmitted : tally.active);
  }
  destroy_encoder(enc);
  destroy_decoder(dec);
  return tally;
}

const char* const kSpeechFiles[] = {"hts1a.raw", "hts2a.raw", "mmt1.raw",  "morig.raw",
                                    "forig.raw", "big_dog.raw", "cross.raw", "vk2tpm_004.raw"};

TEST(DecoderExactness, BundledSpeechAtBothRatesWithAndWithoutVad) {
  Tally total;
  for (const char* file : kSpeechFiles) {
    const std::vector<std::int16_t> speech = load_speech_sample(file);
    for (const bool high_rate : {false, true}) {
      for (const bool vad : {true, false}) {
        const Tally t = expect_decoder_follows_encoder(speech, {.high_rate = high_rate, .vad = vad},
                                                       std::string(file) + (high_rate ? " 6.3" : " 5.3") +
                                                           (vad ? " vad" : " no vad"));
        total.active += t.active;
        total.sid += t.sid;
        total.untransmitted += t.untransmitted;
      }
    }
  }
  // The comparison covered every kind of frame.
  EXPECT_GT(total.sid, 10);
  EXPECT_GT(total.untransmitted, 10);
}

TEST(DecoderExactness, SyntheticExtremes) {
  Tally total;
  for (const Signal& s : synthetic_signals()) {
    for (const bool high_rate : {false, true}) {
      for (const bool vad : {true, false}) {
        const Tally t = expect_decoder_follows_encoder(s.samples, {.high_rate = high_rate, .vad = vad},
                                                       s.name + (high_rate ? " 6.3" : " 5.3") + (vad ? " vad" : ""));
        total.sid += t.sid;
        total.untransmitted += t.untransmitted;
      }
    }
  }
  EXPECT_GT(total.sid, 0);
  EXPECT_GT(total.untransmitted, 0);
}

// A stream may change rate, and go to silence and back, from frame to frame: the decoder follows the type
// bits. Two encoders of different rates feed one decoder; it matches the active encoder's reconstruction
// while the other runs on the same input.
TEST(DecoderExactness, RateChangesBetweenFramesFollowTheTypeBits) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  G7231Encoder* low = create_encoder({.high_rate = false, .vad = false});
  G7231Encoder* high = create_encoder({.high_rate = true, .vad = false});
  G7231Decoder* dec = create_decoder({.postfilter = false});
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    // Each encoder keeps its own state; the decoder sees frames of alternating rates and so tracks neither
    // exactly, but it must decode each frame of its type without concealment.
    Frame a, b;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, a.begin());
    b = a;
    Packed pa, pb;
    encode_frame(low, a, pa);
    encode_frame(high, b, pb);
    const bool use_high = (f / kFrameSamples) % 3 == 1;
    const Packed& p = use_high ? pb : pa;
    Frame out;
    const DecodeResult r = decode_frame(dec, std::span(p).first(frame_bytes(frame_type_of(p[0]))), false, out);
    EXPECT_FALSE(r.concealed);
    EXPECT_EQ(r.type, use_high ? FrameType::active_high_rate : FrameType::active_low_rate);
  }
  destroy_encoder(low);
  destroy_encoder(high);
  destroy_decoder(dec);
}

// One encoder switching rate between frames (set_encoder_rate), through speech and silence: the decoder
// follows the type bits and stays exactly on the encoder's reconstruction and state.
TEST(DecoderExactness, OneEncoderSwitchingRateBetweenFrames) {
  for (const bool vad : {true, false}) {
    const std::vector<std::int16_t> speech = load_speech_sample("vk2tpm_004.raw");
    G7231Encoder* enc = create_encoder({.vad = vad});
    G7231Decoder* dec = create_decoder({.postfilter = false});
    int switches = 0;
    for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
      const std::size_t index = f / kFrameSamples;
      const bool high_rate = (index / 3 + index / 7) % 2 == 1;  // runs of 1 to 3 frames at each rate
      switches += (enc->low_rate == 0) != high_rate;
      ASSERT_TRUE(set_encoder_rate(enc, high_rate));
      Frame frame;
      std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
      Packed packed;
      encode_frame(enc, frame, packed);
      const FrameType type = frame_type_of(packed[0]);
      if (frame_kind(type) == FrameKind::active) {
        EXPECT_EQ(type, high_rate ? FrameType::active_high_rate : FrameType::active_low_rate) << "frame " << index;
      }
      Frame out;
      const DecodeResult r = decode_frame(dec, std::span(packed).first(frame_bytes(type)), false, out);
      ASSERT_FALSE(r.concealed) << "frame " << index;
      ASSERT_EQ(out, frame) << "frame " << index;
      ASSERT_EQ(dec->excitation_history, enc->excitation_history) << "frame " << index;
      ASSERT_EQ(dec->prev_lsp, enc->prev_lsp) << "frame " << index;
    }
    EXPECT_GT(switches, 100);
    EXPECT_FALSE(set_encoder_rate(nullptr, true));
    destroy_encoder(enc);
    destroy_decoder(dec);
  }
}

TEST(DecoderObject, NullDecoderIsRefusedWithoutTouchingTheOutput) {
  Frame out;
  out.fill(77);
  const std::array<std::uint8_t, 1> untransmitted{3};
  EXPECT_FALSE(decode_frame(nullptr, untransmitted, false, out).ok);
  EXPECT_TRUE(std::ranges::all_of(out, [](std::int16_t v) { return v == 77; }));
  EXPECT_FALSE(destroy_decoder(nullptr));
  G7231Decoder* dec = create_decoder();
  ASSERT_NE(dec, nullptr);
  EXPECT_TRUE(dec->postfilter_enabled);
  EXPECT_TRUE(destroy_decoder(dec));
}

// Two decoders fed the same stream give the same output: nothing is shared or global.
TEST(DecoderObject, DecodersShareNothing) {
  const std::vector<std::int16_t> speech = load_speech_sample("cross.raw");
  G7231Encoder* enc = create_encoder(false);
  G7231Decoder* a = create_decoder();
  G7231Decoder* b = create_decoder();
  G7231Decoder* other = create_decoder();
  std::mt19937 rng(6201);
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    Frame frame;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    Packed p;
    encode_frame(enc, frame, p);
    const auto bytes = std::span(p).first(frame_bytes(frame_type_of(p[0])));
    Frame oa, ob, oo;
    decode_frame(a, bytes, false, oa);
    decode_frame(other, bytes, rng() % 2 == 0, oo);  // a third decoder with losses in between
    decode_frame(b, bytes, false, ob);
    ASSERT_EQ(oa, ob) << "frame " << f / kFrameSamples;
  }
  destroy_encoder(enc);
  for (G7231Decoder* d : {a, b, other}) destroy_decoder(d);
}

}  // namespace
}  // namespace g7231
