// The pixels of a PNG file with its size, as one comparable text: two
// pictures are alike when their texts are equal. Empty when it cannot be read.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <string>

namespace veltrane::testing {

inline std::string Pixels(const std::string& path) {
  g_autoptr(GdkPixbuf) picture = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  if (!picture) return "";
  const auto* pixels = reinterpret_cast<const char*>(gdk_pixbuf_read_pixels(picture));
  return std::to_string(gdk_pixbuf_get_width(picture)) + "x" +
         std::to_string(gdk_pixbuf_get_height(picture)) + ":" +
         std::string(pixels, gdk_pixbuf_get_byte_length(picture));
}

}  // namespace veltrane::testing
