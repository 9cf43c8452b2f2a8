// The GStreamer elements in pipelines with the standard RTP payloader and depayloader: through memory
// they give the library's samples with unbroken timestamps, and over UDP on 127.0.0.1 they run to the end.
#include <gio/gio.h>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "codec/tables/builtin_table_set.h"
#include "codec/tables/table_set_file.h"
#include "tests/speech_samples.h"

// GLib and GStreamer keep their type system and registry until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libglib-2.0\nleak:libgobject-2.0\nleak:libgst\n"; }

namespace g7231 {
namespace {

struct Decoded {
  std::vector<std::int16_t> samples;
  std::vector<GstClockTime> pts;
  std::vector<GstClockTime> duration;
};

// The library's coding of the speech: the frames, and the decoding of those from the first frame sent to
// the last (untransmitted frames before and after them are never sent).
struct Reference {
  std::vector<std::int16_t> speech;
  std::size_t first_frame = 0;
  std::size_t frames = 0;
};

Reference reference(const std::vector<std::int16_t>& input, const EncoderOptions& options, bool postfilter) {
  G7231Encoder* enc = create_encoder(options);
  G7231Decoder* dec = create_decoder({.postfilter = postfilter});
  std::vector<std::array<std::uint8_t, kMaxFrameBytes>> frames;
  for (std::size_t at = 0; at < input.size(); at += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> samples{};
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), std::min(kFrameSamples, input.size() - at),
                samples.begin());
    encode_frame(enc, samples, frames.emplace_back());
  }
  std::size_t first = 0;
  std::size_t end = frames.size();
  while (first < end && frame_type_of(frames[first][0]) == FrameType::untransmitted) ++first;
  while (end > first && frame_type_of(frames[end - 1][0]) == FrameType::untransmitted) --end;
  Reference r{{}, first, end - first};
  std::array<std::int16_t, kFrameSamples> out{};
  for (std::size_t f = first; f < end; ++f) {
    decode_frame(dec, frames[f], false, out);
    r.speech.insert(r.speech.end(), out.begin(), out.end());
  }
  destroy_encoder(enc);
  destroy_decoder(dec);
  return r;
}

class Pipeline : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    // A registry of our own, so that the user's is left alone.
    setenv("GST_REGISTRY", G7231_GST_TEST_REGISTRY, 1);
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstPlugin* plugin = gst_plugin_load_file(G7231_GST_PLUGIN_PATH, &error);
    ASSERT_NE(plugin, nullptr) << (error ? error->message : "");
    gst_object_unref(plugin);
  }

  static GstElement* launch(const std::string& description) {
    GError* error = nullptr;
    GstElement* p = gst_parse_launch(description.c_str(), &error);
    EXPECT_EQ(error, nullptr) << description << ": " << (error ? error->message : "");
    return p;
  }

  // Pushes the speech into the pipeline's appsrc "in", 160 samples (20 ms) to a buffer, then the end.
  static void feed(GstElement* pipeline, const std::vector<std::int16_t>& speech) {
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    constexpr std::size_t kChunk = 160;
    for (std::size_t at = 0; at < speech.size(); at += kChunk) {
      const std::size_t n = std::min(kChunk, speech.size() - at);
      GstBuffer* b = gst_buffer_new_memdup(speech.data() + at, n * sizeof(std::int16_t));
      GST_BUFFER_PTS(b) = gst_util_uint64_scale(at, GST_SECOND, 8000);
      GST_BUFFER_DURATION(b) = gst_util_uint64_scale(n, GST_SECOND, 8000);
      ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), b), GST_FLOW_OK);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
  }

  // Pushes samples into the pipeline's appsrc "in", 160 samples (20 ms) to a buffer, starting at `at`.
  static void push(GstElement* pipeline, const std::vector<std::int16_t>& speech, std::size_t from, std::size_t to) {
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    for (std::size_t at = from; at < to; at += 160) {
      const std::size_t n = std::min<std::size_t>(160, to - at);
      GstBuffer* b = gst_buffer_new_memdup(speech.data() + at, n * sizeof(std::int16_t));
      GST_BUFFER_PTS(b) = gst_util_uint64_scale(at, GST_SECOND, 8000);
      GST_BUFFER_DURATION(b) = gst_util_uint64_scale(n, GST_SECOND, 8000);
      ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), b), GST_FLOW_OK);
    }
    gst_object_unref(src);
  }

  // The next buffer of the pipeline's appsink "out" as bytes; empty at the end.
  static std::vector<std::uint8_t> pull_bytes(GstElement* pipeline) {
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    std::vector<std::uint8_t> bytes;
    if (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
      GstMapInfo map;
      gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ);
      bytes.assign(map.data, map.data + map.size);
      gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
      gst_sample_unref(sample);
    }
    gst_object_unref(sink);
    return bytes;
  }

  // The error the pipeline has posted, or "" when it ends without one.
  static std::string error_of(GstElement* pipeline) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    std::string text;
    if (m != nullptr && GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
      GError* error = nullptr;
      gchar* debug = nullptr;
      gst_message_parse_error(m, &error, &debug);
      text = std::string(error->message) + " | " + (debug ? debug : "");
      g_error_free(error);
      g_free(debug);
    }
    if (m != nullptr) gst_message_unref(m);
    gst_object_unref(bus);
    return text;
  }

  // Pulls everything from the pipeline's appsink "out" until the end of the stream.
  static Decoded drain(GstElement* pipeline) {
    Decoded d;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink))) {
      GstBuffer* b = gst_sample_get_buffer(sample);
      GstMapInfo map;
      gst_buffer_map(b, &map, GST_MAP_READ);
      const auto* s = reinterpret_cast<const std::int16_t*>(map.data);
      d.samples.insert(d.samples.end(), s, s + map.size / sizeof(std::int16_t));
      gst_buffer_unmap(b, &map);
      d.pts.push_back(GST_BUFFER_PTS(b));
      d.duration.push_back(GST_BUFFER_DURATION(b));
      gst_sample_unref(sample);
    }
    gst_object_unref(sink);
    return d;
  }

  // Waits for the end of the stream or an error; true at the end.
  static bool finished(GstElement* pipeline, GstClockTime timeout) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, timeout, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool eos = m != nullptr && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    if (m != nullptr && !eos) {
      GError* error = nullptr;
      gst_message_parse_error(m, &error, nullptr);
      ADD_FAILURE() << error->message;
      g_error_free(error);
    }
    if (m != nullptr) gst_message_unref(m);
    gst_object_unref(bus);
    return eos;
  }
};

