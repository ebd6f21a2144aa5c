// How long the GL takes to draw a frame. A GPU's timer queries time its own
// work; a software rasterizer (llvmpipe) runs the draw on its threads after
// the query has ended, so there each frame is finished and timed by the wall
// clock, with the query as a lower bound. Results arrive a few frames late.
#pragma once

#include "draw_stats.h"
#include "scene.h"

#include <chrono>

enum t_draw_clock {
    draw_clock_gpu,  // GL_TIME_ELAPSED queries, read back late
    draw_clock_wall, // glFinish after the draw, steady clock around it
};

// Queries in flight at most; a fixed ring, so timing allocates nothing.
const int DRAW_TIMER_RING = 4;

struct t_draw_timer {
    t_draw_clock clock = draw_clock_wall;
    bool has_queries = false;
    GLuint queries[DRAW_TIMER_RING] = {};
    double times[DRAW_TIMER_RING] = {}; // T of the frame each ring slot times
    double wall_ms[DRAW_TIMER_RING] = {};
    unsigned long begun = 0, collected = 0;
    std::chrono::steady_clock::time_point wall_start;
};

// Picks the clock for the current context and makes the queries.
void draw_timer_create(t_draw_timer *timer);
const char *draw_clock_name(t_draw_clock clock);

// Around one frame's GL work: begin before the clear, end after the draw.
// With the wall clock, end waits for the frame to finish.
void draw_timer_begin(t_draw_timer *timer);
void draw_timer_end(t_draw_timer *timer, double frame_time);

// The oldest finished frame's cost, if one is ready without waiting (or if
// `wait` is set and any is outstanding). Returns false when there is none.
bool draw_timer_collect(t_draw_timer *timer, bool wait, t_draw_sample *sample);

void draw_timer_destroy(t_draw_timer *timer);
