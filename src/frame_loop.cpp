#include "frame_loop.h"

#include "frame_pace.h"
#include "frame_timer.h"
#include "soundtrack.h"
#include "stop_signal.h"

#include <GL/glext.h>

#include <cstdio>

// How long the wait sleeps between looks at the audio child and the signals.
static const int HOLD_POLL_MS = 20;

// SDL tick count at the presentation's zero point.
static Uint32 start;

// The scale the picture is drawn at, what frames cost, and what the viewer saw.
static t_pace pace;
static t_frame_timer timer;
static Uint32 last_swap;
static t_frame_record record;

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

static int display_refresh_hz(SDL_Window *window)
{
    SDL_DisplayMode mode = {};
    if (SDL_GetCurrentDisplayMode(SDL_GetWindowDisplayIndex(window), &mode) != 0)
        return 0;
    return mode.refresh_rate;
}

// Milliseconds from `*mark` until the GL has finished its work, which is the next mark.
static float finished_since(Uint32 *mark)
{
    glFinish();
    Uint32 now = SDL_GetTicks();
    Uint32 ms = now - *mark;
    *mark = now;
    return (float)ms;
}

// One frame of the picture, finished but never shown, and what drawing it
// and stretching it onto the screen took.
static t_frame_times draw_unseen_frame(const t_scene *scene, const t_screen *screen)
{
    t_frame_times times = {};
    Uint32 mark = SDL_GetTicks();
    begin_picture(screen);
    glClear(GL_COLOR_BUFFER_BIT);
    draw_picture(scene);
    times.draw_ms = finished_since(&mark);
    end_picture(screen);
    times.stretch_ms = finished_since(&mark);
    times.frame_ms = times.draw_ms + times.stretch_ms;
    return times;
}

void prepare_frames(SDL_Window *window, const t_scene *scene, t_screen *screen, float pinned_scale)
{
    int refresh_hz = display_refresh_hz(window);
    pace = pinned_scale > 0.0f ? pinned_pace(refresh_hz, pinned_scale) : pace_for(refresh_hz);
    start_frame_timer(&timer);
    glUniform1f(scene->tloc, 0.0f);
    follow_drawable(screen, window, scene->rloc);
    if (!pace.pinned) {
        // Drivers generate a shader's code at its first draw into each kind
        // of target: the picture's own framebuffer first. Warm, a frame there
        // says where the show starts.
        const float trial_scale = 0.5f;
        set_picture_scale(screen, trial_scale, scene->rloc);
        draw_unseen_frame(scene, screen);
        start_pace(&pace, draw_unseen_frame(scene, screen), trial_scale);
    }
    // The target the first frame is drawn into, warmed too.
    set_picture_scale(screen, pace_scale(&pace), scene->rloc);
    draw_unseen_frame(scene, screen);
}

// After a frame's swap: what it cost, and the scale the next one is drawn at.
static void keep_pace(t_screen *screen, GLint rloc)
{
    Uint32 now = SDL_GetTicks();
    Uint32 frame_ms = now - last_swap;
    last_swap = now;
    record_frame(&record, frame_ms, pace.step);
    t_frame_times times = {(float)frame_ms, (float)frame_ms, 0.0f};
    if (!frame_drawing_times(&timer, &times))
        return;
    // A GPU's own time is the frame's cost there: the swap-to-swap interval
    // waits for the display.
    if (timer.clock == drawing_by_queries)
        times.frame_ms = times.draw_ms;
    if (pace_frame(&pace, times, now))
        set_picture_scale(screen, pace_scale(&pace), rloc);
}

int run_frame_loop(SDL_Window *window, const t_scene *scene, t_screen *screen, float *last_time)
{
    last_swap = start;
    bool loop = true;
    while (loop) {
        float demo_time = demo_time_at(SDL_GetTicks());
        glUniform1f(scene->tloc, demo_time);
        follow_drawable(screen, window, scene->rloc);
        begin_frame_timing(&timer);
        begin_picture(screen);
        glClear(GL_COLOR_BUFFER_BIT);
        if (escape_released())
            loop = false;
        draw_picture(scene);
        note_picture_drawn(&timer);
        end_picture(screen);
        end_frame_timing(&timer);
        SDL_GL_SwapWindow(window);
        SDL_Delay(1);
        keep_pace(screen, scene->rloc);
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

void print_frame_report(void)
{
    static const char *const CLOCK_NAME[] = {"gpu", "finish", "swap"}; // as t_drawing_clock
    t_frame_summary summary = summarize_frames(&record);
    fprintf(stderr,
            "frames=%u frame_ms_median=%u frame_ms_p95=%u scale_min=%.2f scale_median=%.2f budget_ms=%.1f "
            "stretch_ms=%.0f timed_by=%s renderer=\"%s\"\n",
            summary.frames, summary.median_ms, summary.p95_ms, summary.scale_min, summary.scale_median,
            pace.budget_ms, pace.stretch_ms, CLOCK_NAME[timer.clock], (const char *)glGetString(GL_RENDERER));
}
