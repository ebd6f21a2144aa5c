// Bakes printable ASCII from an outline font into a 16x16 grid of signed
// distance field cells.
#pragma once

#include <array>
#include <string>
#include <vector>

constexpr int ATLAS_SIZE = 1024;
constexpr int ATLAS_CELL = 64;
constexpr int FIRST_CODE = 32;
constexpr int LAST_CODE = 126;
constexpr int GLYPH_COUNT = LAST_CODE - FIRST_CODE + 1;

struct glyph_info {
    float advance = 0;   // pen advance, cell pixels
    float bearing = 0;   // left side bearing, cell pixels
    // Where the distance bitmap landed inside the cell (w == 0 when there is no ink).
    int x = 0, y = 0, w = 0, h = 0;
};

struct atlas {
    std::string font_name;   // family and style, e.g. "DejaVu Sans Bold"
    int pixel_size = 0;      // pixels per em the glyphs were rendered at
    int spread = 0;          // pixels from the edge to distance value 0 or 255
    int pen_x = 0;           // pen origin, pixels from the cell's left edge
    int baseline = 0;        // baseline, pixels from the cell's top edge
    float ascender = 0, descender = 0, cap_height = 0;   // pixels, both positive
    std::array<glyph_info, GLYPH_COUNT> glyphs;
    std::vector<unsigned char> pixels;   // ATLAS_SIZE rows of ATLAS_SIZE grey texels, top row first
};

// Tries pixel sizes from `max_size` downward until every glyph's distance
// bitmap fits its cell with a margin of one outside texel on each side.
// Throws std::runtime_error with a one-line reason on failure.
atlas bake_atlas(const std::string &font_path, int max_size, int spread);
