#include "frame_loop.h"

#include <GL/glext.h>

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

void start_demo_clock(void)
{
    start = SDL_GetTicks();
}

// Releasing Escape ends the show; holding it, or closing the window, does not.
static bool escape_released(void)
{
    bool released = false;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_KEYUP && event.key.keysym.sym == SDLK_ESCAPE)
            released = true;
    }
    return released;
}

void run_frame_loop(SDL_Window *window, GLint tloc, GLuint vao)
{
    bool loop = true;
    while (loop) {
        // Unsigned subtraction keeps the time right across the tick counter's wrap.
        float demo_time = ms2time(SDL_GetTicks() - start);
        glUniform1f(tloc, demo_time);
        glClear(GL_COLOR_BUFFER_BIT);
        if (escape_released())
            loop = false;
        glBindVertexArray(vao);
        glDrawArrays(GL_TRIANGLES, 0, 6);
        SDL_GL_SwapWindow(window);
        SDL_Delay(1);
        if (demo_time_over(demo_time))
            loop = false;
    }
}
