// The plugin's two elements: g7231enc (raw speech to coded frames) and g7231dec (coded frames to speech).
#pragma once

#include <g7231/g7231.h>
#include <gst/gst.h>

G_BEGIN_DECLS

GType gst_g7231_enc_get_type(void);
GType gst_g7231_dec_get_type(void);

G_END_DECLS

// Caps: 16-bit mono speech at 8 kHz on the raw side, and on the coded side the caps of the RTP payloader
// and depayloader for this coder, so that they link directly.
#define G7231_RAW_CAPS "audio/x-raw, format = (string) S16LE, rate = (int) 8000, channels = (int) 1"
#define G7231_CODED_CAPS "audio/G723, rate = (int) 8000, channels = (int) 1"

namespace g7231::gst {

inline constexpr int kSampleRate = 8000;

// The property "tables" both elements have: the path of a table-set file to code with instead of the
// built-in set (as g7231's --tables); a stream decodes correctly only with the set it was coded with.
void install_tables_property(GObjectClass* object_class, guint id);

// Loads the table set at path into *set (null or empty path: the built-in set, *set null). On failure
// posts an element error naming the file and the line, table and row at fault, and returns false.
bool load_tables(GstElement* element, const gchar* path, g7231_table_set** set);

}  // namespace g7231::gst
