// The plugin's two elements: g7231enc (raw speech to coded frames) and g7231dec (coded frames to speech).
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

GType gst_g7231_enc_get_type(void);
GType gst_g7231_dec_get_type(void);

G_END_DECLS

// Caps: 16-bit mono speech at 8 kHz on the raw side, and on the coded side the caps of the RTP payloader
// and depayloader for this coder, so that they link directly.
#define G7231_RAW_CAPS "audio/x-raw, format = (string) S16LE, rate = (int) 8000, channels = (int) 1"
#define G7231_CODED_CAPS "audio/G723, rate = (int) 8000, channels = (int) 1"
