// g7231enc: 240 samples at a time into one coded frame per output buffer, 30 ms long. With voice activity
// detection, untransmitted frames are not sent: their time passes without a buffer, and the next buffer
// is flagged as a discontinuity, which makes the RTP payloader start a new packet with the marker bit.
// The rate may change while the element plays: the stream goes on at the new rate from the next frame.
#include <g7231/g7231.h>
#include <gst/audio/gstaudioencoder.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "gst/elements.h"

namespace {

enum Property { kPropRate = 1, kPropVad, kPropHighpass, kPropTables };

struct GstG7231Enc {
  GstAudioEncoder parent;
  // The properties, under the object lock.
  gint rate;  // G7231_RATE_5300 or G7231_RATE_6300
  gboolean vad;
  gboolean highpass;
  gchar* tables_path;  // null: the built-in table set
  // The coder, used by the streaming thread only.
  g7231_encoder* encoder;
  g7231_table_set* tables;  // loaded from tables_path; null: the built-in set
};

struct GstG7231EncClass {
  GstAudioEncoderClass parent_class;
};

GType rate_type() {
  static GType type = 0;
  if (g_once_init_enter(&type)) {
    static const GEnumValue kValues[] = {
        {G7231_RATE_5300, "5.3 kbit/s (ACELP)", "5.3"},
        {G7231_RATE_6300, "6.3 kbit/s (MP-MLQ)", "6.3"},
        {0, nullptr, nullptr},
    };
    g_once_init_leave(&type, g_enum_register_static("GstG7231Rate", kValues));
  }
  return type;
}

}  // namespace

G_DEFINE_TYPE(GstG7231Enc, gst_g7231_enc, GST_TYPE_AUDIO_ENCODER)

namespace {

GstG7231Enc* self(gpointer p) { return reinterpret_cast<GstG7231Enc*>(p); }

void close_codec(GstG7231Enc* enc) {
  g7231_encoder_destroy(enc->encoder);
  enc->encoder = nullptr;
  g7231_table_set_destroy(enc->tables);
  enc->tables = nullptr;
}

// The coder is made when the element starts (READY to PAUSED), with the properties as they are then, so
// that a table set that cannot be had fails the state change before any data flows.
gboolean start(GstAudioEncoder* base) {
  GstG7231Enc* enc = self(base);
  close_codec(enc);
  g7231_encoder_options options;
  g7231_encoder_options_init(&options);
  GST_OBJECT_LOCK(enc);
  options.rate = enc->rate;
  options.vad = enc->vad ? 1 : 0;
  options.highpass = enc->highpass ? 1 : 0;
  gchar* tables_path = g_strdup(enc->tables_path);
  GST_OBJECT_UNLOCK(enc);
  const bool loaded = g7231::gst::load_tables(GST_ELEMENT(enc), tables_path, &enc->tables);
  g_free(tables_path);
  if (!loaded) return FALSE;
  options.tables = enc->tables;
  int error = G7231_OK;
  enc->encoder = g7231_encoder_create(&options, &error);
  if (enc->encoder == nullptr) {
    GST_ELEMENT_ERROR(enc, LIBRARY, INIT, (nullptr), ("cannot create an encoder: %s", g7231_strerror(error)));
    return FALSE;
  }
  return TRUE;
}

gboolean set_format(GstAudioEncoder* base, GstAudioInfo* /*info*/) {
  GstCaps* caps = gst_caps_from_string(G7231_CODED_CAPS);
  const gboolean ok = gst_audio_encoder_set_output_format(base, caps);
  gst_caps_unref(caps);
  gst_audio_encoder_set_frame_samples_min(base, G7231_FRAME_SAMPLES);
  gst_audio_encoder_set_frame_samples_max(base, G7231_FRAME_SAMPLES);
  gst_audio_encoder_set_frame_max(base, 1);
  return ok;
}

GstFlowReturn handle_frame(GstAudioEncoder* base, GstBuffer* buffer) {
  GstG7231Enc* enc = self(base);
  if (buffer == nullptr) return GST_FLOW_OK;  // draining: nothing is held back
  if (enc->encoder == nullptr) return GST_FLOW_NOT_NEGOTIATED;
  GST_OBJECT_LOCK(enc);
  const gint rate = enc->rate;
  GST_OBJECT_UNLOCK(enc);
  if (g7231_encoder_get_rate(enc->encoder) != rate) g7231_encoder_set_rate(enc->encoder, rate);
  // A last partial frame is completed with silence.
  std::array<std::int16_t, G7231_FRAME_SAMPLES> samples{};
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
  const std::size_t bytes = std::min(map.size, sizeof samples);
  std::memcpy(samples.data(), map.data, bytes);
  gst_buffer_unmap(buffer, &map);
  const auto consumed = static_cast<gint>(bytes / sizeof(std::int16_t));

  std::array<std::uint8_t, G7231_MAX_FRAME_BYTES> frame{};
  const int size = g7231_encode(enc->encoder, samples.data(), samples.size(), frame.data(), frame.size());
  if (size < 0) {
    GST_ELEMENT_ERROR(enc, STREAM, ENCODE, (nullptr), ("%s", g7231_strerror(size)));
    return GST_FLOW_ERROR;
  }
  // Untransmitted frames are not sent.
  if (g7231_frame_type_of(frame[0]) == G7231_FRAME_UNTRANSMITTED) {
    return gst_audio_encoder_finish_frame(base, nullptr, consumed);
  }
  GstBuffer* out = gst_buffer_new_memdup(frame.data(), static_cast<gsize>(size));
  return gst_audio_encoder_finish_frame(base, out, consumed);
}

gboolean stop(GstAudioEncoder* base) {
  close_codec(self(base));
  return TRUE;
}

void set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstG7231Enc* enc = self(object);
  GST_OBJECT_LOCK(enc);
  switch (id) {
    case kPropRate: enc->rate = g_value_get_enum(value); break;
    case kPropVad: enc->vad = g_value_get_boolean(value); break;
    case kPropHighpass: enc->highpass = g_value_get_boolean(value); break;
    case kPropTables:
      g_free(enc->tables_path);
      enc->tables_path = g_value_dup_string(value);
      break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
  GST_OBJECT_UNLOCK(enc);
}

void get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstG7231Enc* enc = self(object);
  GST_OBJECT_LOCK(enc);
  switch (id) {
    case kPropRate: g_value_set_enum(value, enc->rate); break;
    case kPropVad: g_value_set_boolean(value, enc->vad); break;
    case kPropHighpass: g_value_set_boolean(value, enc->highpass); break;
    case kPropTables: g_value_set_string(value, enc->tables_path); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
  GST_OBJECT_UNLOCK(enc);
}

void finalize(GObject* object) {
  GstG7231Enc* enc = self(object);
  close_codec(enc);
  g_free(enc->tables_path);
  G_OBJECT_CLASS(gst_g7231_enc_parent_class)->finalize(object);
}

}  // namespace

