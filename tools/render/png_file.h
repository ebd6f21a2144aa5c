// 8-bit RGB PNG files.
#pragma once

#include <string>

// Where a file is written until it is complete: beside it, so that renaming
// it into place is atomic, and under a name no viewer takes for the result.
std::string partial_path(const std::string &path);

// Writes tightly packed top-down RGB rows under the partial name, then renames
// the file into place, so a killed run never leaves a truncated `path`. On
// failure returns false with the reason in `*error`; the partial file is removed.
bool write_png_rgb(const std::string &path, const unsigned char *rgb, int width, int height,
                   std::string *error);
