// g7231enc: 240 samples at a time into one coded frame per output buffer, 30 ms long. With voice activity
// detection, untransmitted frames are not sent: their time passes without a buffer, and the next buffer
// is flagged as a discontinuity, which makes the RTP payloader start a new packet with the marker bit.
#include <gst/audio/gstaudioencoder.h>

#include <array>
#include <cstring>

#include "gst/codec_calls.h"
#include "gst/elements.h"

namespace {

enum class Rate { low = 5300, high = 6300 };

enum Property { kPropRate = 1, kPropVad, kPropHighpass };

struct GstG7231Enc {
  GstAudioEncoder parent;
  Rate rate;
  gboolean vad;
  gboolean highpass;
  g7231::gst::Encoder* encoder;
};

struct GstG7231EncClass {
  GstAudioEncoderClass parent_class;
};

GType rate_type() {
  static GType type = 0;
  if (g_once_init_enter(&type)) {
    static const GEnumValue kValues[] = {
        {static_cast<gint>(Rate::low), "5.3 kbit/s (ACELP)", "5.3"},
        {static_cast<gint>(Rate::high), "6.3 kbit/s (MP-MLQ)", "6.3"},
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
  g7231::gst::close_encoder(enc->encoder);
  enc->encoder = nullptr;
}

gboolean set_format(GstAudioEncoder* base, GstAudioInfo* /*info*/) {
  GstG7231Enc* enc = self(base);
  close_codec(enc);
  GST_OBJECT_LOCK(enc);
  enc->encoder = g7231::gst::open_encoder(enc->rate == Rate::high, enc->vad, enc->highpass);
  GST_OBJECT_UNLOCK(enc);
  if (enc->encoder == nullptr) return FALSE;
  GstCaps* caps = gst_caps_from_string(G7231_CODED_CAPS);
  const gboolean ok = gst_audio_encoder_set_output_format(base, caps);
  gst_caps_unref(caps);
  gst_audio_encoder_set_frame_samples_min(base, g7231::gst::kFrameSamples);
  gst_audio_encoder_set_frame_samples_max(base, g7231::gst::kFrameSamples);
  gst_audio_encoder_set_frame_max(base, 1);
  return ok;
}

GstFlowReturn handle_frame(GstAudioEncoder* base, GstBuffer* buffer) {
  GstG7231Enc* enc = self(base);
  if (buffer == nullptr) return GST_FLOW_OK;  // draining: nothing is held back
  if (enc->encoder == nullptr) return GST_FLOW_NOT_NEGOTIATED;
  // A last partial frame is completed with silence.
  std::array<std::int16_t, g7231::gst::kFrameSamples> samples{};
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
  const std::size_t bytes = std::min(map.size, sizeof samples);
  std::memcpy(samples.data(), map.data, bytes);
  gst_buffer_unmap(buffer, &map);
  const auto consumed = static_cast<gint>(bytes / sizeof(std::int16_t));

  std::array<std::uint8_t, g7231::gst::kMaxFrameBytes> frame{};
  const std::size_t size = g7231::gst::encode(enc->encoder, samples, frame);
  if (size == 0) return gst_audio_encoder_finish_frame(base, nullptr, consumed);
  GstBuffer* out = gst_buffer_new_memdup(frame.data(), size);
  return gst_audio_encoder_finish_frame(base, out, consumed);
}

gboolean stop(GstAudioEncoder* base) {
  close_codec(self(base));
  return TRUE;
}

void set_property(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  GstG7231Enc* enc = self(object);
  GST_OBJECT_LOCK(enc);
  switch (id) {
    case kPropRate: enc->rate = static_cast<Rate>(g_value_get_enum(value)); break;
    case kPropVad: enc->vad = g_value_get_boolean(value); break;
    case kPropHighpass: enc->highpass = g_value_get_boolean(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec); break;
  }
  GST_OBJECT_UNLOCK(enc);
}

void get_property(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  GstG7231Enc* enc = self(object);
  GST_OBJECT_LOCK(enc);
  switch (id) {
    case kPropRate: g_value_set_enum(value, static_cast<gint>(enc->rate)); break;
    case kPropVad: g_value_set_boolean(value, enc->vad); break;
    case kPropHighpass: g_value_set_boolean(value, enc->highpass); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec); break;
  }
  GST_OBJECT_UNLOCK(enc);
}

void finalize(GObject* object) {
  close_codec(self(object));
  G_OBJECT_CLASS(gst_g7231_enc_parent_class)->finalize(object);
}

}  // namespace

static void gst_g7231_enc_class_init(GstG7231EncClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->set_property = set_property;
  object_class->get_property = get_property;
  object_class->finalize = finalize;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
  g_object_class_install_property(object_class, kPropRate,
                                  g_param_spec_enum("rate", "Rate", "Bit rate: 5.3 or 6.3 kbit/s", rate_type(),
                                                    static_cast<gint>(Rate::low), flags));
  g_object_class_install_property(
      object_class, kPropVad,
      g_param_spec_boolean("vad", "VAD",
                           "Voice activity detection: silence as SID frames, and untransmitted frames not sent",
                           TRUE, flags));
  g_object_class_install_property(object_class, kPropHighpass,
                                  g_param_spec_boolean("highpass", "High-pass filter",
                                                       "High-pass filter on the input", TRUE, flags));

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
  encoder_class->set_format = set_format;
  encoder_class->handle_frame = handle_frame;
  encoder_class->stop = stop;
}

static void gst_g7231_enc_init(GstG7231Enc* enc) {
  enc->rate = Rate::low;
  enc->vad = TRUE;
  enc->highpass = TRUE;
  enc->encoder = nullptr;
}
