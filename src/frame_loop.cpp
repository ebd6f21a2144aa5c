#include "frame_loop.h"

#include "soundtrack.h"
#include "stop_signal.h"

#include <GL/glext.h>

// How long the wait sleeps between looks at the audio child and the signals.
static const int HOLD_POLL_MS = 20;

// SDL tick count at the presentation's zero point.
static Uint32 start;

float ms2time(Uint32 ms)
{
    return (float)ms * 0.001f;
}

bool demo_time_over(float demo_time)
{
    return demo_time > END_TIME;
}

void start_demo_clock(Uint32 ticks)
{
    start = ticks;
}

float demo_time_at(Uint32 ticks)
{
    // Unsigned subtraction keeps the time right across the tick counter's wrap.
    return ms2time(ticks - start);
}

static bool is_escape_release(const SDL_Event &event)
{
    return event.type == SDL_KEYUP && event.key.keysym.sym == SDLK_ESCAPE;
}

// Releasing Escape ends the show; holding it, or closing the window, does not.
static bool escape_released(void)
{
    bool released = false;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (is_escape_release(event))
            released = true;
    }
    return released;
}

static void draw_picture(const t_scene *scene)
{
    glBindVertexArray(scene->vao);
    glDrawArrays(GL_TRIANGLES, 0, 6);
}

int run_frame_loop(SDL_Window *window, const t_scene *scene, t_screen *screen, float *last_time)
{
    bool loop = true;
    while (loop) {
        float demo_time = demo_time_at(SDL_GetTicks());
        glUniform1f(scene->tloc, demo_time);
        follow_drawable(screen, window, scene->rloc);
        begin_picture(screen);
        glClear(GL_COLOR_BUFFER_BIT);
        if (escape_released())
            loop = false;
        draw_picture(scene);
        end_picture(screen);
        SDL_GL_SwapWindow(window);
        SDL_Delay(1);
        *last_time = demo_time;
        if (demo_time_over(demo_time))
            loop = false;
        if (stop_signal_caught())
            return stop_signal_caught();
    }
    return 0;
}

// The last frame again, for a window that was uncovered or resized.
static void redraw_last_frame(SDL_Window *window, const t_scene *scene, t_screen *screen, float last_time)
{
    glUniform1f(scene->tloc, last_time);
    follow_drawable(screen, window, scene->rloc);
    begin_picture(screen);
    glClear(GL_COLOR_BUFFER_BIT);
    draw_picture(scene);
    end_picture(screen);
    SDL_GL_SwapWindow(window);
}

int hold_last_frame(SDL_Window *window, const t_scene *scene, t_screen *screen, float last_time,
                    pid_t child_pid)
{
    while (!soundtrack_ended(child_pid)) {
        if (stop_signal_caught())
            return stop_signal_caught();
        // Taking events is what answers the window manager's pings.
        bool redraw = false;
        SDL_Event event;
        if (!SDL_WaitEventTimeout(&event, HOLD_POLL_MS))
            continue;
        do {
            if (is_escape_release(event)) {
                stop_soundtrack(child_pid);
                return 0;
            }
            if (event.type == SDL_WINDOWEVENT)
                redraw = true;
        } while (SDL_PollEvent(&event));
        if (redraw)
            redraw_last_frame(window, scene, screen, last_time);
    }
    return 0;
}
