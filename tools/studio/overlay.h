// Text and boxes over the picture: the HUD, the timeline strip and the error
// panel. Glyphs come from the font atlas on texture unit 0 as signed distance
// fields, laid out with the atlas's own metrics. Everything a frame draws goes
// into one fixed vertex array, so drawing allocates nothing.
#pragma once

#include "atlas_metrics.h"
#include "scene.h"

#include <string>

struct t_colour {
    float r, g, b, a;
};

// Quads a frame can hold; text beyond them is dropped.
const int OVERLAY_QUADS = 4096;
const int OVERLAY_FLOATS = 9; // x, y, glyph point (u, v), code, r, g, b, a

struct t_overlay {
    GLuint program = 0, vao = 0, vbo = 0;
    GLint screen_loc = -1;
    t_atlas_metrics metrics;
    float vertices[OVERLAY_QUADS * 6 * OVERLAY_FLOATS];
    int quads = 0;
};

bool overlay_create(t_overlay *overlay, std::string *error);
void overlay_destroy(t_overlay *overlay);

// A filled box, pixels from the window's top left.
void overlay_box(t_overlay *overlay, float x0, float y0, float x1, float y1, t_colour colour);

// Text with its baseline at `y`, starting at `x`, `size` pixels per em; stops
// at `max_x`. Returns the pen's x after the text.
float overlay_text(t_overlay *overlay, const char *text, float x, float y, float size, t_colour colour,
                   float max_x = 1e9f);
float overlay_text_width(const t_overlay *overlay, const char *text, float size);

// Draws what was added, blended over the frame, and empties the list.
void overlay_draw(t_overlay *overlay, int width, int height);
