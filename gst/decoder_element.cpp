// g7231dec: buffers of one or more coded frames (as the RTP depayloader gives them) into speech.
//
// Time is kept with the input's timestamps: where a buffer starts later than the speech decoded so far
// ends, the time between is filled. When the buffer is flagged as a discontinuity, packets were lost and
// the frames are concealed; otherwise the sender sent nothing (untransmitted frames of a silence) and the
// comfort noise goes on. An empty buffer, as the base class gives for a gap upstream, is concealed for its
// duration. A buffer whose frame lengths do not add up is concealed for its duration.
#include <g7231/g7231.h>
#include <gst/audio/gstaudiodecoder.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "bitstream/rtp_payload.h"
#include "gst/elements.h"

namespace {

constexpr GstClockTime kFrameTime = 30 * GST_MSECOND;
constexpr guint64 kMaxGapFrames = 10 * 60 * 1000 / 30;  // a longer gap is a jump in the timestamps, not filled

enum Property { kPropPostfilter = 1, kPropTables };

struct GstG7231Dec {
  GstAudioDecoder parent;
  // The properties, under the object lock.
  gboolean postfilter;
  gchar* tables_path;  // null: the built-in table set
  // The decoder's state, used by the streaming thread only.
  g7231_decoder* decoder;
  g7231_table_set* tables;  // loaded from tables_path; null: the built-in set
  GstClockTime next_pts;    // where the speech decoded so far ends
};

struct GstG7231DecClass {
  GstAudioDecoderClass parent_class;
};

}  // namespace

G_DEFINE_TYPE(GstG7231Dec, gst_g7231_dec, GST_TYPE_AUDIO_DECODER)

namespace {

GstG7231Dec* self(gpointer p) { return reinterpret_cast<GstG7231Dec*>(p); }

void close_codec(GstG7231Dec* dec) {
  g7231_decoder_destroy(dec->decoder);
  dec->decoder = nullptr;
  g7231_table_set_destroy(dec->tables);
  dec->tables = nullptr;
}

// Frames of 30 ms in a duration, rounded, at least one.
guint64 frames_in(GstClockTime duration) {
  if (!GST_CLOCK_TIME_IS_VALID(duration)) return 1;
  return std::max<guint64>(1, (duration + kFrameTime / 2) / kFrameTime);
}

// The decoder is made when the element starts (READY to PAUSED), with the properties as they are then, so
// that a table set that cannot be had fails the state change before any data flows.
gboolean start(GstAudioDecoder* base) {
  GstG7231Dec* dec = self(base);
  dec->next_pts = GST_CLOCK_TIME_NONE;
  close_codec(dec);
  g7231_decoder_options options;
  g7231_decoder_options_init(&options);
  GST_OBJECT_LOCK(dec);
  options.postfilter = dec->postfilter ? 1 : 0;
  gchar* tables_path = g_strdup(dec->tables_path);
  GST_OBJECT_UNLOCK(dec);
  const bool loaded = g7231::gst::load_tables(GST_ELEMENT(dec), tables_path, &dec->tables);
  g_free(tables_path);
  if (!loaded) return FALSE;
  options.tables = dec->tables;
  int error = G7231_OK;
  dec->decoder = g7231_decoder_create(&options, &error);
  if (dec->decoder == nullptr) {
    GST_ELEMENT_ERROR(dec, LIBRARY, INIT, (nullptr), ("cannot create a decoder: %s", g7231_strerror(error)));
    return FALSE;
  }
  return TRUE;
}

gboolean stop(GstAudioDecoder* base) {
  close_codec(self(base));
  return TRUE;
}

gboolean set_format(GstAudioDecoder* base, GstCaps* /*caps*/) {
  GstAudioInfo info;
  gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16LE, g7231::gst::kSampleRate, 1, nullptr);
  return gst_audio_decoder_set_output_format(base, &info);
}

// Decodes, into one output buffer for the input buffer: `gap` frames filling the time before it (lost or
// untransmitted), then its own frames, or `lost` frames when it holds none that can be read. Null when
// no buffer can be had.
GstBuffer* decode_buffer(GstG7231Dec* dec, guint64 gap, bool gap_lost,
                            const std::vector<std::span<const std::uint8_t>>& frames, guint64 lost) {
  const std::size_t count = gap + frames.size() + lost;
  GstBuffer* out = gst_buffer_new_allocate(nullptr, count * G7231_FRAME_SAMPLES * sizeof(std::int16_t), nullptr);
  GstMapInfo map;
  if (out == nullptr || !gst_buffer_map(out, &map, GST_MAP_WRITE)) {
    if (out != nullptr) gst_buffer_unref(out);
    return nullptr;
  }
  // Time in which nothing was sent: untransmitted frames, the comfort noise going on.
  static constexpr std::uint8_t kUntransmitted = G7231_FRAME_UNTRANSMITTED;
  std::array<std::int16_t, G7231_FRAME_SAMPLES> speech;
  for (std::size_t i = 0; i < count; ++i) {
    std::span<const std::uint8_t> frame;  // empty: lost, concealed
    if (i < gap) {
      if (!gap_lost) frame = {&kUntransmitted, 1};
    } else if (i - gap < frames.size()) {
      frame = frames[i - gap];
    }
    if (g7231_decode(dec->decoder, frame.empty() ? nullptr : frame.data(), frame.size(), speech.data(),
                     speech.size()) < 0) {
      gst_buffer_unmap(out, &map);
      gst_buffer_unref(out);
      return nullptr;
    }
    std::memcpy(map.data + i * sizeof speech, speech.data(), sizeof speech);
  }
  gst_buffer_unmap(out, &map);
  return out;
}

