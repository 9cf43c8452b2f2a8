// The plugin g7231: the elements g7231enc and g7231dec.
#include <gst/gst.h>

#include "gst/elements.h"

#ifndef PACKAGE
#define PACKAGE "g7231"
#endif

namespace {

gboolean plugin_init(GstPlugin* plugin) {
  return gst_element_register(plugin, "g7231enc", GST_RANK_SECONDARY, gst_g7231_enc_get_type()) &&
         gst_element_register(plugin, "g7231dec", GST_RANK_SECONDARY, gst_g7231_dec_get_type());
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, g7231,
                  "Speech coding at 5.3 and 6.3 kbit/s with silence compression", plugin_init, G7231_PLUGIN_VERSION,
                  "Proprietary", "g7231", "the g7231 project")
