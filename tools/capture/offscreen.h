// The render target of a capture: a framebuffer object, read back through two
// pixel buffer objects in turn, with each draw timed by a GL timer query.
#pragma once

#include "draw_stats.h"
#include "scene.h"

#include <deque>
#include <string>
#include <vector>

struct t_pending_query {
    GLuint query;
    double time;
};

struct t_offscreen {
    int width = 0, height = 0;
    GLuint fbo = 0, colour = 0;
    GLuint pbo[2] = {0, 0};
    bool timer_queries = false;
    std::deque<t_pending_query> pending;
    std::vector<GLuint> spare_queries;
    std::vector<t_draw_sample> samples;
    std::vector<unsigned char> frame; // the last frame read back: top-down RGB rows
};

// Makes the framebuffer (RGBA8 colour renderbuffer) and leaves it bound, and the
// two pack buffers. Must run before the scene is built, which sets the viewport.
bool offscreen_create(t_offscreen *off, int width, int height, std::string *error);

// Clears and draws one frame at T = `time` (single precision for the shader),
// inside a timer query that is read back a couple of frames later.
void offscreen_draw(t_offscreen *off, const t_scene &scene, double time);

// Starts the frame's copy into pack buffer `slot` (0 or 1) without waiting.
void offscreen_start_read(t_offscreen *off, int slot);

// Waits for the copy in `slot`, flips the rows top-down into off->frame and
// returns its pixels.
const unsigned char *offscreen_finish_read(t_offscreen *off, int slot);

// Collects the timings still outstanding; off->samples then holds every frame.
void offscreen_drain_queries(t_offscreen *off);

void offscreen_destroy(t_offscreen *off);