GstFlowReturn handle_frame(GstAudioDecoder* base, GstBuffer* buffer) {
  GstG7231Dec* dec = self(base);
  if (buffer == nullptr) return GST_FLOW_OK;  // draining: nothing is held back
  if (dec->decoder == nullptr) return GST_FLOW_NOT_NEGOTIATED;
  const GstClockTime pts = GST_BUFFER_PTS(buffer);

  // The time between the speech so far and this buffer.
  guint64 gap = 0;
  if (GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(dec->next_pts) && pts > dec->next_pts + kFrameTime / 2) {
    gap = (pts - dec->next_pts + kFrameTime / 2) / kFrameTime;
    if (gap > kMaxGapFrames) gap = 0;
  }

  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
  // The frames at their natural lengths, by the library's payload rules; none when they do not add up.
  const std::vector<std::span<const std::uint8_t>> frames = g7231::rtp::split_payload({map.data, map.size}).frames;
  if (map.size > 0 && frames.empty()) {
    GST_ELEMENT_WARNING(dec, STREAM, DECODE, (nullptr), ("a buffer of %zu bytes does not hold whole frames", map.size));
  }
  const guint64 lost = frames.empty() ? frames_in(GST_BUFFER_DURATION(buffer)) : 0;
  GstBuffer* out = decode_buffer(dec, gap, GST_BUFFER_IS_DISCONT(buffer), frames, lost);
  gst_buffer_unmap(buffer, &map);
  if (out == nullptr) return GST_FLOW_ERROR;
  if (GST_CLOCK_TIME_IS_VALID(pts)) dec->next_pts = pts + (frames.size() + lost) * kFrameTime;
  return gst_audio_decoder_finish_frame(base, out, 1);
}

// A hard flush (seeking, flushing) starts time afresh; a soft one comes with a discontinuity in the input,
// whose gap is still to be measured from where the speech ended.
void flush(GstAudioDecoder* base, gboolean hard) {
  if (hard) self(base)->next_pts = GST_CLOCK_TIME_NONE;
}

void set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstG7231Dec* dec = self(object);
  GST_OBJECT_LOCK(dec);
  switch (id) {
    case kPropPostfilter: dec->postfilter = g_value_get_boolean(value); break;
    case kPropTables:
      g_free(dec->tables_path);
      dec->tables_path = g_value_dup_string(value);
      break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
  GST_OBJECT_UNLOCK(dec);
}

void get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstG7231Dec* dec = self(object);
  GST_OBJECT_LOCK(dec);
  switch (id) {
    case kPropPostfilter: g_value_set_boolean(value, dec->postfilter); break;
    case kPropTables: g_value_set_string(value, dec->tables_path); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
  GST_OBJECT_UNLOCK(dec);
}

void finalize(GObject* object) {
  GstG7231Dec* dec = self(object);
  close_codec(dec);
  g_free(dec->tables_path);
  G_OBJECT_CLASS(gst_g7231_dec_parent_class)->finalize(object);
}

}  // namespace

static void gst_g7231_dec_class_init(GstG7231DecClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->set_property = set_property;
  object_class->get_property = get_property;
  object_class->finalize = finalize;
  g_object_class_install_property(
      object_class, kPropPostfilter,
      g_param_spec_boolean("postfilter", "Postfilter", "Pitch and formant postfilter on the output", TRUE,
                           static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                    GST_PARAM_MUTABLE_READY)));
  g7231::gst::install_tables_property(object_class, kPropTables);

  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  static GstStaticPadTemplate sink = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                             GST_STATIC_CAPS(G7231_CODED_CAPS));
  static GstStaticPadTemplate src = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                                                            GST_STATIC_CAPS(G7231_RAW_CAPS));
  gst_element_class_add_static_pad_template(element_class, &sink);
  gst_element_class_add_static_pad_template(element_class, &src);
  gst_element_class_set_static_metadata(element_class, "G.723.1 speech decoder", "Codec/Decoder/Audio",
                                        "Decodes 5.3 and 6.3 kbit/s frames and comfort noise into 8 kHz speech, "
                                        "concealing lost frames",
                                        "g7231 project");

  GstAudioDecoderClass* decoder_class = GST_AUDIO_DECODER_CLASS(klass);
  decoder_class->start = start;
  decoder_class->stop = stop;
  decoder_class->set_format = set_format;
  decoder_class->handle_frame = handle_frame;
  decoder_class->flush = flush;
}

static void gst_g7231_dec_init(GstG7231Dec* dec) {
  dec->postfilter = TRUE;
  dec->tables_path = nullptr;
  dec->decoder = nullptr;
  dec->tables = nullptr;
  dec->next_pts = GST_CLOCK_TIME_NONE;
  gst_audio_decoder_set_plc_aware(GST_AUDIO_DECODER(dec), TRUE);
  gst_audio_decoder_set_plc(GST_AUDIO_DECODER(dec), TRUE);
  // The gaps are filled here, so the output keeps in step with the input's time: the base class stamps it
  // as one unbroken stream, and goes back to the input's timestamps only after a jump not filled.
  gst_audio_decoder_set_tolerance(GST_AUDIO_DECODER(dec), kMaxGapFrames * kFrameTime);
}
