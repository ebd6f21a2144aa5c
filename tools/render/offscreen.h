// The render target of a capture: a framebuffer object, read back through two
// pixel buffer objects in turn, with each draw timed (see draw_timer.h).
#pragma once

#include "draw_stats.h"
#include "draw_timer.h"
#include "scene.h"

#include <string>
#include <vector>

struct t_offscreen {
    int width = 0, height = 0;
    GLuint fbo = 0, colour = 0;
    GLuint pbo[2] = {0, 0};
    t_draw_timer timer;
    std::vector<t_draw_sample> samples;
    std::vector<unsigned char> frame; // the last frame read back: top-down RGB rows
};

// Makes the framebuffer (RGBA8 colour renderbuffer) and leaves it bound, and the
// two pack buffers.
bool offscreen_create(t_offscreen *off, int width, int height, std::string *error);

// The driver compiles a shader on its first draw: one untimed draw into a
// single pixel keeps that out of the first frame's cost.
void offscreen_warm_up(t_offscreen *off, const t_scene &scene, double time);

// Clears and draws one frame at T = `time` (single precision for the shader)
// over the whole framebuffer, with the scene's program bound and its u_res
// and T set; timed, its cost lands in off->samples once the timer has it.
void offscreen_draw(t_offscreen *off, const t_scene &scene, double time);

// Starts the frame's copy into pack buffer `slot` (0 or 1) without waiting.
void offscreen_start_read(t_offscreen *off, int slot);

// Waits for the copy in `slot`, flips the rows top-down into off->frame and
// returns its pixels.
const unsigned char *offscreen_finish_read(t_offscreen *off, int slot);

// Collects the timings still outstanding; off->samples then holds every frame.
void offscreen_drain_queries(t_offscreen *off);

void offscreen_destroy(t_offscreen *off);
