// Four threads code and decode all the bundled speech at once through the C interface, one encoder and one
// decoder each, with different options; every thread's bytes and samples equal those of the same work
// done alone beforehand. Built and run under ThreadSanitizer too (preset tsan), which reports any state
// the objects share.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <thread>
#include <vector>

#include "g7231/g7231.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

struct Work {
  int rate;
  int vad;
  int postfilter;
};

struct Output {
  std::vector<std::uint8_t> frames;
  std::vector<std::int16_t> speech;
  int error = G7231_OK;
};

std::vector<std::int16_t> all_speech() {
  std::vector<std::int16_t> all;
  for (const char* file : {"big_dog.raw", "cross.raw", "forig.raw", "hts1a.raw", "hts2a.raw", "mmt1.raw",
                           "morig.raw", "vk2tpm_004.raw"}) {
    const std::vector<std::int16_t> s = load_speech_sample(file);
    all.insert(all.end(), s.begin(), s.end() - static_cast<std::ptrdiff_t>(s.size() % G7231_FRAME_SAMPLES));
  }
  return all;
}

Output code(const std::vector<std::int16_t>& speech, const Work& work) {
  Output o;
  g7231_encoder_options eo;
  g7231_encoder_options_init(&eo);
  eo.rate = work.rate;
  eo.vad = work.vad;
  g7231_decoder_options dopt;
  g7231_decoder_options_init(&dopt);
  dopt.postfilter = work.postfilter;
  g7231_encoder* enc = g7231_encoder_create(&eo, &o.error);
  g7231_decoder* dec = o.error == G7231_OK ? g7231_decoder_create(&dopt, &o.error) : nullptr;
  std::array<std::uint8_t, G7231_MAX_FRAME_BYTES> frame;
  std::array<std::int16_t, G7231_FRAME_SAMPLES> pcm;
  for (std::size_t at = 0; o.error == G7231_OK && at < speech.size(); at += G7231_FRAME_SAMPLES) {
    const int n = g7231_encode(enc, speech.data() + at, G7231_FRAME_SAMPLES, frame.data(), frame.size());
    if (n < 0) {
      o.error = n;
      break;
    }
    o.frames.insert(o.frames.end(), frame.begin(), frame.begin() + n);
    const int m = g7231_decode(dec, frame.data(), static_cast<std::size_t>(n), pcm.data(), pcm.size());
    if (m < 0) o.error = m;
    o.speech.insert(o.speech.end(), pcm.begin(), pcm.end());
  }
  g7231_encoder_destroy(enc);
  g7231_decoder_destroy(dec);
  return o;
}

TEST(CApiThreads, FourThreadsCodeAsOneThreadAlone) {
  const std::vector<std::int16_t> speech = all_speech();
  const std::array<Work, 4> work = {{
      {G7231_RATE_5300, 1, 1},
      {G7231_RATE_6300, 1, 0},
      {G7231_RATE_5300, 0, 0},
      {G7231_RATE_6300, 0, 1},
  }};
  std::array<Output, 4> alone;
  for (std::size_t i = 0; i < work.size(); ++i) alone[i] = code(speech, work[i]);

  std::array<Output, 4> together;
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < work.size(); ++i) {
    threads.emplace_back([&, i] { together[i] = code(speech, work[i]); });
  }
  for (std::thread& t : threads) t.join();

  for (std::size_t i = 0; i < work.size(); ++i) {
    ASSERT_EQ(alone[i].error, G7231_OK) << g7231_strerror(alone[i].error);
    EXPECT_EQ(together[i].error, G7231_OK) << g7231_strerror(together[i].error);
    EXPECT_EQ(together[i].frames.size(), alone[i].frames.size()) << "thread " << i;
    EXPECT_TRUE(together[i].frames == alone[i].frames) << "thread " << i << ": packed frames differ";
    EXPECT_TRUE(together[i].speech == alone[i].speech) << "thread " << i << ": decoded speech differs";
  }
}

}  // namespace
}  // namespace g7231
