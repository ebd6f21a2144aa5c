// tessary-studio: a live preview for the people who make the show. The
// picture of tessary.glsl with its soundtrack, reloaded when the files change,
// with a transport, a HUD, a timeline strip and frame-exact screenshots.
#include "draw_timer.h"
#include "gl_errors.h"
#include "hud.h"
#include "options.h"
#include "overlay.h"
#include "picture.h"
#include "playback.h"
#include "transport.h"
#include "watcher.h"

#include "display.h"
#include "font_atlas.h"
#include "stop_signal.h"

#include <SDL.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char *const SHADER_FILE = "tessary.glsl";
static const char *const MUSIC_FILE = "music.wav";

// Without vsync (a virtual display) a cheap shader would spin; no more often than this.
static const double MIN_FRAME_SECONDS = 1.0 / 120.0;
// How often an idle, paused studio looks for changed files.
static const int IDLE_WAIT_MS = 50;

enum t_exit {
    exit_ok = 0,
    exit_failed = 1,
    exit_usage = 2,
};

// Large: the overlay holds a whole frame's vertices.
static t_overlay g_overlay;

struct t_studio {
    std::string data_dir;
    SDL_Window *window = nullptr;
    SDL_GLContext context = nullptr;
    t_picture picture;
    t_playback playback;
    t_watcher watcher;
    t_draw_timer timer;
    t_transport transport;
    t_hud hud;
    bool show_hud = true;
    bool dragging = false;
    bool dirty = true; // something changed: draw a frame even when paused
    bool quit = false;
    int width = 0, height = 0;
    char status[96] = "";
    // Frame rate over the last half second.
    int frames = 0;
    Uint64 rate_since = 0, last_frame = 0;
};

static void fail_line(const std::string &message)
{
    fprintf(stderr, "tessary-studio: %s\n", message.c_str());
}

static std::string data_path(const t_studio &s, const char *name)
{
    return s.data_dir + "/" + name;
}

static bool check_run_time_files(const std::string &dir)
{
    for (const char *name : {SHADER_FILE, ATLAS_FILE, MUSIC_FILE}) {
        std::string path = dir + "/" + name;
        if (access(path.c_str(), R_OK) != 0) {
            fail_line("missing run-time file " + std::string(name) + " in " + dir + " (" + strerror(errno) + ")");
            return false;
        }
    }
    return true;
}

static bool open_window(t_studio *s, const t_studio_options &opt)
{
    // PipeWire first, without the PulseAudio layer when both are there; the
    // user's SDL_AUDIODRIVER still decides.
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "pipewire,pulseaudio,alsa", SDL_HINT_DEFAULT);
    if (!start_video()) {
        fail_line(std::string("no display: ") + (SDL_GetError()[0] ? SDL_GetError() : "SDL found none"));
        return false;
    }
    s->window = SDL_CreateWindow("tessary-studio", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, opt.width,
                                 opt.height, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
    if (s->window == nullptr) {
        fail_line(std::string("cannot open the window: ") + SDL_GetError());
        return false;
    }
    s->context = SDL_GL_CreateContext(s->window);
    if (s->context == nullptr) {
        fail_line(std::string("no OpenGL 3.2 core context: ") + SDL_GetError());
        return false;
    }
    SDL_GL_SetSwapInterval(1);
    return true;
}

// Everything the picture and the overlay need on the GL side.
static bool load_picture(t_studio *s)
{
    std::string error;
    if (!overlay_create(&g_overlay, &error)) {
        fail_line(error);
        return false;
    }
    picture_create(&s->picture);
    if (!picture_load_atlas(&s->picture, data_path(*s, ATLAS_FILE), &error)) {
        fail_line(error);
        return false;
    }
    // A shader that does not build still opens the studio: its log shows.
    picture_load_shader(&s->picture, data_path(*s, SHADER_FILE));
    draw_timer_create(&s->timer);
    return true;
}

static void start_sound(t_studio *s, const t_studio_options &opt)
{
    std::string error;
    if (!playback_open(&s->playback, data_path(*s, MUSIC_FILE), opt.mute, &error)) {
        fail_line(error + "; running silently");
        playback_close(&s->playback);
        playback_open(&s->playback, "", true, &error);
    }
    s->hud.latency_ms = s->playback.device != 0 ? s->playback.latency * 1000.0 : -1.0;
}

static void set_status(t_studio *s, const char *text)
{
    snprintf(s->status, sizeof s->status, "%s", text);
    s->dirty = true;
}

