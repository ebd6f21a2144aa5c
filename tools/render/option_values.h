// Values on the content tools' command lines: numbers and WxH sizes, parsed
// whole (no trailing text), for tessary-capture and tessary-studio alike.
#pragma once

#include <string>

// A finite decimal number.
bool parse_number(const std::string &text, double *value);

// A whole number within +-1e9.
bool parse_whole(const std::string &text, int *value);

// "WxH": two whole numbers; the caller checks their range.
bool parse_size(const std::string &text, int *width, int *height);
