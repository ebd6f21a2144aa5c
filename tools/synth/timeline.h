// The song's timeline as the GLSL block the picture's shader carries.
#pragma once

#include "song.h"

#include <string>

namespace song {

// The first and last lines of the block.
extern const char* const timeline_begin;
extern const char* const timeline_end;

// The whole block, both marker lines included, each line ending in '\n'.
std::string timeline_glsl(const score& s);

// `source` with the block between the marker lines replaced by `block`;
// empty if the markers are missing or out of order.
std::string replace_timeline(const std::string& source, const std::string& block);

}  // namespace song
