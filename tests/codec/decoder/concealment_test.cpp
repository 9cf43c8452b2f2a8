// Concealment on real speech: loss patterns (single frames, bursts of 2 to 10, every other frame, the
// first frame) never raise the output above the level the undamaged stream has around the loss, bursts in
// speech fall steadily quiet and are silent after 90 ms, and frames that are cut short, hold fields no
// encoder writes or arrive as an untransmitted frame straight after speech are concealed like lost ones.
#include "codec/decoder/concealment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bitstream/frame_packer.h"
#include "bitstream/frame_unpacker.h"
#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

using Frame = std::array<std::int16_t, kFrameSamples>;
using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> coded(const std::string& file, bool high_rate) {
  const std::vector<std::int16_t> s = load_speech_sample(file);
  G7231Encoder* enc = create_encoder(high_rate);
  std::vector<Bytes> frames;
  for (std::size_t i = 0; i + kFrameSamples <= s.size(); i += kFrameSamples) {
    Frame f;
    std::copy_n(s.begin() + static_cast<std::ptrdiff_t>(i), kFrameSamples, f.begin());
    std::array<std::uint8_t, kMaxFrameBytes> p;
    encode_frame(enc, f, p);
    frames.emplace_back(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(frame_bytes(frame_type_of(p[0]))));
  }
  destroy_encoder(enc);
  return frames;
}

std::vector<Frame> decoded(const std::vector<Bytes>& frames, const std::function<bool(std::size_t)>& lost,
                           bool postfilter = false) {
  G7231Decoder* dec = create_decoder({.postfilter = postfilter});
  std::vector<Frame> out(frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) decode_frame(dec, frames[i], lost(i), out[i]);
  destroy_decoder(dec);
  return out;
}

int peak(const Frame& f) {
  int m = 0;
  for (std::int16_t v : f) m = std::max(m, std::abs(static_cast<int>(v)));
  return m;
}

double energy(const Frame& f) {
  double e = 0;
  for (std::int16_t v : f) e += static_cast<double>(v) * v;
  return e;
}

bool is_speech(const Bytes& frame) {
  const FrameType t = frame_type_of(frame[0]);
  return t == FrameType::active_low_rate || t == FrameType::active_high_rate;
}

const char* const kFiles[] = {"hts1a.raw", "mmt1.raw", "cross.raw", "big_dog.raw", "vk2tpm_004.raw"};

struct Pattern {
  const char* name;
  std::function<bool(std::size_t)> lost;
};

const std::vector<Pattern>& patterns() {
  static const std::vector<Pattern> p = {
      {"single", [](std::size_t i) { return i % 20 == 10; }},
      {"burst of 2", [](std::size_t i) { return i % 25 >= 10 && i % 25 < 12; }},
      {"burst of 5", [](std::size_t i) { return i % 30 >= 10 && i % 30 < 15; }},
      {"burst of 10", [](std::size_t i) { return i % 40 >= 10 && i % 40 < 20; }},
      {"every other", [](std::size_t i) { return i % 2 == 1; }},
      {"first frame", [](std::size_t i) { return i == 0; }},
  };
  return p;
}

// No frame, lost or recovering, goes above 1.5 times (3.5 dB) the undamaged stream's peak over the
// three frames on either side: a loss may change the waveform, but it never clicks.
TEST(Concealment, NoFrameRisesAboveTheSignalsOwnLevel) {
  for (const char* file : kFiles) {
    for (const bool high_rate : {false, true}) {
      const std::vector<Bytes> frames = coded(file, high_rate);
      const std::vector<Frame> clean = decoded(frames, [](std::size_t) { return false; });
      for (const Pattern& p : patterns()) {
        for (const bool postfilter : {false, true}) {
          const std::vector<Frame> out = decoded(frames, p.lost, postfilter);
          const std::vector<Frame> reference =
              postfilter ? decoded(frames, [](std::size_t) { return false; }, true) : clean;
          for (std::size_t i = 0; i < out.size(); ++i) {
            int level = 256;
            for (std::size_t j = i < 3 ? 0 : i - 3; j <= std::min(out.size() - 1, i + 3); ++j) {
              level = std::max(level, peak(reference[j]));
            }
            ASSERT_LE(peak(out[i]), level * 3 / 2)
                << file << (high_rate ? " 6.3 " : " 5.3 ") << p.name << (postfilter ? " postfiltered" : "")
                << ": frame " << i;
          }
        }
      }
    }
  }
}

// A burst that begins in speech fades: each concealed frame is quieter than the one before, and from
// the fourth on (after 90 ms) only the synthesis filter's decaying ringing is left.
TEST(Concealment, BurstsInSpeechFallQuietAndMute) {
  int bursts = 0;
  for (const char* file : kFiles) {
    for (const bool high_rate : {false, true}) {
      const std::vector<Bytes> frames = coded(file, high_rate);
      const auto lost = [](std::size_t i) { return i % 40 >= 10 && i % 40 < 20; };
      const std::vector<Frame> out = decoded(frames, lost);
      for (std::size_t start = 10; start + 10 <= frames.size(); start += 40) {
        if (!is_speech(frames[start - 1])) continue;  // a loss in silence continues the comfort noise
        const double first = energy(out[start]);
        if (first < 1e5) continue;
        ++bursts;
        for (std::size_t k = 1; k < 3; ++k) {
          EXPECT_LT(energy(out[start + k]), energy(out[start + k - 1])) << file << " burst at " << start << " +" << k;
        }
        EXPECT_LT(energy(out[start + 3]), 0.02 * first) << file << " burst at " << start;
        for (std::size_t k = 5; k < 10; ++k) EXPECT_LT(peak(out[start + k]), 64) << file << " burst at " << start;
      }
    }
  }
  EXPECT_GT(bursts, 20);
}

