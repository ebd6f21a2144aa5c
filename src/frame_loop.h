// Demo clock, frame loop, and the wait for the music with the last frame up.
#pragma once

#include "scene.h"
#include "screen_fit.h"

#include <SDL.h>
#include <sys/types.h>

const float END_TIME = 130.0f;

// Milliseconds to seconds, in single precision.
float ms2time(Uint32 ms);

// The presentation runs on while its time has not passed END_TIME.
bool demo_time_over(float demo_time);

// Records the clock's zero point, a tick count.
void start_demo_clock(Uint32 ticks);

// Seconds from the zero point to the tick count `ticks`, right across the
// tick counter's wrap.
float demo_time_at(Uint32 ticks);

// Before the clock starts: draws the picture off-screen and waits for it, so
// the driver's work at a first draw is done before the show's first frame,
// and picks the scale the show starts at from what a warm frame costs. A
// `pinned_scale` above 0 holds the scale there for the whole show.
void prepare_frames(SDL_Window *window, const t_scene *scene, t_screen *screen, float pinned_scale);

// Draws frames until Escape is released, the time passes END_TIME or a stop
// signal comes. Returns that signal, or 0; `last_time` is the last frame's T.
// The scale adapts to keep each frame within the display's refresh interval.
int run_frame_loop(SDL_Window *window, const t_scene *scene, t_screen *screen, float *last_time);

// While the music plays on: keeps the last frame up and the window answering
// the desktop. Another Escape release stops the music. Returns when the audio
// child has ended (0) or a stop signal came (that signal).
int hold_last_frame(SDL_Window *window, const t_scene *scene, t_screen *screen, float last_time,
                    pid_t child_pid);

// One line on standard error about the frames shown: how many, their times
// from swap to swap, the scales they were drawn at, and the renderer.
void print_frame_report(void);
