// tessary: a 130-second real-time demo. One start-up sequence, one frame loop,
// then a wait for the soundtrack and the teardown.

#include "font_atlas.h"
#include "frame_loop.h"
#include "scene.h"
#include "soundtrack.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

static const int WIDTH = 1920;
static const int HEIGHT = 1080;

static int fail_sdl(const char *step)
{
    fprintf(stderr, "Failed to %s: %s\n", step, SDL_GetError());
    return 1;
}

// Without a display SDL falls back to drivers that draw to nowhere; a show
// nobody can see is a failure, not a silent success.
static bool video_driver_shows_nothing(void)
{
    const char *driver = SDL_GetCurrentVideoDriver();
    return driver == NULL || strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0;
}

static void set_gl_attributes(void)
{
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_ACCELERATED_VISUAL, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
}

static SDL_Window *open_window(void)
{
    SDL_Window *window = SDL_CreateWindow("", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, WIDTH, HEIGHT,
                                          SDL_WINDOW_FULLSCREEN | SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS);
    if (window != NULL)
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN);
    return window;
}

int main(int argc, char **argv)
{
    (void)argc;
    (void)argv;

    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        return fail_sdl("initialise SDL video");
    if (video_driver_shows_nothing()) {
        SDL_SetError("no display available (SDL chose its \"%s\" driver)", SDL_GetCurrentVideoDriver());
        return fail_sdl("initialise SDL video");
    }
    set_gl_attributes();
    SDL_Window *window = open_window();
    if (window == NULL)
        return fail_sdl("create the window");
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (context == NULL)
        return fail_sdl("create an OpenGL 3.2 core context");

    load_font_atlas();

    t_scene scene = {};
    if (!build_scene(&scene, WIDTH, HEIGHT))
        return 1;

    start_demo_clock();
    pid_t child_pid = start_soundtrack();
    if (child_pid == -1)
        return 1;

    run_frame_loop(window, scene.tloc, scene.vao);

    wait_for_soundtrack(child_pid);

    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