// Damaged frames are concealed exactly as frames that never arrived.
TEST(Concealment, DamagedFramesAreConcealedLikeLostOnes) {
  for (const bool high_rate : {false, true}) {
    const std::vector<Bytes> frames = coded("mmt1.raw", high_rate);
    std::size_t target = 40;
    while (!is_speech(frames[target]) || !is_speech(frames[target - 1])) ++target;
    const std::vector<Frame> lost = decoded(frames, [&](std::size_t i) { return i == target; });

    struct Damage {
      const char* what;
      std::function<void(Bytes&)> apply;
    };
    const std::vector<Damage> damages = {
        {"cut short", [](Bytes& b) { b.pop_back(); }},
        {"empty", [](Bytes& b) { b.clear(); }},
        {"lag field 127", [](Bytes& b) { b[3] |= 0xFC; b[4] |= 0x01; }},  // bits 26..32
        {"untransmitted after speech", [](Bytes& b) { b = {0x03}; }},
    };
    for (const Damage& d : damages) {
      std::vector<Bytes> damaged = frames;
      d.apply(damaged[target]);
      G7231Decoder* dec = create_decoder({.postfilter = false});
      for (std::size_t i = 0; i < frames.size(); ++i) {
        Frame out;
        const DecodeResult r = decode_frame(dec, damaged[i], false, out);
        ASSERT_EQ(r.concealed, i == target) << d.what << " frame " << i;
        ASSERT_EQ(out, lost[i]) << d.what << " frame " << i;
      }
      EXPECT_EQ(dec->frames_concealed, 1u);
      destroy_decoder(dec);
    }
  }
}

// Every field value no encoder writes conceals the frame: here through the unpacker's own verdict on
// frames spoiled one field at a time.
TEST(Concealment, InvalidFieldsConcealTheFrame) {
  const std::vector<Bytes> frames = coded("hts1a.raw", true);
  std::size_t target = 30;
  while (!is_speech(frames[target])) ++target;
  Bytes b = frames[target];
  b[12] |= 0x01;  // bit 96: the reserved bit of a 6.3 kbit/s frame
  ASSERT_EQ(unpack_frame(b).status, UnpackStatus::invalid);
  G7231Decoder* dec = create_decoder();
  Frame out;
  EXPECT_TRUE(decode_frame(dec, b, false, out).concealed);
  EXPECT_FALSE(decode_frame(dec, frames[target + 1], false, out).concealed);
  destroy_decoder(dec);
}

// In silence a lost frame continues the comfort noise as an untransmitted frame would.
TEST(Concealment, LossInSilenceContinuesTheComfortNoise) {
  const std::vector<Bytes> frames = coded("cross.raw", false);
  std::size_t target = 1;
  while (frame_type_of(frames[target][0]) != FrameType::untransmitted) ++target;
  const std::vector<Frame> as_sent = decoded(frames, [](std::size_t) { return false; });
  const std::vector<Frame> with_loss = decoded(frames, [&](std::size_t i) { return i == target; });
  EXPECT_EQ(with_loss, as_sent);
}

// The SID frame that opens a silence is lost, so the silence arrives as untransmitted frames straight after
// speech: with a noise description from an earlier silence the comfort noise takes it up at the level the
// undamaged stream has, rather than falling silent until the next SID frame; a stream that never had one
// fades out.
TEST(Concealment, LostSidFrameFallsBackOnTheLastNoiseDescription) {
  const std::vector<Bytes> frames = coded("hts1a.raw", false);
  std::size_t sid = 1;
  while (!(frame_type_of(frames[sid][0]) == FrameType::sid && is_speech(frames[sid - 1]))) ++sid;
  std::size_t next_sid = sid + 1;
  while (next_sid < frames.size() && frame_type_of(frames[next_sid][0]) == FrameType::untransmitted) ++next_sid;
  ASSERT_GT(next_sid, sid + 5);
  const std::vector<Frame> clean = decoded(frames, [](std::size_t) { return false; });
  const std::vector<Frame> lost = decoded(frames, [&](std::size_t i) { return i == sid; });
  for (std::size_t i = sid + 1; i < next_sid; ++i) {
    EXPECT_NEAR(10 * std::log10((energy(lost[i]) + 1) / (energy(clean[i]) + 1)), 0.0, 3.0) << "frame " << i;
  }

  // The same stream from its first speech frame on: no noise description has arrived before the loss.
  std::size_t speech = 0;
  while (!is_speech(frames[speech])) ++speech;
  const std::vector<Bytes> tail(frames.begin() + static_cast<std::ptrdiff_t>(speech), frames.end());
  const std::vector<Frame> faded = decoded(tail, [&](std::size_t i) { return i == sid - speech; });
  for (std::size_t i = sid + 4; i < next_sid; ++i) EXPECT_LT(peak(faded[i - speech]), 16) << "frame " << i;
}

}  // namespace
}  // namespace g7231
