// The C interface: every bad pointer, length and option is refused with its error code and touches
// nothing; what it codes and decodes is byte for byte what the C++ objects give; objects placed by the
// caller behave as allocated ones; and the public header compiles as strict C99 (c99_header_check.c).
#include "g7231/g7231.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "codec/tables/builtin_table_set.h"
#include "codec/tables/table_set_file.h"
#include "tests/speech_samples.h"

extern "C" int g7231_c99_header_check(void);

namespace g7231 {
namespace {

struct EncoderDeleter {
  void operator()(g7231_encoder* e) const { g7231_encoder_destroy(e); }
};
struct DecoderDeleter {
  void operator()(g7231_decoder* d) const { g7231_decoder_destroy(d); }
};
using CEncoder = std::unique_ptr<g7231_encoder, EncoderDeleter>;
using CDecoder = std::unique_ptr<g7231_decoder, DecoderDeleter>;

CEncoder make_encoder(int rate = G7231_RATE_5300, int vad = 1) {
  g7231_encoder_options o;
  g7231_encoder_options_init(&o);
  o.rate = rate;
  o.vad = vad;
  int error = 1;
  CEncoder e(g7231_encoder_create(&o, &error));
  EXPECT_EQ(error, G7231_OK);
  return e;
}

CDecoder make_decoder(int postfilter = 1) {
  g7231_decoder_options o;
  g7231_decoder_options_init(&o);
  o.postfilter = postfilter;
  int error = 1;
  CDecoder d(g7231_decoder_create(&o, &error));
  EXPECT_EQ(error, G7231_OK);
  return d;
}

std::array<std::int16_t, kFrameSamples> frame_at(const std::vector<std::int16_t>& speech, std::size_t f) {
  std::array<std::int16_t, kFrameSamples> frame;
  std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f * kFrameSamples), kFrameSamples, frame.begin());
  return frame;
}

TEST(CApi, PublicHeaderCompilesAsC99) { EXPECT_EQ(g7231_c99_header_check(), 0); }

TEST(CApi, VersionAndErrorTexts) {
  EXPECT_STREQ(g7231_version(), G7231_VERSION_STRING);
  EXPECT_EQ(std::string(g7231_version()), std::to_string(G7231_VERSION_MAJOR) + "." +
                                              std::to_string(G7231_VERSION_MINOR) + "." +
                                              std::to_string(G7231_VERSION_PATCH));
  std::set<std::string> texts;
  for (int code = G7231_ERR_INTERNAL; code <= G7231_OK; ++code) texts.insert(g7231_strerror(code));
  texts.insert(g7231_strerror(-1000));
  texts.insert(g7231_strerror(7));
  EXPECT_EQ(texts.size(), 11u) << "each code has its own text, and unknown codes share one";
  EXPECT_STREQ(g7231_strerror(-1000), "unknown error");
}

TEST(CApi, FrameTypeAndSizeFromTheFirstByte) {
  constexpr std::array<std::size_t, 4> kSizes = {24, 20, 4, 1};
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    EXPECT_EQ(g7231_frame_type_of(byte), b & 3);
    EXPECT_EQ(g7231_frame_size(byte), kSizes[static_cast<std::size_t>(b & 3)]);
  }
}

TEST(CApi, BadOptionsAreRefused) {
  g7231_encoder_options good;
  g7231_encoder_options_init(&good);
  const g7231_table_set* some_set = reinterpret_cast<const g7231_table_set*>(&good);
  const std::vector<std::pair<const char*, g7231_encoder_options>> bad = {
      {"rate 0", {0, 1, 1, nullptr}},          {"rate 5301", {5301, 1, 1, nullptr}},
      {"rate 63", {63, 1, 1, nullptr}},        {"vad 2", {G7231_RATE_5300, 2, 1, nullptr}},
      {"vad -1", {G7231_RATE_6300, -1, 1, nullptr}}, {"highpass 7", {G7231_RATE_5300, 1, 7, nullptr}},
      {"an unloaded table set", {G7231_RATE_5300, 1, 1, some_set}},
  };
  for (const auto& [what, options] : bad) {
    int error = 0;
    EXPECT_EQ(g7231_encoder_create(&options, &error), nullptr) << what;
    EXPECT_EQ(error, G7231_ERR_BAD_OPTION) << what;
  }
  g7231_decoder_options dec_options;
  g7231_decoder_options_init(&dec_options);
  for (const int postfilter : {-1, 2, 100}) {
    dec_options.postfilter = postfilter;
    int error = 0;
    EXPECT_EQ(g7231_decoder_create(&dec_options, &error), nullptr);
    EXPECT_EQ(error, G7231_ERR_BAD_OPTION);
  }
  // Null options are the defaults; a null error pointer is allowed.
  CEncoder e(g7231_encoder_create(nullptr, nullptr));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(g7231_encoder_get_rate(e.get()), G7231_RATE_5300);
  EXPECT_EQ(g7231_encoder_set_rate(e.get(), 6301), G7231_ERR_BAD_OPTION);
  EXPECT_EQ(g7231_encoder_get_rate(e.get()), G7231_RATE_5300);
  g7231_encoder_options_init(nullptr);
  g7231_decoder_options_init(nullptr);
}

