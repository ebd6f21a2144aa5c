// The font atlas's metrics for laying text out on the CPU, read from the same
// GLSL snippet the shaders paste in (docs/atlas_metrics.glsl, built in), so the
// numbers are never retyped.
#pragma once

// docs/atlas_metrics.glsl as it was when the studio was built.
extern const char *const atlas_metrics_glsl;

const int GLYPH_FIRST = 32, GLYPH_LAST = 126;

struct t_atlas_metrics {
    float pixel_size = 0; // pixels per em of the bake
    float ascender = 0, descender = 0;
    float advance[GLYPH_LAST - GLYPH_FIRST + 1] = {}; // texels
};

// Reads ATLAS_PIXEL_SIZE, ATLAS_ASCENDER, ATLAS_DESCENDER and GLYPH_ADVANCE out
// of the snippet; false when one is missing or malformed.
bool parse_atlas_metrics(const char *glsl, t_atlas_metrics *metrics);
