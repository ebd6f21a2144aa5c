// Demo clock and frame loop.
#pragma once

#include <SDL.h>
#include <GL/gl.h>

const float END_TIME = 130.0f;

// Milliseconds to seconds, in single precision.
float ms2time(Uint32 ms);

// The presentation runs on while its time has not passed END_TIME.
bool demo_time_over(float demo_time);

// Records the clock's zero point.
void start_demo_clock(void);

// Draws frames until Escape is released or the time passes END_TIME.
void run_frame_loop(SDL_Window *window, GLint tloc, GLuint vao);
