// Turning a baked atlas into the files the demo and its shader author use.
#pragma once

#include "bake.h"

#include <string>
#include <vector>

// Baseline JPEG with three equal components and no chroma subsampling, so
// every channel carries the full-resolution distance field.
std::vector<unsigned char> encode_jpeg(const std::vector<unsigned char> &grey, int width, int height, int quality);

// GLSL 1.30 constants and helpers, meant to be pasted into a fragment shader.
std::string glsl_snippet(const atlas &a);

// Markdown table of the per-glyph metrics.
std::string metrics_table(const atlas &a);

// Writes through a temporary file in the same directory and renames it into
// place, so readers never see half a file. Throws std::runtime_error.
void write_file_atomic(const std::string &path, const void *data, size_t size);
