// The "tables" property of g7231enc and g7231dec: a table set read from a file.
#include <array>

#include "gst/elements.h"

namespace g7231::gst {

void install_tables_property(GObjectClass* object_class, guint id) {
  g_object_class_install_property(
      object_class, id,
      g_param_spec_string("tables", "Table set",
                          "A table-set file (as g7231 tables export writes) to code with instead of the built-in "
                          "set; both ends of a stream need the same set",
                          nullptr,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                   GST_PARAM_MUTABLE_READY)));
}

bool load_tables(GstElement* element, const gchar* path, g7231_table_set** set) {
  *set = nullptr;
  if (path == nullptr || *path == '\0') return true;
  int error = G7231_OK;
  std::array<char, 512> message{};
  *set = g7231_table_set_load(path, &error, message.data(), message.size());
  if (*set != nullptr) return true;
  if (error == G7231_ERR_IO) {
    GST_ELEMENT_ERROR(element, RESOURCE, OPEN_READ, ("cannot read the table set %s", path), ("%s", message.data()));
  } else {
    GST_ELEMENT_ERROR(element, LIBRARY, SETTINGS, ("the table set %s is unusable", path), ("%s", message.data()));
  }
  return false;
}

}  // namespace g7231::gst
