// What drawing a frame costs, apart from the rest of the frame (the swap,
// the program, other processes' turns), for the scale's cost model.
#pragma once

#include "frame_pace.h"

#include <GL/gl.h>
#include <SDL.h>

enum t_drawing_clock {
    // GL_TIME_ELAPSED queries, where the driver has them and draws on a GPU:
    // read a few frames late, so that asking never stalls.
    drawing_by_queries,
    // A software rasterizer draws on its own threads after a query has
    // closed: there the drawing is finished before the swap, which would
    // wait for it anyway, and timed by the tick count.
    drawing_finished,
    // Neither: drawing can't be told apart from the swap-to-swap interval.
    drawing_unknown,
};

// Queries in flight at most.
const int FRAME_QUERIES = 4;

struct t_frame_timer {
    t_drawing_clock clock;
    GLuint queries[FRAME_QUERIES];
    unsigned begun, ended, read;  // queries so far
    Uint32 begin_ticks, drawn_ticks, end_ticks;
};

// Picks the clock for the current context.
void start_frame_timer(t_frame_timer *timer);

// Before the frame's clear, after its draw, and after the stretch onto the
// screen. A full ring of queries skips the frame.
void begin_frame_timing(t_frame_timer *timer);
void note_picture_drawn(t_frame_timer *timer);
void end_frame_timing(t_frame_timer *timer);

// A frame's drawing and stretch, once known (false while they are not):
// the GPU's time is all drawing; without a clock for drawing, `times` is
// left as it is.
bool frame_drawing_times(t_frame_timer *timer, t_frame_times *times);
