#include "draw_timer.h"

#include "gl_timing.h"

// Results are read this many frames late, by when a GPU has them.
static const unsigned long QUERY_LAG = 2;

void draw_timer_create(t_draw_timer *timer)
{
    *timer = t_draw_timer();
    timer->has_queries = has_timer_queries();
    bool software = is_software_renderer((const char *)glGetString(GL_RENDERER));
    timer->clock = timer->has_queries && !software ? draw_clock_gpu : draw_clock_wall;
    if (timer->has_queries)
        glGenQueries(DRAW_TIMER_RING, timer->queries);
}

const char *draw_clock_name(t_draw_clock clock)
{
    return clock == draw_clock_gpu ? "gpu" : "wall";
}

void draw_timer_begin(t_draw_timer *timer)
{
    // A full ring: the oldest result is needed before its query is reused.
    if (timer->begun - timer->collected >= DRAW_TIMER_RING)
        return;
    if (timer->has_queries)
        glBeginQuery(GL_TIME_ELAPSED, timer->queries[timer->begun % DRAW_TIMER_RING]);
    timer->wall_start = std::chrono::steady_clock::now();
}

void draw_timer_end(t_draw_timer *timer, double frame_time)
{
    if (timer->begun - timer->collected >= DRAW_TIMER_RING)
        return;
    int slot = (int)(timer->begun % DRAW_TIMER_RING);
    if (timer->clock == draw_clock_wall) {
        glFinish();
        timer->wall_ms[slot] =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - timer->wall_start).count();
    } else {
        // Tilers rasterize at a flush; without it the query would time only
        // the queuing of the draw.
        glFlush();
    }
    if (timer->has_queries)
        glEndQuery(GL_TIME_ELAPSED);
    timer->times[slot] = frame_time;
    timer->begun++;
}

bool draw_timer_collect(t_draw_timer *timer, bool wait, t_draw_sample *sample)
{
    if (timer->collected == timer->begun)
        return false;
    int slot = (int)(timer->collected % DRAW_TIMER_RING);
    bool full = timer->begun - timer->collected >= DRAW_TIMER_RING;
    double query_ms = 0.0;
    if (timer->has_queries) {
        GLuint query = timer->queries[slot];
        if (!wait && !full && timer->clock == draw_clock_gpu) {
            if (timer->begun - timer->collected <= QUERY_LAG)
                return false;
            GLint ready = 0;
            glGetQueryObjectiv(query, GL_QUERY_RESULT_AVAILABLE, &ready);
            if (!ready)
                return false;
        }
        GLuint64 ns = 0;
        glGetQueryObjectui64v(query, GL_QUERY_RESULT, &ns);
        query_ms = (double)ns / 1e6;
    }
    // On the wall clock the query ended after the finish, so it spans the
    // same work: the larger of the two stands, neither can overstate it much.
    sample->ms = timer->clock == draw_clock_gpu ? query_ms
                                                : (query_ms > timer->wall_ms[slot] ? query_ms : timer->wall_ms[slot]);
    sample->time = timer->times[slot];
    timer->collected++;
    return true;
}

void draw_timer_destroy(t_draw_timer *timer)
{
    if (timer->has_queries)
        glDeleteQueries(DRAW_TIMER_RING, timer->queries);
    *timer = t_draw_timer();
}
