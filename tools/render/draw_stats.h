// Frame cost summary and the progress bar of long renders.
#pragma once

#include <string>
#include <vector>

struct t_draw_sample {
    double ms;   // time of the clear and draw (see draw_timer.h)
    double time; // the frame's T
};

struct t_draw_summary {
    double median_ms = 0.0, p95_ms = 0.0, worst_ms = 0.0, worst_time = 0.0;
    size_t frames = 0;
};

// Median and 95th percentile by nearest rank; the worst keeps its T (the
// earliest one when several frames tie).
t_draw_summary summarize_draws(const std::vector<t_draw_sample> &samples);

// The last line of a run, one key=value per field so scripts can pick it apart;
// `clock` names how the times were taken ("gpu" or "wall").
std::string format_summary(const t_draw_summary &summary, const char *clock, const std::string &renderer);

// One progress line (no line feed): bar, done/total, frames per second, ETA.
std::string format_progress(size_t done, size_t total, double elapsed_s);