constexpr const char* kRawCaps = "audio/x-raw,format=S16LE,rate=8000,channels=1,layout=interleaved";

// Speech through `elements` between an appsrc and an appsink, to the end; what came out.
Decoded through(const std::string& elements, const std::vector<std::int16_t>& speech) {
  GstElement* p = Pipeline::launch(std::string("appsrc name=in format=time caps=") + kRawCaps + " ! " + elements +
                                   " ! appsink name=out sync=false");
  if (p == nullptr) return {};
  EXPECT_NE(gst_element_set_state(p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  Pipeline::feed(p, speech);
  const Decoded d = Pipeline::drain(p);
  EXPECT_TRUE(Pipeline::finished(p, 10 * GST_SECOND));
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(p);
  return d;
}

TEST_F(Pipeline, ThroughTheRtpPayloaderTheDecoderGivesTheLibrarysSamplesInUnbrokenTime) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  struct Case {
    const char* properties;
    EncoderOptions options;
    bool postfilter;
  };
  for (const Case& c : {Case{"", {}, true},
                        Case{"rate=6.3 vad=false highpass=false", {.high_rate = true, .vad = false, .highpass = false}, true},
                        Case{"vad=true", {}, false}}) {
    SCOPED_TRACE(c.properties);
    const Reference ref = reference(speech, c.options, c.postfilter);
    const Decoded d = through(std::string("g7231enc ") + c.properties + " ! rtpg723pay ! rtpg723depay ! g7231dec postfilter=" +
                                  (c.postfilter ? "true" : "false"),
                              speech);

    EXPECT_EQ(d.samples, ref.speech);
    ASSERT_FALSE(d.pts.empty());
    EXPECT_EQ(d.pts.front(), ref.first_frame * 30 * GST_MSECOND);
    for (std::size_t i = 1; i < d.pts.size(); ++i) {
      EXPECT_EQ(d.pts[i], d.pts[i - 1] + d.duration[i - 1]) << "buffer " << i;
    }
    EXPECT_EQ(d.pts.back() + d.duration.back() - d.pts.front(), ref.frames * 30 * GST_MSECOND);
  }
}

TEST_F(Pipeline, TheDecoderConcealsGapsMarkedAsDiscontinuitiesAndKeepsComfortNoiseThroughOthers) {
  // Frames coded by the library, each in a buffer of its own at its time; untransmitted frames are left
  // out unflagged, as a sender leaves them out, and a run of speech frames is lost, the next buffer
  // flagged as a discontinuity.
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  G7231Encoder* enc = create_encoder(EncoderOptions{});
  std::vector<std::array<std::uint8_t, kMaxFrameBytes>> frames;
  for (std::size_t at = 0; at + kFrameSamples <= speech.size(); at += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> samples{};
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(at), kFrameSamples, samples.begin());
    encode_frame(enc, samples, frames.emplace_back());
  }
  destroy_encoder(enc);
  std::size_t lost_from = 40;
  while (frame_type_of(frames[lost_from - 1][0]) != FrameType::active_low_rate) ++lost_from;
  const std::size_t lost_to = lost_from + 3;
  ASSERT_EQ(frame_type_of(frames[0][0]), FrameType::sid) << "the stream starts with a SID frame";
  // Untransmitted frames after the last buffer are never known to the receiver.
  while (frame_type_of(frames.back()[0]) == FrameType::untransmitted) frames.pop_back();

  GstElement* p = launch("appsrc name=in format=time caps=\"audio/G723,rate=8000,channels=1\" ! g7231dec "
                         "! appsink name=out sync=false");
  ASSERT_NE(gst_element_set_state(p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  GstElement* src = gst_bin_get_by_name(GST_BIN(p), "in");
  bool discont = false;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const FrameType type = frame_type_of(frames[f][0]);
    if (f >= lost_from && f < lost_to) discont = true;
    if (type == FrameType::untransmitted || (f >= lost_from && f < lost_to)) continue;
    GstBuffer* b = gst_buffer_new_memdup(frames[f].data(), frame_bytes(type));
    GST_BUFFER_PTS(b) = f * 30 * GST_MSECOND;
    GST_BUFFER_DURATION(b) = 30 * GST_MSECOND;
    if (discont) GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DISCONT);
    discont = false;
    ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), b), GST_FLOW_OK);
  }
  gst_app_src_end_of_stream(GST_APP_SRC(src));
  gst_object_unref(src);
  const Decoded d = drain(p);
  EXPECT_TRUE(finished(p, 10 * GST_SECOND));
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(p);

  G7231Decoder* dec = create_decoder({});
  std::vector<std::int16_t> expected;
  std::array<std::int16_t, kFrameSamples> out{};
  for (std::size_t f = 0; f < frames.size(); ++f) {
    decode_frame(dec, frames[f], f >= lost_from && f < lost_to, out);
    expected.insert(expected.end(), out.begin(), out.end());
  }
  destroy_decoder(dec);
  ASSERT_EQ(d.samples.size(), expected.size());
  const auto differ = std::mismatch(d.samples.begin(), d.samples.end(), expected.begin());
  EXPECT_EQ(differ.first, d.samples.end()) << "first difference in frame " << (differ.first - d.samples.begin()) / 240
                                           << "; frames " << lost_from << " to " << lost_to << " lost";
}

