// g7231 encode and decode run as programs: audio files of any kind end to end, pipelines, the records
// layout beside g7231enc, and agreement with the codec library.
#include <cmath>
#include <numeric>

#include "tests/app/g7231/program.h"

namespace g7231::app::test {
namespace {

double rms(const std::vector<std::int16_t>& s) {
  double sum = 0.0;
  for (std::int16_t v : s) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / static_cast<double>(std::max<std::size_t>(s.size(), 1)));
}

std::size_t frames_for(std::size_t samples_8k) { return (samples_8k + kFrameSamples - 1) / kFrameSamples; }

using EncodeDecode = ProgramTest;

TEST_F(EncodeDecode, AudioFilesOfAnyRateChannelsAndSampleTypeCodeEndToEnd) {
  const std::vector<std::int16_t> reference = load_speech_sample("hts1a.raw");
  struct Case {
    std::string name;
    int format;
    int rate;
    int channels;
    float second_channel_gain;  // the mixdown is the average of the channels
  };
  const std::vector<Case> cases = {
      {"stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 0.5F},
      {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 1, 0.0F},
      {"mono.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 22050, 1, 0.0F},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<float> speech = speech_at("hts1a.raw", c.rate);
    std::vector<float> interleaved;
    for (float s : speech) {
      interleaved.push_back(s);
      if (c.channels == 2) interleaved.push_back(s * c.second_channel_gain);
    }
    write_audio(path(c.name), c.format, c.rate, c.channels, interleaved);

    const RunResult enc = run({"encode", path(c.name), path("coded.g723")});
    ASSERT_EQ(enc.status, 0) << enc.err;
    EXPECT_EQ(enc.err, "");
    const RunResult dec = run({"decode", path("coded.g723"), path("decoded.wav")});
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(dec.err, "");

    const Audio decoded = read_audio(path("decoded.wav"));
    EXPECT_EQ(decoded.rate, 8000);
    EXPECT_EQ(decoded.channels, 1);
    EXPECT_EQ(decoded.samples.size(), frames_for(reference.size()) * kFrameSamples);
    // The decoded speech keeps the input's level (after mixdown), within what coding changes.
    const double mix = c.channels == 2 ? (1.0 + c.second_channel_gain) / 2.0 : 1.0;
    const double level = rms(decoded.samples) / (rms(reference) * mix);
    EXPECT_GT(level, 0.6);
    EXPECT_LT(level, 1.6);
  }
}

TEST_F(EncodeDecode, StandardInputAndOutputGiveWhatFilesGive) {
  write_audio(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, speech_at("cross.raw", 44100));
  write_file(path("in.bin"), pcm_bytes(load_speech_sample("cross.raw")));
  ASSERT_EQ(run({"encode", path("in.wav"), path("file.g723")}).status, 0);
  ASSERT_EQ(run({"decode", path("file.g723"), path("file.raw")}).status, 0);

  // A WAV through a pipe cannot be seeked; the encoder reads it all the same.
  const RunResult piped = run_shell("cat " + quoted(path("in.wav")) + " | " + command({"encode", "-", "-"}) +
                                    " | " + command({"decode", "-", "-"}));
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(piped.out, read_text(path("file.raw")));

  ASSERT_EQ(run({"encode", "--raw", path("in.bin"), path("raw.g723")}).status, 0);
  const RunResult raw = run_shell("cat " + quoted(path("in.bin")) + " | " + command({"encode", "--raw", "-", "-"}));
  EXPECT_EQ(raw.status, 0) << raw.err;
  EXPECT_EQ(raw.out, read_text(path("raw.g723")));
}

TEST_F(EncodeDecode, RecordsLayoutIsByteForByteWhatG7231encWrites) {
  // Whole frames, then a partial frame and an odd byte, which g7231enc leaves out.
  std::vector<std::uint8_t> bytes = pcm_bytes(load_speech_sample("mmt1.raw"));
  bytes.resize(bytes.size() + 201, 0x35);
  const std::size_t left_out = bytes.size() / 2 % kFrameSamples;
  ASSERT_NE(left_out, 0U);
  write_file(path("speech.bin"), bytes);
  write_file(path("speech.raw"), bytes);
  ASSERT_EQ(run_program(G7231ENC_PATH, {path("speech.bin"), path("g7231enc.out")}).status, 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"encode", "--format", "records", "--raw", path("speech.bin"), path("a.out")},
        std::vector<std::string>{"encode", "--format", "records", path("speech.raw"), path("a.out")}}) {
    const RunResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("the last " + std::to_string(left_out) + " samples"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(path("a.out")), read_file(path("g7231enc.out")));
  }
}

TEST_F(EncodeDecode, PackedStreamsEncodeAndDecodeAsTheLibraryDoes) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts2a.raw");
  write_file(path("speech.raw"), pcm_bytes(speech));
  struct Case {
    std::vector<std::string> encode_options;
    EncoderOptions options;
    bool postfilter;
  };
  const std::vector<Case> cases = {
      {{}, {.high_rate = false}, true},
      {{"--rate", "6.3"}, {.high_rate = true}, true},
      {{"--rate", "6.3", "--no-vad"}, {.high_rate = true, .vad = false}, false},
      {{"--no-highpass"}, {.high_rate = false, .vad = true, .highpass = false}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.encode_options));
    std::vector<std::string> enc = {"encode"};
    enc.insert(enc.end(), c.encode_options.begin(), c.encode_options.end());
    enc.insert(enc.end(), {path("speech.raw"), path("coded.g723")});
    ASSERT_EQ(run(enc).status, 0);
    const std::vector<std::uint8_t> packed = library_packed(speech, c.options);
    EXPECT_EQ(read_file(path("coded.g723")), packed);

