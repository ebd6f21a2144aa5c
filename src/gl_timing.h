// What the current GL context can tell about the time its drawing takes,
// for the demo's pace and the tools' timings alike.
#pragma once

// Renderers that rasterize on the CPU, where timer queries miss the work:
// it runs on the rasterizer's threads after the query has ended.
bool is_software_renderer(const char *renderer);

// GL_TIME_ELAPSED queries: core from GL 3.3, an extension before it.
bool has_timer_queries(void);