TEST_F(Pipeline, OverUdpOnLoopbackTheStreamRunsToTheEnd) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  const Reference ref = reference(speech, {}, true);
  // The receiver's socket, on a port the system chooses.
  GError* error = nullptr;
  GSocket* socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, &error);
  ASSERT_NE(socket, nullptr);
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* any_port = g_inet_socket_address_new(loopback, 0);
  ASSERT_TRUE(g_socket_bind(socket, any_port, FALSE, &error)) << error->message;
  GSocketAddress* bound = g_socket_get_local_address(socket, &error);
  const guint16 port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));

  GstElement* receiver = launch(
      "udpsrc name=udp caps=\"application/x-rtp,media=audio,clock-rate=8000,encoding-name=G723,payload=4\" "
      "! rtpjitterbuffer mode=none latency=100 ! rtpg723depay ! g7231dec ! appsink name=out sync=false");
  GstElement* udp = gst_bin_get_by_name(GST_BIN(receiver), "udp");
  g_object_set(udp, "socket", socket, nullptr);
  gst_object_unref(udp);
  GstElement* sender = launch(std::string("appsrc name=in format=time caps=") + kRawCaps +
                              " ! g7231enc ! rtpg723pay ! udpsink host=127.0.0.1 port=" + std::to_string(port) +
                              " sync=false");
  ASSERT_NE(gst_element_set_state(receiver, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  ASSERT_NE(gst_element_set_state(sender, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  feed(sender, speech);
  EXPECT_TRUE(finished(sender, 10 * GST_SECOND));

  // The network sends no end of stream: the receiver takes what arrives, then is told the end. The
  // packets arrive in one burst; the jitter buffer puts them back in the time of their RTP timestamps.
  std::vector<std::int16_t> received;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(receiver), "out");
  while (received.size() < ref.speech.size()) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND);
    if (sample == nullptr) break;
    GstMapInfo map;
    gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ);
    const auto* s = reinterpret_cast<const std::int16_t*>(map.data);
    received.insert(received.end(), s, s + map.size / sizeof(std::int16_t));
    gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    gst_sample_unref(sample);
  }
  gst_object_unref(sink);
  gst_element_send_event(receiver, gst_event_new_eos());
  EXPECT_TRUE(finished(receiver, 10 * GST_SECOND));
  EXPECT_EQ(received.size(), ref.speech.size());
  EXPECT_EQ(received, ref.speech);

  for (GstElement* p : {sender, receiver}) {
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
  }
  g_object_unref(bound);
  g_object_unref(any_port);
  g_object_unref(loopback);
  g_object_unref(socket);
}

}  // namespace
}  // namespace g7231