    std::vector<std::string> dec = {"decode", path("coded.g723"), path("speech.pcm")};
    if (!c.postfilter) dec.insert(dec.begin() + 1, "--no-postfilter");
    ASSERT_EQ(run(dec).status, 0);
    EXPECT_EQ(pcm_samples(read_file(path("speech.pcm"))), library_decoded(packed, c.postfilter));
  }
}

TEST_F(EncodeDecode, DecoderTellsPackedStreamsFromRecords) {
  write_file(path("speech.raw"), pcm_bytes(load_speech_sample("hts1a.raw")));
  for (const std::string rate : {"5.3", "6.3"}) {
    SCOPED_TRACE(rate);
    ASSERT_EQ(run({"encode", "--rate", rate, path("speech.raw"), path("packed.g723")}).status, 0);
    ASSERT_EQ(run({"encode", "--rate", rate, "--format", "records", path("speech.raw"), path("records.g723")}).status,
              0);
    ASSERT_EQ(run({"decode", path("packed.g723"), path("packed.pcm")}).status, 0);
    const RunResult r = run({"decode", path("records.g723"), path("records.pcm")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(path("records.pcm")), read_file(path("packed.pcm")));
  }

  // A packed stream whose last frame is cut short fits neither layout: refused unless the layout is named.
  std::vector<std::uint8_t> cut = read_file(path("packed.g723"));
  std::size_t speech_frame = 0;
  while (frame_type_of(cut[speech_frame]) != FrameType::active_high_rate) {
    speech_frame += frame_bytes(frame_type_of(cut[speech_frame]));
  }
  cut.insert(cut.end(), cut.begin() + static_cast<std::ptrdiff_t>(speech_frame),
             cut.begin() + static_cast<std::ptrdiff_t>(speech_frame + 10));
  write_file(path("cut.g723"), cut);
  const RunResult refused = run({"decode", path("cut.g723"), path("out.pcm")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("--format"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(path("out.pcm")));
  const RunResult named = run({"decode", "--format", "packed", path("cut.g723"), path("out.pcm")});
  EXPECT_EQ(named.status, 0);
  EXPECT_NE(named.err.find("ends inside its last frame"), std::string::npos) << named.err;
  EXPECT_EQ(fs::file_size(path("out.pcm")), fs::file_size(path("packed.pcm")) + 2 * kFrameSamples);
}

TEST_F(EncodeDecode, OutRateConvertsTheDecodedSpeech) {
  write_file(path("speech.raw"), pcm_bytes(load_speech_sample("hts1a.raw")));
  ASSERT_EQ(run({"encode", path("speech.raw"), path("coded.g723")}).status, 0);
  ASSERT_EQ(run({"decode", "--out-rate", "16000", path("coded.g723"), path("wide.wav")}).status, 0);
  const Audio wide = read_audio(path("wide.wav"));
  EXPECT_EQ(wide.rate, 16000);
  EXPECT_EQ(wide.samples.size(), 2 * load_speech_sample("hts1a.raw").size());
}

TEST_F(EncodeDecode, BatchCodesEveryReadableFileAndReportsTheOthers) {
  const std::vector<std::string> samples = {"hts1a.raw", "cross.raw", "big_dog.raw"};
  std::vector<std::string> inputs;
  for (const std::string& s : samples) {
    write_file(path(s), pcm_bytes(load_speech_sample(s)));
    inputs.push_back(path(s));
  }
  write_file(path("broken.wav"), {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
  inputs.insert(inputs.begin() + 1, path("broken.wav"));

  std::vector<std::string> args = {"encode", "--jobs", "2", "-o", path("coded")};
  args.insert(args.end(), inputs.begin(), inputs.end());
  const RunResult r = run(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(path("broken.wav") + ": "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 of 4 files failed"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("coded/broken.g723")));
  for (const std::string& s : samples) {
    const std::string stem = fs::path(s).stem().string();
    EXPECT_EQ(read_file(path("coded/" + stem + ".g723")), library_packed(load_speech_sample(s), {}));
  }

  const RunResult d = run({"decode", "-o", path("decoded"), path("coded/hts1a.g723"), path("coded/cross.g723"),
                     path("coded/big_dog.g723")});
  EXPECT_EQ(d.status, 0) << d.err;
  EXPECT_EQ(read_audio(path("decoded/cross.wav")).samples,
            library_decoded(read_file(path("coded/cross.g723")), true));

  // Two inputs that would share an output: the second is refused rather than overwriting the first.
  fs::create_directory(path("other"));
  fs::copy_file(path("cross.raw"), path("other/cross.raw"));
  const RunResult clash = run({"encode", "-o", path("coded"), path("cross.raw"), path("other/cross.raw")});
  EXPECT_EQ(clash.status, 1);
  EXPECT_NE(clash.err.find("already that of"), std::string::npos) << clash.err;
}

}  // namespace
}  // namespace g7231::app::test
