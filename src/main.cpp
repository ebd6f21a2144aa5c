// tessary: a 130-second real-time demo. One start-up sequence, one frame loop,
// then a wait for the soundtrack and the teardown.

#include "display.h"
#include "font_atlas.h"
#include "frame_loop.h"
#include "scene.h"
#include "screen_fit.h"
#include "soundtrack.h"
#include "stop_signal.h"

#include <SDL.h>

static const int WIDTH = 1920;
static const int HEIGHT = 1080;

// Builds for measuring, not installed, set these (CMakeLists.txt): a line
// about the frames at the end, a scale held for the whole show.
#ifndef FRAME_REPORT
#define FRAME_REPORT false
#endif
#ifndef PINNED_SCALE
#define PINNED_SCALE 0.0f
#endif

int main(int argc, char **argv)
{
    (void)argc;
    (void)argv;

    // SIGINT, SIGTERM and SIGHUP end the show at once, from the first moment
    // (open_display catches them first).
    SDL_Window *window = NULL;
    SDL_GLContext context = NULL;
    if (!open_display(WIDTH, HEIGHT, &window, &context))
        return 1;

    // An atlas file that can't be examined or read ends the show with exit(-1)'s
    // status; an image that doesn't decode, with libjpeg's.
    GLuint font_tex = 0;
    t_atlas_result atlas = load_font_atlas(&font_tex);
    if (atlas == atlas_file_failed)
        return 255;
    if (atlas == atlas_image_failed)
        return 1;

    t_scene scene = {};
    if (build_scene(&scene, WIDTH, HEIGHT) != build_ok)
        return 1;
    t_screen screen = screen_for_picture(WIDTH, HEIGHT);
    prepare_frames(window, &scene, &screen, PINNED_SCALE);

    start_demo_clock(SDL_GetTicks());
    pid_t child_pid = start_soundtrack();
    if (child_pid == -1)
        return 1;

    float last_time = 0.0f;
    int signal_number = run_frame_loop(window, &scene, &screen, &last_time);
    if (signal_number == 0)
        signal_number = hold_last_frame(window, &scene, &screen, last_time, child_pid);
    if (FRAME_REPORT)
        print_frame_report();
    if (signal_number != 0) {
        stop_soundtrack(child_pid);
        close_display(window, context);
        return stop_signal_status(signal_number);
    }
    report_soundtrack_done();

    close_display(window, context);
    return 0;
}