namespace g7231 {
namespace {

TEST_F(Pipeline, TheRateChangesWhilePlayingFromTheNextFrame) {
  // Without voice activity detection every frame gives a buffer, so the frames before the change can be
  // counted out before it is made.
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  constexpr std::size_t kSwitchFrame = 40;
  const std::size_t frames = speech.size() / kFrameSamples;
  ASSERT_GT(frames, kSwitchFrame + 10);
  GstElement* p = launch(std::string("appsrc name=in format=time caps=") + kRawCaps +
                         " ! g7231enc name=enc vad=false ! appsink name=out sync=false");
  ASSERT_NE(gst_element_set_state(p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  std::vector<std::vector<std::uint8_t>> coded;
  push(p, speech, 0, kSwitchFrame * kFrameSamples);
  while (coded.size() < kSwitchFrame) {
    coded.push_back(pull_bytes(p));
    ASSERT_FALSE(coded.back().empty());
  }
  GstElement* enc = gst_bin_get_by_name(GST_BIN(p), "enc");
  gst_util_set_object_arg(G_OBJECT(enc), "rate", "6.3");
  gst_object_unref(enc);
  push(p, speech, kSwitchFrame * kFrameSamples, frames * kFrameSamples);
  GstElement* src = gst_bin_get_by_name(GST_BIN(p), "in");
  gst_app_src_end_of_stream(GST_APP_SRC(src));
  gst_object_unref(src);
  for (std::vector<std::uint8_t> b = pull_bytes(p); !b.empty(); b = pull_bytes(p)) coded.push_back(std::move(b));
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(p);

  G7231Encoder* library = create_encoder({.vad = false});
  std::vector<std::vector<std::uint8_t>> expected;
  for (std::size_t f = 0; f < frames; ++f) {
    if (f == kSwitchFrame) set_encoder_rate(library, true);
    std::array<std::int16_t, kFrameSamples> samples{};
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f * kFrameSamples), kFrameSamples, samples.begin());
    std::array<std::uint8_t, kMaxFrameBytes> frame{};
    encode_frame(library, samples, frame);
    expected.emplace_back(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(frame_bytes(frame_type_of(frame[0]))));
  }
  destroy_encoder(library);
  EXPECT_EQ(coded.size(), frames);
  EXPECT_EQ(coded, expected);
  EXPECT_EQ(coded[kSwitchFrame - 1].size(), 20U);
  EXPECT_EQ(coded[kSwitchFrame].size(), 24U);
}

TEST_F(Pipeline, ATableSetFileIsUsedByBothElementsAndAnUnreadableOneFailsTheStart) {
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  const std::filesystem::path dir = std::filesystem::path(G7231_GST_TEST_REGISTRY).parent_path();
  const std::string set = (dir / "pipeline-test-tables.txt").string();
  {
    std::ofstream out(set);
    write_table_set(out, kBuiltinTableSet, "the built-in set");
  }
  const Reference ref = reference(speech, {}, true);
  EXPECT_EQ(through("g7231enc tables=" + set + " ! g7231dec tables=" + set, speech).samples, ref.speech);
  std::filesystem::remove(set);

  for (const char* element : {"g7231enc", "g7231dec"}) {
    SCOPED_TRACE(element);
    const std::string missing = (dir / "no-such-tables.txt").string();
    const std::string chain = std::string(element) == "g7231enc"
                                  ? "g7231enc tables=" + missing + " ! g7231dec"
                                  : "g7231enc ! g7231dec tables=" + missing;
    GstElement* p = launch(std::string("appsrc name=in format=time caps=") + kRawCaps + " ! " + chain +
               " ! appsink name=out sync=false");
    EXPECT_EQ(gst_element_set_state(p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const std::string error = error_of(p);
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
  }
}

}  // namespace
}  // namespace g7231