// Every call given a bad handle, pointer or length: the error code, and no byte written.
TEST(CApi, BadArgumentsTouchNothing) {
  CEncoder enc = make_encoder(G7231_RATE_6300);
  CDecoder dec = make_decoder();
  std::array<std::int16_t, kFrameSamples + 1> pcm{};
  std::array<std::uint8_t, G7231_MAX_FRAME_BYTES> out;
  out.fill(0xA5);
  const auto untouched = [&] { return std::ranges::all_of(out, [](std::uint8_t b) { return b == 0xA5; }); };
  // Memory that holds no encoder: zeroed, as freshly allocated memory often is.
  alignas(std::max_align_t) std::array<unsigned char, 8192> raw{};
  ASSERT_GE(raw.size(), g7231_encoder_get_size());
  auto* not_an_encoder = reinterpret_cast<g7231_encoder*>(raw.data());
  auto* not_a_decoder = reinterpret_cast<g7231_decoder*>(raw.data());

  struct Case {
    const char* what;
    int result;
    int expected;
  };
  const Case encode_cases[] = {
      {"null encoder", g7231_encode(nullptr, pcm.data(), kFrameSamples, out.data(), out.size()), G7231_ERR_NULL},
      {"uninitialised encoder", g7231_encode(not_an_encoder, pcm.data(), kFrameSamples, out.data(), out.size()),
       G7231_ERR_BAD_HANDLE},
      {"a decoder as encoder", g7231_encode(reinterpret_cast<g7231_encoder*>(dec.get()), pcm.data(), kFrameSamples,
                                            out.data(), out.size()),
       G7231_ERR_BAD_HANDLE},
      {"null pcm", g7231_encode(enc.get(), nullptr, kFrameSamples, out.data(), out.size()), G7231_ERR_NULL},
      {"null out", g7231_encode(enc.get(), pcm.data(), kFrameSamples, nullptr, out.size()), G7231_ERR_NULL},
      {"239 samples", g7231_encode(enc.get(), pcm.data(), kFrameSamples - 1, out.data(), out.size()),
       G7231_ERR_BAD_LENGTH},
      {"241 samples", g7231_encode(enc.get(), pcm.data(), kFrameSamples + 1, out.data(), out.size()),
       G7231_ERR_BAD_LENGTH},
      {"23 bytes at 6.3 kbit/s", g7231_encode(enc.get(), pcm.data(), kFrameSamples, out.data(), 23),
       G7231_ERR_SHORT_BUFFER},
      {"0 bytes", g7231_encode(enc.get(), pcm.data(), kFrameSamples, out.data(), 0), G7231_ERR_SHORT_BUFFER},
      {"set rate, null", g7231_encoder_set_rate(nullptr, G7231_RATE_5300), G7231_ERR_NULL},
      {"set rate, uninitialised", g7231_encoder_set_rate(not_an_encoder, G7231_RATE_5300), G7231_ERR_BAD_HANDLE},
      {"get rate, null", g7231_encoder_get_rate(nullptr), G7231_ERR_NULL},
  };
  for (const Case& c : encode_cases) {
    EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_TRUE(untouched()) << c.what;
  }
  // A 5.3 kbit/s encoder needs only 20 bytes; the same encoder after switching needs 24.
  EXPECT_EQ(g7231_encoder_set_rate(enc.get(), G7231_RATE_5300), G7231_OK);
  EXPECT_EQ(g7231_encode(enc.get(), pcm.data(), kFrameSamples, out.data(), 19), G7231_ERR_SHORT_BUFFER);
  EXPECT_TRUE(untouched());

  std::array<std::int16_t, kFrameSamples> samples;
  samples.fill(0x1234);
  const auto samples_untouched = [&] { return std::ranges::all_of(samples, [](std::int16_t v) { return v == 0x1234; }); };
  const std::uint8_t frame[1] = {3};
  const Case decode_cases[] = {
      {"null decoder", g7231_decode(nullptr, frame, 1, samples.data(), samples.size()), G7231_ERR_NULL},
      {"uninitialised decoder", g7231_decode(not_a_decoder, frame, 1, samples.data(), samples.size()),
       G7231_ERR_BAD_HANDLE},
      {"an encoder as decoder", g7231_decode(reinterpret_cast<g7231_decoder*>(enc.get()), frame, 1, samples.data(),
                                             samples.size()),
       G7231_ERR_BAD_HANDLE},
      {"null pcm", g7231_decode(dec.get(), frame, 1, nullptr, samples.size()), G7231_ERR_NULL},
      {"239 samples of room", g7231_decode(dec.get(), frame, 1, samples.data(), kFrameSamples - 1),
       G7231_ERR_SHORT_BUFFER},
      {"null frame with a length", g7231_decode(dec.get(), nullptr, 4, samples.data(), samples.size()),
       G7231_ERR_BAD_LENGTH},
  };
  for (const Case& c : decode_cases) {
    EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_TRUE(samples_untouched()) << c.what;
  }
  EXPECT_EQ(g7231_decoder_frames_concealed(nullptr), 0u);
  EXPECT_EQ(g7231_decoder_frames_concealed(not_a_decoder), 0u);
  // Destroying null or memory that holds no object does nothing.
  g7231_encoder_destroy(nullptr);
  g7231_decoder_destroy(nullptr);
  g7231_encoder_destroy(not_an_encoder);
  g7231_decoder_destroy(not_a_decoder);
}

