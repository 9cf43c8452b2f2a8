// Bitstream regression: the exact bytes the encoder codes for every bundled speech file at both rates,
// held as hashes. Any change to them must be deliberate (a new table set, a corrected stage): then the
// failure message gives the new hashes to store. Speed work must leave them untouched.
#include <gtest/gtest.h>

#include <array>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

struct Expected {
  const char* file;
  std::uint64_t low_rate;   // 5.3 kbit/s
  std::uint64_t high_rate;  // 6.3 kbit/s
};

// FNV-1a over the 24-byte output of every frame.
std::uint64_t bitstream_hash(const std::vector<std::int16_t>& speech, bool high_rate) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  G7231Encoder* enc = create_encoder(high_rate);
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> frame;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> out;
    encode_frame(enc, frame, out);
    for (std::uint8_t b : out) h = (h ^ b) * 0x100000001b3ull;
  }
  destroy_encoder(enc);
  return h;
}

constexpr std::array<Expected, 8> kExpected = {{
    {"big_dog.raw", 0xbb8692be70194574ull, 0x315932785d379189ull},
    {"cross.raw", 0x5a29ab5fe8e7810bull, 0xff88ad7d83d2e0f1ull},
    {"forig.raw", 0x1642d20e04c6420dull, 0xe3a684a89dd6f38cull},
    {"hts1a.raw", 0xeb8c4164f35b2d08ull, 0xd7353bb01a902b75ull},
    {"hts2a.raw", 0x9d924e677807feadull, 0x0d628c8b037ea8a9ull},
    {"mmt1.raw", 0x8733b8316a6b7aecull, 0x74ca95f1a265806eull},
    {"morig.raw", 0xd573e1cc41adb94full, 0x47043e34124816cfull},
    {"vk2tpm_004.raw", 0x26b634d8b6a1108full, 0xbfa1bced248c227bull},
}};

TEST(BitstreamRegression, EveryBundledFileAtBothRates) {
  std::string table;
  bool all_match = true;
  for (const Expected& e : kExpected) {
    const std::vector<std::int16_t> speech = load_speech_sample(e.file);
    const std::uint64_t low = bitstream_hash(speech, false);
    const std::uint64_t high = bitstream_hash(speech, true);
    all_match = all_match && low == e.low_rate && high == e.high_rate;
    char line[128];
    std::snprintf(line, sizeof line, "    {\"%s\", 0x%016" PRIx64 "ull, 0x%016" PRIx64 "ull},\n", e.file, low, high);
    table += line;
  }
  EXPECT_TRUE(all_match) << "the coded bytes changed; if that is intended, the new hashes are:\n" << table;
}

}  // namespace
}  // namespace g7231
