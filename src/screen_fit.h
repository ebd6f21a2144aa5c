// Where the picture goes in the drawable the window really got. Desktops
// don't always grant the 1920x1080 mode: the picture then follows the
// drawable's size, and where its shape isn't 16:9 the picture is centred
// with black bars. The picture may also be drawn at a lower scale, to keep
// the frame rate, and stretched onto the screen. With bars or a lower scale
// it is drawn first into a framebuffer of its own, so that gl_FragCoord
// still starts at the picture's corner and `u_res` is the size drawn.
#pragma once

#include <SDL.h>
#include <GL/gl.h>

struct t_rect {
    int x, y, width, height;
};

// The largest rectangle of the picture's shape centred in the drawable. A
// drawable within half a percent of that shape (1366x768) is used whole.
t_rect fit_picture(int drawable_width, int drawable_height, int picture_width, int picture_height);

struct t_screen {
    int shape_width, shape_height;        // the picture's own shape: the size it was made for
    int drawable_width, drawable_height;  // the drawable the picture was last fitted to
    t_rect picture;                       // where the picture sits in it
    float scale;                          // of the picture's size, the size it is drawn at:
    int drawn_width, drawn_height;        // the viewport and the resolution uniform
    GLuint fbo, colour;                   // the picture's own framebuffer, while it needs one
};

// A picture of the given size filling a drawable of the same size, as the
// scene was built.
t_screen screen_for_picture(int width, int height);

// Refits the picture when the window's drawable has changed size: the
// viewport and the resolution uniform `rloc` follow it. Cheap when nothing changed.
void follow_drawable(t_screen *screen, SDL_Window *window, GLint rloc);

// Draws the picture at `scale` of its place on the screen from the next
// frame on; `rloc` follows the size drawn.
void set_picture_scale(t_screen *screen, float scale, GLint rloc);

// Makes the picture's framebuffer the target of the frame's clear and draw.
void begin_picture(const t_screen *screen);

// Puts a picture drawn in its own framebuffer onto the window, stretched
// with linear filtering where it was drawn smaller, the bars black.
void end_picture(const t_screen *screen);
