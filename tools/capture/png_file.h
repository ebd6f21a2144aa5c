// 8-bit RGB PNG files.
#pragma once

#include <string>

// Writes tightly packed top-down RGB rows. On failure returns false with the
// reason in `*error`; a file it had begun is removed.
bool write_png_rgb(const std::string &path, const unsigned char *rgb, int width, int height,
                   std::string *error);