static void take_screenshot(t_studio *s)
{
    // The name's time is the time drawn, so tessary-capture --still with the
    // same digits gives the same pixels.
    char seconds[32], name[64];
    snprintf(seconds, sizeof seconds, "%.3f", s->transport.time);
    snprintf(name, sizeof name, "tessary-T%s.png", seconds);
    std::string error;
    if (picture_screenshot(&s->picture, strtod(seconds, nullptr), name, &error)) {
        printf("tessary-studio: wrote %s\n", name);
        fflush(stdout);
        set_status(s, name);
    } else {
        fail_line("screenshot failed: " + error);
        set_status(s, "screenshot failed");
    }
}

static t_action action_for_key(const SDL_KeyboardEvent &key)
{
    bool shift = (key.keysym.mod & KMOD_SHIFT) != 0;
    switch (key.keysym.sym) {
    case SDLK_SPACE: return key.repeat ? action_none : action_play_pause;
    case SDLK_LEFT: return shift ? action_beat_back : action_bar_back;
    case SDLK_RIGHT: return shift ? action_beat_forward : action_bar_forward;
    case SDLK_HOME: return action_home;
    case SDLK_PAGEUP: return action_previous_section;
    case SDLK_PAGEDOWN: return action_next_section;
    case SDLK_l: return key.repeat ? action_none : action_loop;
    default: return action_none;
    }
}

// The sound follows every change of the transport.
static void apply(t_studio *s, t_action action)
{
    bool was_playing = s->transport.playing;
    bool jumped = transport_apply(&s->transport, action);
    if (s->transport.playing != was_playing) {
        if (s->transport.playing)
            playback_play(&s->playback, s->transport.time);
        else
            transport_seek(&s->transport, playback_pause(&s->playback, s->transport.time));
    } else if (jumped) {
        playback_seek(&s->playback, s->transport.time);
    }
    s->dirty = true;
}

static void scrub_to(t_studio *s, int x, int y)
{
    int window_w = 1, window_h = 1;
    SDL_GetWindowSize(s->window, &window_w, &window_h);
    // Mouse positions are in window units, the strip in drawable pixels.
    int px = x * s->width / (window_w > 0 ? window_w : 1), py = y * s->height / (window_h > 0 ? window_h : 1);
    double t = 0.0;
    if (!timeline_time_at(px, py, s->width, s->height, &t))
        return;
    transport_seek(&s->transport, t);
    playback_seek(&s->playback, s->transport.time);
    s->dirty = true;
}

static void handle_key(t_studio *s, const SDL_KeyboardEvent &key)
{
    switch (key.keysym.sym) {
    case SDLK_ESCAPE:
    case SDLK_q: s->quit = true; return;
    case SDLK_h:
        if (!key.repeat)
            s->show_hud = !s->show_hud;
        s->dirty = true;
        return;
    case SDLK_F12:
        if (!key.repeat)
            take_screenshot(s);
        return;
    default: apply(s, action_for_key(key)); return;
    }
}

static void handle_event(t_studio *s, const SDL_Event &event)
{
    switch (event.type) {
    case SDL_QUIT: s->quit = true; break;
    case SDL_KEYDOWN: handle_key(s, event.key); break;
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_LEFT) {
            s->dragging = true;
            scrub_to(s, event.button.x, event.button.y);
        }
        break;
    case SDL_MOUSEMOTION:
        if (s->dragging)
            scrub_to(s, event.motion.x, event.motion.y);
        break;
    case SDL_MOUSEBUTTONUP: s->dragging = false; break;
    case SDL_WINDOWEVENT: s->dirty = true; break;
    default: break;
    }
}

static void reload_changed_files(t_studio *s)
{
    unsigned changed = watcher_poll(&s->watcher);
    bool noted = s->watcher.note != nullptr;
    if (noted) {
        printf("tessary-studio: %s\n", s->watcher.note);
        set_status(s, s->watcher.note);
        s->watcher.note = nullptr;
    }
    std::string error;
    if (changed & watched_shader) {
        if (picture_load_shader(&s->picture, data_path(*s, SHADER_FILE)))
            printf("tessary-studio: reloaded %s\n", SHADER_FILE);
        s->dirty = true;
    }
    if (changed & watched_atlas) {
        if (picture_load_atlas(&s->picture, data_path(*s, ATLAS_FILE), &error))
            printf("tessary-studio: reloaded %s\n", ATLAS_FILE);
        else
            fail_line(error + "; the previous atlas stays");
        s->dirty = true;
    }
    if (changed & watched_music) {
        if (playback_reload(&s->playback, data_path(*s, MUSIC_FILE), &error))
            printf("tessary-studio: reloaded %s\n", MUSIC_FILE);
        else
            fail_line(error + "; the previous music stays");
    }
    if (changed != 0 || noted)
        fflush(stdout);
}