static void gst_g7231_enc_class_init(GstG7231EncClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->set_property = set_property;
  object_class->get_property = get_property;
  object_class->finalize = finalize;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
  const auto playing = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
  g_object_class_install_property(
      object_class, kPropRate,
      g_param_spec_enum("rate", "Rate", "Bit rate: 5.3 or 6.3 kbit/s; a change takes effect from the next frame",
                        rate_type(), G7231_RATE_5300, playing));
  g_object_class_install_property(
      object_class, kPropVad,
      g_param_spec_boolean("vad", "VAD",
                           "Voice activity detection: silence as SID frames, and untransmitted frames not sent",
                           TRUE, flags));
  g_object_class_install_property(object_class, kPropHighpass,
                                  g_param_spec_boolean("highpass", "High-pass filter",
                                                       "High-pass filter on the input", TRUE, flags));
  g7231::gst::install_tables_property(object_class, kPropTables);

  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  static GstStaticPadTemplate sink = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                             GST_STATIC_CAPS(G7231_RAW_CAPS));
  static GstStaticPadTemplate src = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                                                            GST_STATIC_CAPS(G7231_CODED_CAPS));
  gst_element_class_add_static_pad_template(element_class, &sink);
  gst_element_class_add_static_pad_template(element_class, &src);
  gst_element_class_set_static_metadata(element_class, "G.723.1 speech encoder", "Codec/Encoder/Audio",
                                        "Codes 8 kHz speech at 5.3 or 6.3 kbit/s, with silence compression",
                                        "g7231 project");

  GstAudioEncoderClass* encoder_class = GST_AUDIO_ENCODER_CLASS(klass);
  encoder_class->start = start;
  encoder_class->set_format = set_format;
  encoder_class->handle_frame = handle_frame;
  encoder_class->stop = stop;
}

static void gst_g7231_enc_init(GstG7231Enc* enc) {
  enc->rate = G7231_RATE_5300;
  enc->vad = TRUE;
  enc->highpass = TRUE;
  enc->tables_path = nullptr;
  enc->encoder = nullptr;
  enc->tables = nullptr;
}
