// What the studio draws over the picture: the HUD (time, bar:beat, section,
// frame rate, draw time, audio latency, the keys), the timeline strip along
// the bottom, and the panel with a failed shader's log.
#pragma once

#include "overlay.h"

#include <string>
#include <vector>

struct t_hud {
    double time = 0.0;
    bool playing = false, looping = false;
    double fps = 0.0;
    double draw_ms = -1.0;      // the last frame's, -1 before the first result
    const char *clock = "gpu";  // how draw_ms was taken
    double latency_ms = -1.0;   // -1: no sound
    const char *status = "";    // a short note, e.g. the last screenshot's name
};

// The strip's height in pixels.
const int TIMELINE_HEIGHT = 36;

// The HUD and the strip, for a window of width x height pixels.
void compose_hud(t_overlay *overlay, const t_hud &hud, int width, int height);

// The panel: a title and the log's first lines.
void compose_error_panel(t_overlay *overlay, const std::vector<std::string> &lines, int width, int height);

// The time under pixel x on the strip; false when (x, y) is not on it.
bool timeline_time_at(int x, int y, int width, int height, double *t);