TEST(CApi, PlacementChecksSizeAndAlignment) {
  const std::size_t size = g7231_encoder_get_size();
  std::vector<std::max_align_t> storage(size / sizeof(std::max_align_t) + 2);
  auto* memory = reinterpret_cast<unsigned char*>(storage.data());
  std::vector<unsigned char> before(memory, memory + size + 8);
  auto* at = reinterpret_cast<g7231_encoder*>(memory);
  EXPECT_EQ(g7231_encoder_init(nullptr, size, nullptr), G7231_ERR_NULL);
  EXPECT_EQ(g7231_encoder_init(at, size - 1, nullptr), G7231_ERR_SHORT_BUFFER);
  EXPECT_EQ(g7231_encoder_init(reinterpret_cast<g7231_encoder*>(memory + 2), size, nullptr), G7231_ERR_BAD_HANDLE);
  g7231_encoder_options bad;
  g7231_encoder_options_init(&bad);
  bad.rate = 0;
  EXPECT_EQ(g7231_encoder_init(at, size, &bad), G7231_ERR_BAD_OPTION);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), memory)) << "a refused init wrote to the memory";
  EXPECT_EQ(g7231_decoder_init(reinterpret_cast<g7231_decoder*>(memory), g7231_decoder_get_size() - 1, nullptr),
            G7231_ERR_SHORT_BUFFER);
}

// Objects placed by the caller and objects the library allocates code alike, and initialising an object
// again starts a new stream.
TEST(CApi, PlacedObjectsMatchAllocatedOnes) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts2a.raw");
  std::vector<std::max_align_t> enc_memory(g7231_encoder_get_size() / sizeof(std::max_align_t) + 1);
  std::vector<std::max_align_t> dec_memory(g7231_decoder_get_size() / sizeof(std::max_align_t) + 1);
  auto* placed_enc = reinterpret_cast<g7231_encoder*>(enc_memory.data());
  auto* placed_dec = reinterpret_cast<g7231_decoder*>(dec_memory.data());
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(g7231_encoder_init(placed_enc, enc_memory.size() * sizeof(std::max_align_t), nullptr), G7231_OK);
    ASSERT_EQ(g7231_decoder_init(placed_dec, dec_memory.size() * sizeof(std::max_align_t), nullptr), G7231_OK);
    CEncoder enc = make_encoder();
    CDecoder dec = make_decoder();
    for (std::size_t f = 0; f < speech.size() / kFrameSamples; ++f) {
      const auto pcm = frame_at(speech, f);
      std::array<std::uint8_t, 24> a{}, b{};
      const int na = g7231_encode(placed_enc, pcm.data(), pcm.size(), a.data(), a.size());
      const int nb = g7231_encode(enc.get(), pcm.data(), pcm.size(), b.data(), b.size());
      ASSERT_EQ(na, nb);
      ASSERT_EQ(a, b) << "frame " << f;
      std::array<std::int16_t, kFrameSamples> da, db;
      ASSERT_EQ(g7231_decode(placed_dec, a.data(), static_cast<std::size_t>(na), da.data(), da.size()),
                G7231_FRAME_SAMPLES);
      ASSERT_EQ(g7231_decode(dec.get(), b.data(), static_cast<std::size_t>(nb), db.data(), db.size()),
                G7231_FRAME_SAMPLES);
      ASSERT_EQ(da, db) << "frame " << f;
    }
  }
}

