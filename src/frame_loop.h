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

// Draws frames until Escape is released, the time passes END_TIME or a stop
// signal comes. Returns that signal, or 0; `last_time` is the last frame's T.
int run_frame_loop(SDL_Window *window, const t_scene *scene, t_screen *screen, float *last_time);

// While the music plays on: keeps the last frame up and the window answering
// the desktop. Another Escape release stops the music. Returns when the audio
// child has ended (0) or a stop signal came (that signal).
int hold_last_frame(SDL_Window *window, const t_scene *scene, t_screen *screen, float last_time,
                    pid_t child_pid);
