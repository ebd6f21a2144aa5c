#include "frame_timer.h"

#include "gl_timing.h"

#include <GL/glext.h>

// Results are asked for this many frames after their frame, by when a GPU has them.
static const unsigned QUERY_LAG = 2;

void start_frame_timer(t_frame_timer *timer)
{
    *timer = t_frame_timer();
    const char *renderer = (const char *)glGetString(GL_RENDERER);
    if (renderer == NULL || is_software_renderer(renderer))
        timer->clock = drawing_finished;
    else if (has_timer_queries())
        timer->clock = drawing_by_queries;
    else
        timer->clock = drawing_unknown;
    if (timer->clock == drawing_by_queries)
        glGenQueries(FRAME_QUERIES, timer->queries);
}

void begin_frame_timing(t_frame_timer *timer)
{
    if (timer->clock == drawing_finished)
        timer->begin_ticks = SDL_GetTicks();
    if (timer->clock != drawing_by_queries || timer->begun - timer->read == FRAME_QUERIES)
        return;
    glBeginQuery(GL_TIME_ELAPSED, timer->queries[timer->begun % FRAME_QUERIES]);
    timer->begun++;
}

// The stretch reads what was drawn, so finishing the drawing first loses nothing.
void note_picture_drawn(t_frame_timer *timer)
{
    if (timer->clock != drawing_finished)
        return;
    glFinish();
    timer->drawn_ticks = SDL_GetTicks();
}

void end_frame_timing(t_frame_timer *timer)
{
    if (timer->clock == drawing_finished) {
        glFinish();
        timer->end_ticks = SDL_GetTicks();
    }
    if (timer->ended == timer->begun)
        return;
    glEndQuery(GL_TIME_ELAPSED);
    timer->ended++;
}

bool frame_drawing_times(t_frame_timer *timer, t_frame_times *times)
{
    if (timer->clock == drawing_finished) {
        times->draw_ms = (float)(timer->drawn_ticks - timer->begin_ticks);
        times->stretch_ms = (float)(timer->end_ticks - timer->drawn_ticks);
    }
    if (timer->clock != drawing_by_queries)
        return true;
    if (timer->ended - timer->read <= QUERY_LAG)
        return false;
    GLuint query = timer->queries[timer->read % FRAME_QUERIES];
    GLint ready = 0;
    glGetQueryObjectiv(query, GL_QUERY_RESULT_AVAILABLE, &ready);
    if (!ready)
        return false;
    GLuint64 ns = 0;
    glGetQueryObjectui64v(query, GL_QUERY_RESULT, &ns);
    timer->read++;
    times->draw_ms = (float)ns / 1e6f;
    times->stretch_ms = 0.0f;
    return true;
}