// The C interface against the C++ objects on bundled speech: same packed bytes, frame lengths as the type
// bits say, const input unchanged, and the same decoded samples, with frames lost now and then.
TEST(CApi, CodesAndDecodesAsTheCppObjects) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  for (const int rate : {G7231_RATE_5300, G7231_RATE_6300}) {
    for (const int vad : {1, 0}) {
      CEncoder c_enc = make_encoder(rate, vad);
      CDecoder c_dec = make_decoder(1);
      G7231Encoder* enc = create_encoder({.high_rate = rate == G7231_RATE_6300, .vad = vad == 1});
      G7231Decoder* dec = create_decoder({.postfilter = true});
      for (std::size_t f = 0; f < speech.size() / kFrameSamples; ++f) {
        const auto pcm = frame_at(speech, f);
        const auto copy = pcm;
        std::array<std::uint8_t, 24> c_out;
        c_out.fill(0xEE);
        const int n = g7231_encode(c_enc.get(), pcm.data(), pcm.size(), c_out.data(), c_out.size());
        ASSERT_EQ(pcm, copy) << "the input was changed";
        auto frame = pcm;
        std::array<std::uint8_t, kMaxFrameBytes> out;
        encode_frame(enc, frame, out);
        const std::size_t length = frame_bytes(frame_type_of(out[0]));
        ASSERT_EQ(n, static_cast<int>(length));
        ASSERT_TRUE(std::equal(out.begin(), out.begin() + n, c_out.begin())) << "frame " << f;
        ASSERT_TRUE(std::all_of(c_out.begin() + n, c_out.end(), [](std::uint8_t b) { return b == 0xEE; }))
            << "bytes past the frame were written";

        const bool lost = f % 17 == 5;
        std::array<std::int16_t, kFrameSamples> c_pcm, cpp_pcm;
        ASSERT_EQ(g7231_decode(c_dec.get(), lost ? nullptr : c_out.data(), lost ? 0 : length, c_pcm.data(),
                               c_pcm.size()),
                  G7231_FRAME_SAMPLES);
        decode_frame(dec, std::span(out).first(length), lost, cpp_pcm);
        ASSERT_EQ(c_pcm, cpp_pcm) << "frame " << f;
      }
      EXPECT_EQ(g7231_decoder_frames_concealed(c_dec.get()), dec->frames_concealed);
      EXPECT_GT(dec->frames_concealed, 0u);
      destroy_encoder(enc);
      destroy_decoder(dec);
    }
  }
}

// A rate switch through the C interface is the C++ entry point's: the same bytes, each active frame at
// the rate in force, and the output buffer's needed size following the rate.
TEST(CApi, RateSwitchingBetweenFrames) {
  const std::vector<std::int16_t> speech = load_speech_sample("mmt1.raw");
  CEncoder c_enc = make_encoder(G7231_RATE_5300, 0);
  G7231Encoder* enc = create_encoder({.vad = false});
  for (std::size_t f = 0; f < speech.size() / kFrameSamples; ++f) {
    const int rate = f % 5 < 2 ? G7231_RATE_6300 : G7231_RATE_5300;
    ASSERT_EQ(g7231_encoder_set_rate(c_enc.get(), rate), G7231_OK);
    ASSERT_EQ(g7231_encoder_get_rate(c_enc.get()), rate);
    set_encoder_rate(enc, rate == G7231_RATE_6300);
    const auto pcm = frame_at(speech, f);
    std::array<std::uint8_t, 24> c_out;
    const int n = g7231_encode(c_enc.get(), pcm.data(), pcm.size(), c_out.data(), c_out.size());
    ASSERT_EQ(n, rate == G7231_RATE_6300 ? 24 : 20);
    ASSERT_EQ(g7231_frame_type_of(c_out[0]), rate == G7231_RATE_6300 ? G7231_FRAME_ACTIVE_6300 : G7231_FRAME_ACTIVE_5300);
    auto frame = pcm;
    std::array<std::uint8_t, kMaxFrameBytes> out;
    encode_frame(enc, frame, out);
    ASSERT_TRUE(std::equal(out.begin(), out.begin() + n, c_out.begin())) << "frame " << f;
  }
  destroy_encoder(enc);
}

