#include "display.h"

#include "stop_signal.h"

#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool fail_sdl(const char *step)
{
    fprintf(stderr, "Failed to %s: %s\n", step, SDL_GetError());
    return false;
}

// Without a display SDL falls back to drivers that draw to nowhere; a show
// nobody can see is a failure, not a silent success.
static bool video_driver_shows_nothing(void)
{
    const char *driver = SDL_GetCurrentVideoDriver();
    return driver == NULL || strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0;
}

// An X server that goes away ends the show at once. Xlib would otherwise
// exit through the exit handlers, and SDL's teardown there waits forever for
// a server that is gone; with the server went the mode to restore.
static int display_lost(Display *display)
{
    (void)display;
    static const char message[] = "Lost the connection to the display\n";
    ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
    (void)written;
    _exit(1);
}

static void set_colour_sizes(int rgb_bits, int alpha_bits)
{
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, rgb_bits);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, rgb_bits);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, rgb_bits);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha_bits);
}

static void set_gl_attributes(void)
{
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_ACCELERATED_VISUAL, 1);
    set_colour_sizes(8, 8);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
}

static SDL_Window *create_window(int width, int height)
{
    return SDL_CreateWindow("", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                            SDL_WINDOW_FULLSCREEN | SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS);
}

static bool has_window_manager(Display *display)
{
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None)
        return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char *value = NULL;
    XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type, &format,
                       &count, &left, &value);
    if (value != NULL)
        XFree(value);
    return type == XA_WINDOW && count == 1;
}

// A window manager puts a full-screen window onto the display. Without one
// the window stays where it was made: centred on the desktop as it was before
// the mode changed, or larger than a screen that has no 1920x1080 mode.
static void place_on_display(SDL_Window *window)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return;
    if (has_window_manager(info.info.x11.display))
        return;
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &bounds) != 0)
        return;
    XMoveResizeWindow(info.info.x11.display, info.info.x11.window, bounds.x, bounds.y, (unsigned)bounds.w,
                      (unsigned)bounds.h);
}

static SDL_Window *open_window(int width, int height)
{
    SDL_Window *window = create_window(width, height);
    // Screens without an alpha visual, or without 8 bits a channel (16-bit
    // X servers), still show the picture: alpha is never displayed, and
    // fewer bits only band the gradients.
    if (window == NULL) {
        set_colour_sizes(8, 0);
        window = create_window(width, height);
    }
    if (window == NULL) {
        set_colour_sizes(0, 0);
        window = create_window(width, height);
    }
    if (window != NULL) {
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN);
        place_on_display(window);
    }
    return window;
}

bool start_video(void)
{
    catch_stop_signals();
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        return false;
    if (video_driver_shows_nothing()) {
        SDL_SetError("no display available (SDL chose its \"%s\" driver)", SDL_GetCurrentVideoDriver());
        return false;
    }
    set_gl_attributes();
    return true;
}

bool open_display(int width, int height, SDL_Window **window, SDL_GLContext *context)
{
    bool started = start_video();
    // From here every exit gives the desktop its video mode back.
    atexit(SDL_Quit);
    XSetIOErrorHandler(display_lost);
    if (!started)
        return fail_sdl("initialise SDL video");
    *window = open_window(width, height);
    if (*window == NULL)
        return fail_sdl("create the window");
    *context = SDL_GL_CreateContext(*window);
    if (*context == NULL)
        return fail_sdl("create an OpenGL 3.2 core context");
    return true;
}

void close_display(SDL_Window *window, SDL_GLContext context)
{
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
}
