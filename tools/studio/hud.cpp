#include "hud.h"

#include "transport.h"

#include <cstdio>

static const t_colour TEXT = {1.0f, 1.0f, 1.0f, 1.0f};
static const t_colour DIM_TEXT = {0.8f, 0.8f, 0.85f, 1.0f};
static const t_colour SHADE = {0.0f, 0.0f, 0.0f, 0.55f};
static const t_colour SECTION_A = {0.16f, 0.22f, 0.34f, 0.9f};
static const t_colour SECTION_B = {0.24f, 0.32f, 0.46f, 0.9f};
static const t_colour AFTER_SONG = {0.08f, 0.08f, 0.1f, 0.9f};
static const t_colour LOOPED = {0.85f, 0.6f, 0.15f, 0.9f};
static const t_colour PLAY_HEAD = {1.0f, 0.25f, 0.2f, 1.0f};
static const t_colour PANEL = {0.12f, 0.0f, 0.0f, 0.88f};
static const t_colour PANEL_TITLE = {1.0f, 0.55f, 0.5f, 1.0f};

static const float HUD_SIZE = 20.0f;
static const float HELP_SIZE = 15.0f;
static const float MARGIN = 10.0f;

static const char *const HELP =
    "Space play/pause   Left/Right bar   Shift+Left/Right beat   Home start   "
    "PgUp/PgDn section   L loop   H HUD   F12 screenshot   Esc/Q quit";

static float strip_x(double t, int width)
{
    return (float)(t / SHOW_END * width);
}

static void compose_timeline(t_overlay *overlay, const t_hud &hud, int width, int height)
{
    float top = (float)(height - TIMELINE_HEIGHT), bottom = (float)height;
    int current = section_at(hud.time);
    for (int i = 0; i < section_count(); i++) {
        const t_section &s = section(i);
        float x0 = strip_x(s.start, width), x1 = strip_x(s.end, width);
        t_colour fill = hud.looping && i == current ? LOOPED : i % 2 ? SECTION_B : SECTION_A;
        overlay_box(overlay, x0, top, x1 - 1.0f, bottom, fill);
        overlay_text(overlay, s.name, x0 + 6.0f, bottom - 12.0f, HELP_SIZE, TEXT, x1 - 4.0f);
    }
    overlay_box(overlay, strip_x(section(section_count() - 1).end, width), top, (float)width, bottom, AFTER_SONG);
    float x = strip_x(hud.time, width);
    overlay_box(overlay, x - 1.5f, top - 6.0f, x + 1.5f, bottom, PLAY_HEAD);
}

void compose_hud(t_overlay *overlay, const t_hud &hud, int width, int height)
{
    char bar_beat[32], draw[32], sound[32], line[256];
    bar_beat_text(hud.time, bar_beat, sizeof bar_beat);
    if (hud.draw_ms >= 0.0)
        snprintf(draw, sizeof draw, "%.1f ms", hud.draw_ms);
    else
        snprintf(draw, sizeof draw, "- ms");
    if (hud.latency_ms >= 0.0)
        snprintf(sound, sizeof sound, "audio %.0f ms", hud.latency_ms);
    else
        snprintf(sound, sizeof sound, "no sound");
    snprintf(line, sizeof line, "T %.3f   bar %s   %s   %.1f fps   GPU %s (%s)   %s   %s%s   %s", hud.time, bar_beat,
             section(section_at(hud.time)).name, hud.fps, draw, hud.clock, sound,
             hud.playing ? "playing" : "paused", hud.looping ? "   loop" : "", hud.status);

    float line_height = HUD_SIZE * 1.3f;
    overlay_box(overlay, 0.0f, 0.0f, (float)width, line_height + HELP_SIZE * 1.3f + MARGIN, SHADE);
    overlay_text(overlay, line, MARGIN, MARGIN + HUD_SIZE * 0.9f, HUD_SIZE, TEXT, (float)width - MARGIN);
    overlay_text(overlay, HELP, MARGIN, MARGIN + line_height + HELP_SIZE * 0.9f, HELP_SIZE, DIM_TEXT,
                 (float)width - MARGIN);
    compose_timeline(overlay, hud, width, height);
}

void compose_error_panel(t_overlay *overlay, const std::vector<std::string> &lines, int width, int height)
{
    const float title_size = 24.0f, size = 19.0f, step = size * 1.35f;
    float x0 = 24.0f, x1 = (float)width - 24.0f, y0 = 80.0f;
    // As many lines as fit above the timeline strip.
    int room = (int)(((float)height - TIMELINE_HEIGHT - 24.0f - y0 - title_size * 1.6f) / step);
    int shown = (int)lines.size() < room ? (int)lines.size() : room;
    if (shown < 0)
        shown = 0;
    float y1 = y0 + title_size * 1.6f + (float)shown * step + 12.0f;
    overlay_box(overlay, x0, y0, x1, y1, PANEL);
    float y = y0 + title_size * 1.2f;
    overlay_text(overlay, "Shader error - showing the last good picture", x0 + 14.0f, y, title_size, PANEL_TITLE,
                 x1 - 14.0f);
    y += title_size * 0.4f;
    for (int i = 0; i < shown; i++) {
        y += step;
        overlay_text(overlay, lines[(size_t)i].c_str(), x0 + 14.0f, y, size, TEXT, x1 - 14.0f);
    }
}

bool timeline_time_at(int x, int y, int width, int height, double *t)
{
    if (y < height - TIMELINE_HEIGHT || y >= height || width <= 0)
        return false;
    *t = (double)x / width * SHOW_END;
    return true;
}
