#include "draw_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// Nearest-rank percentile of sorted values: the smallest value with at least
// p percent of the values at or below it.
static double nearest_rank(const std::vector<double> &sorted, double p)
{
    size_t rank = (size_t)std::ceil(p / 100.0 * (double)sorted.size());
    if (rank < 1)
        rank = 1;
    return sorted[rank - 1];
}

t_draw_summary summarize_draws(const std::vector<t_draw_sample> &samples)
{
    t_draw_summary s;
    s.frames = samples.size();
    if (samples.empty())
        return s;
    std::vector<double> ms;
    ms.reserve(samples.size());
    for (const t_draw_sample &d : samples) {
        ms.push_back(d.ms);
        if (d.ms > s.worst_ms || ms.size() == 1) {
            s.worst_ms = d.ms;
            s.worst_time = d.time;
        }
    }
    std::sort(ms.begin(), ms.end());
    size_t n = ms.size();
    s.median_ms = n % 2 ? ms[n / 2] : 0.5 * (ms[n / 2 - 1] + ms[n / 2]);
    s.p95_ms = nearest_rank(ms, 95.0);
    return s;
}

std::string format_summary(const t_draw_summary &s, const char *clock, const std::string &renderer)
{
    // Quotes in the renderer name would end the field early.
    std::string name = renderer;
    std::replace(name.begin(), name.end(), '"', '\'');
    char line[512];
    snprintf(line, sizeof line,
             "draw_ms median=%.3f p95=%.3f worst=%.3f worst_t=%.4f frames=%zu clock=%s renderer=\"", s.median_ms,
             s.p95_ms, s.worst_ms, s.worst_time, s.frames, clock);
    return line + name + "\"";
}

static std::string clock_text(double seconds)
{
    long s = (long)(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string format_progress(size_t done, size_t total, double elapsed_s)
{
    const int bar_width = 30;
    double fraction = total ? (double)done / (double)total : 1.0;
    int filled = (int)(fraction * bar_width);
    std::string bar(bar_width, '.');
    std::fill(bar.begin(), bar.begin() + filled, '#');
    double fps = elapsed_s > 0.0 ? (double)done / elapsed_s : 0.0;
    std::string eta = fps > 0.0 ? clock_text((double)(total - done) / fps) : "?";
    char line[160];
    snprintf(line, sizeof line, "[%s] %zu/%zu frames  %.1f fps  ETA %s", bar.c_str(), done, total, fps,
             eta.c_str());
    return line;
}
