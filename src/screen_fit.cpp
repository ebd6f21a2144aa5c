#include "screen_fit.h"

#include <GL/glext.h>

#include <cmath>
#include <cstdlib>

// Half a percent, in the units of a cross-multiplied aspect comparison.
static const long SHAPE_TOLERANCE_PER_MILLE = 5;

static const GLfloat BAR_COLOUR[4] = {0.0f, 0.0f, 0.0f, 1.0f};

static bool has_bars(const t_screen *screen)
{
    return screen->picture.width != screen->drawable_width || screen->picture.height != screen->drawable_height;
}

// Drawn straight into the window only when it fills it at full size.
static bool needs_framebuffer(const t_screen *screen)
{
    return has_bars(screen) || screen->drawn_width != screen->picture.width ||
           screen->drawn_height != screen->picture.height;
}

t_rect fit_picture(int drawable_width, int drawable_height, int picture_width, int picture_height)
{
    // Compare w/h against pw/ph without dividing: w*ph against h*pw.
    long wide = (long)drawable_width * picture_height;
    long tall = (long)drawable_height * picture_width;
    t_rect rect = {0, 0, drawable_width, drawable_height};
    if (labs(wide - tall) * 1000 <= SHAPE_TOLERANCE_PER_MILLE * tall)
        return rect;
    if (wide > tall) {
        rect.width = (int)(tall / picture_height);
        rect.x = (drawable_width - rect.width) / 2;
    } else {
        rect.height = (int)(wide / picture_width);
        rect.y = (drawable_height - rect.height) / 2;
    }
    return rect;
}

t_screen screen_for_picture(int width, int height)
{
    t_screen screen = {};
    screen.shape_width = width;
    screen.shape_height = height;
    screen.drawable_width = width;
    screen.drawable_height = height;
    screen.picture = {0, 0, width, height};
    screen.scale = 1.0f;
    screen.drawn_width = width;
    screen.drawn_height = height;
    return screen;
}

// Storage is made only when the picture's size changes, never per frame.
static void size_picture_framebuffer(t_screen *screen)
{
    if (screen->fbo == 0) {
        glGenFramebuffers(1, &screen->fbo);
        glGenRenderbuffers(1, &screen->colour);
    }
    glBindRenderbuffer(GL_RENDERBUFFER, screen->colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, screen->drawn_width, screen->drawn_height);
    glBindFramebuffer(GL_FRAMEBUFFER, screen->fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, screen->colour);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

static void drop_picture_framebuffer(t_screen *screen)
{
    if (screen->fbo == 0)
        return;
    glDeleteFramebuffers(1, &screen->fbo);
    glDeleteRenderbuffers(1, &screen->colour);
    screen->fbo = 0;
    screen->colour = 0;
}

// The size drawn, the framebuffer it needs, the viewport and `u_res`, after
// the drawable or the scale has changed.
static void refit(t_screen *screen, GLint rloc)
{
    screen->drawn_width = (int)lroundf((float)screen->picture.width * screen->scale);
    screen->drawn_height = (int)lroundf((float)screen->picture.height * screen->scale);
    if (screen->drawn_width < 1)
        screen->drawn_width = 1;
    if (screen->drawn_height < 1)
        screen->drawn_height = 1;
    if (needs_framebuffer(screen))
        size_picture_framebuffer(screen);
    else
        drop_picture_framebuffer(screen);
    glViewport(0, 0, screen->drawn_width, screen->drawn_height);
    glUniform2f(rloc, (float)screen->drawn_width, (float)screen->drawn_height);
}

void follow_drawable(t_screen *screen, SDL_Window *window, GLint rloc)
{
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(window, &width, &height);
    if (width <= 0 || height <= 0)
        return;
    if (width == screen->drawable_width && height == screen->drawable_height)
        return;
    screen->drawable_width = width;
    screen->drawable_height = height;
    screen->picture = fit_picture(width, height, screen->shape_width, screen->shape_height);
    refit(screen, rloc);
}

void set_picture_scale(t_screen *screen, float scale, GLint rloc)
{
    if (scale == screen->scale)
        return;
    screen->scale = scale;
    refit(screen, rloc);
}

void begin_picture(const t_screen *screen)
{
    glBindFramebuffer(GL_FRAMEBUFFER, needs_framebuffer(screen) ? screen->fbo : 0);
}

void end_picture(const t_screen *screen)
{
    if (!needs_framebuffer(screen))
        return;
    const t_rect &p = screen->picture;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, screen->fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    // Cleared without touching the scene's own clear colour.
    if (has_bars(screen))
        glClearBufferfv(GL_COLOR, 0, BAR_COLOUR);
    glBlitFramebuffer(0, 0, screen->drawn_width, screen->drawn_height, p.x, p.y, p.x + p.width, p.y + p.height,
                      GL_COLOR_BUFFER_BIT, GL_LINEAR);
}