class CApiTables : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "g7231-c-api-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string write(const std::string& name, const TableSet& set) const {
    const std::string path = (dir_ / name).string();
    std::ofstream out(path);
    write_table_set(out, set, "test");
    return path;
  }
  std::filesystem::path dir_;
};

// A loaded set codes as the built-in one when it holds the same values, codes otherwise when it does not,
// and the decoder given it follows.
TEST_F(CApiTables, LoadedSetsCodeWithTheirValues) {
  auto other = std::make_unique<TableSet>(kBuiltinTableSet);
  std::reverse(other->lsp_band2.begin() + 1, other->lsp_band2.end());
  const std::string same_path = write("same.txt", kBuiltinTableSet);
  const std::string other_path = write("other.txt", *other);
  int error = 1;
  char message[256] = "stale";
  g7231_table_set* same = g7231_table_set_load(same_path.c_str(), &error, message, sizeof message);
  ASSERT_NE(same, nullptr) << message;
  EXPECT_EQ(error, G7231_OK);
  EXPECT_STREQ(message, "");
  g7231_table_set* changed = g7231_table_set_load(other_path.c_str(), nullptr, nullptr, 0);
  ASSERT_NE(changed, nullptr);

  const std::vector<std::int16_t> speech = load_speech_sample("forig.raw");
  const auto code = [&](const g7231_table_set* tables) {
    g7231_encoder_options eo;
    g7231_encoder_options_init(&eo);
    eo.tables = tables;
    g7231_decoder_options dopt;
    g7231_decoder_options_init(&dopt);
    dopt.tables = tables;
    CEncoder enc(g7231_encoder_create(&eo, nullptr));
    CDecoder dec(g7231_decoder_create(&dopt, nullptr));
    std::vector<std::uint8_t> bytes;
    std::vector<std::int16_t> decoded;
    for (std::size_t f = 0; f < speech.size() / kFrameSamples; ++f) {
      const auto pcm = frame_at(speech, f);
      std::array<std::uint8_t, 24> out;
      const int n = g7231_encode(enc.get(), pcm.data(), pcm.size(), out.data(), out.size());
      bytes.insert(bytes.end(), out.begin(), out.begin() + n);
      std::array<std::int16_t, kFrameSamples> samples;
      g7231_decode(dec.get(), out.data(), static_cast<std::size_t>(n), samples.data(), samples.size());
      decoded.insert(decoded.end(), samples.begin(), samples.end());
    }
    return std::pair(bytes, decoded);
  };
  const auto builtin = code(nullptr);
  EXPECT_TRUE(code(same) == builtin);
  const auto other_coded = code(changed);
  EXPECT_NE(other_coded.first, builtin.first);
  g7231_table_set_destroy(same);
  g7231_table_set_destroy(changed);
  g7231_table_set_destroy(nullptr);
}

TEST_F(CApiTables, BadFilesAreRefusedWithTheirReason) {
  auto bad = std::make_unique<TableSet>(kBuiltinTableSet);
  bad->sharp_lag_offset[7] = 5;
  const std::string bad_path = write("bad.txt", *bad);
  struct Case {
    const char* what;
    const char* path;
    int expected;
    const char* message;
  };
  const std::string missing = (dir_ / "missing.txt").string();
  const Case cases[] = {
      {"null path", nullptr, G7231_ERR_NULL, "no table-set file named"},
      {"no such file", missing.c_str(), G7231_ERR_IO, "missing.txt: cannot be opened"},
      {"bad structure", bad_path.c_str(), G7231_ERR_BAD_TABLES, "entry 7 is 5"},
  };
  for (const Case& c : cases) {
    int error = 0;
    char message[512];
    EXPECT_EQ(g7231_table_set_load(c.path, &error, message, sizeof message), nullptr) << c.what;
    EXPECT_EQ(error, c.expected) << c.what;
    EXPECT_NE(std::string(message).find(c.message), std::string::npos) << c.what << ": " << message;
  }
  // A message is cut to the room given, always terminated.
  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(g7231_table_set_load(bad_path.c_str(), nullptr, small, 5), nullptr);
  EXPECT_EQ(std::strlen(small), 4u);
  EXPECT_EQ(small[5], 'x');
}

}  // namespace
}  // namespace g7231