// The play head follows the sound; looping and the end of the show move it.
static void follow_clock(t_studio *s)
{
    if (!s->transport.playing)
        return;
    if (transport_follow(&s->transport, playback_time(&s->playback)))
        playback_seek(&s->playback, s->transport.time);
    if (!s->transport.playing)
        transport_seek(&s->transport, playback_pause(&s->playback, s->transport.time));
}

static double seconds_since(Uint64 then)
{
    return (double)(SDL_GetPerformanceCounter() - then) / (double)SDL_GetPerformanceFrequency();
}

static void count_frame(t_studio *s)
{
    s->frames++;
    double elapsed = seconds_since(s->rate_since);
    if (elapsed >= 0.5) {
        s->hud.fps = s->frames / elapsed;
        s->frames = 0;
        s->rate_since = SDL_GetPerformanceCounter();
    }
}

static void draw_frame(t_studio *s)
{
    int width = s->width, height = s->height;
    SDL_GL_GetDrawableSize(s->window, &s->width, &s->height);
    bool resized = s->width != width || s->height != height;
    draw_timer_begin(&s->timer);
    picture_draw(&s->picture, s->transport.time, s->width, s->height);
    draw_timer_end(&s->timer, s->transport.time);
    t_draw_sample sample;
    while (draw_timer_collect(&s->timer, false, &sample))
        s->hud.draw_ms = sample.ms;
    if (s->show_hud) {
        s->hud.time = s->transport.time;
        s->hud.playing = s->transport.playing;
        s->hud.looping = s->transport.looping;
        s->hud.clock = draw_clock_name(s->timer.clock);
        s->hud.status = s->status;
        compose_hud(&g_overlay, s->hud, s->width, s->height);
    }
    if (!s->picture.error_lines.empty())
        compose_error_panel(&g_overlay, s->picture.error_lines, s->width, s->height);
    overlay_draw(&g_overlay, s->width, s->height);
    std::string error;
    if (resized && take_gl_errors("drawing at " + std::to_string(s->width) + "x" + std::to_string(s->height), &error))
        fail_line(error);
    SDL_GL_SwapWindow(s->window);
    count_frame(s);
}

static void run_loop(t_studio *s)
{
    s->rate_since = s->last_frame = SDL_GetPerformanceCounter();
    while (!s->quit && stop_signal_caught() == 0) {
        SDL_Event event;
        while (SDL_PollEvent(&event))
            handle_event(s, event);
        reload_changed_files(s);
        follow_clock(s);
        if (s->transport.playing || s->dirty) {
            double wait = MIN_FRAME_SECONDS - seconds_since(s->last_frame);
            if (wait > 0.0)
                SDL_Delay((Uint32)(wait * 1000.0));
            s->last_frame = SDL_GetPerformanceCounter();
            s->dirty = false;
            draw_frame(s);
        } else {
            // Paused and unchanged: the picture on screen is already right.
            s->hud.fps = 0.0;
            SDL_WaitEventTimeout(nullptr, IDLE_WAIT_MS);
        }
    }
}

static void close_studio(t_studio *s)
{
    // The device's thread is joined here, before the music it reads goes.
    playback_close(&s->playback);
    watcher_close(&s->watcher);
    if (s->context != nullptr) {
        draw_timer_destroy(&s->timer);
        overlay_destroy(&g_overlay);
        picture_destroy(&s->picture);
        SDL_GL_DeleteContext(s->context);
    }
    if (s->window != nullptr)
        SDL_DestroyWindow(s->window);
    SDL_Quit();
}

static int run_studio(t_studio *s, const t_studio_options &opt)
{
    if (!check_run_time_files(s->data_dir) || !open_window(s, opt) || !load_picture(s))
        return exit_failed;
    std::string error;
    if (!watcher_open(&s->watcher, s->data_dir, &error))
        fail_line(error + "; changed files will not be reloaded");
    start_sound(s, opt);
    s->transport.time = opt.at;
    s->transport.playing = !opt.paused;
    if (s->transport.playing)
        playback_play(&s->playback, s->transport.time);
    run_loop(s);
    // Ctrl-C and the like end it as a quit does, with the shell's status for them.
    return stop_signal_caught() != 0 ? stop_signal_status(stop_signal_caught()) : exit_ok;
}

int main(int argc, char **argv)
{
    t_studio_options opt;
    std::string error;
    if (!parse_studio_options(argc, argv, &opt, &error)) {
        fail_line(error);
        return exit_usage;
    }
    if (opt.help) {
        fputs(studio_usage_text(), stdout);
        return exit_ok;
    }
    t_studio studio;
    studio.data_dir = opt.data_dir.empty() ? default_data_dir(TESSARY_STUDIO_DATA) : opt.data_dir;
    int status = run_studio(&studio, opt);
    close_studio(&studio);
    return status;
}
