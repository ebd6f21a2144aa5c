// The display: SDL video, the borderless full-screen window in the
// 1920x1080 mode (or whatever the desktop grants), its OpenGL 3.2 core
// context, and their teardown.
#pragma once

#include <SDL.h>

// The start the demo and the studio share: SIGINT, SIGTERM and SIGHUP caught
// by the program's own handler (stop_signal.h; SDL installs none), SDL video
// on a driver that shows something, and the GL attributes of a
// double-buffered RGBA8 3.2 core context. False with the reason in SDL_GetError().
bool start_video(void);

// Opens SDL video, the window and its context, which stays current. On
// failure it has written one line to standard error and returns false. From
// here on every exit of the process gives the desktop its mode back.
bool open_display(int width, int height, SDL_Window **window, SDL_GLContext *context);

// Deletes the context, destroys the window and quits SDL.
void close_display(SDL_Window *window, SDL_GLContext context);
