// Command line of tessary-capture: what to render, where, and how.
#pragma once

#include <string>
#include <vector>

enum t_mode {
    mode_none,
    mode_still,
    mode_frames,
    mode_video,
};

enum t_egl_choice {
    egl_auto,
    egl_surfaceless,
    egl_device,
};

struct t_options {
    t_mode mode = mode_none;
    double still_time = 0.0;
    double frames_first = 0.0, frames_last = 0.0, frames_step = 0.0;
    std::string output;
    int width = 1920, height = 1080;
    int fps = 60;
    double duration = 130.0;
    int crf = 18;
    std::string preset = "medium";
    std::string data_dir = ".";
    bool data_given = false; // --data was on the command line
    t_egl_choice egl = egl_auto;
    bool time_only = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Fills `opt` from argv. On a bad command line returns false with a one-line
// message in `*error` naming the option at fault.
bool parse_options(int argc, char **argv, t_options *opt, std::string *error);

// The data directory of an installed tool: the one at the same place relative
// to the executable `exe_path` as in the install tree (bin/../share/tessary),
// made absolute. Empty unless it holds all three run-time files.
std::string installed_data_dir(const std::string &exe_path);

// The usage text that --help prints.
const char *usage_text(void);

// No run draws more frames than this, and no frame is later than MAX_TIME:
// T reaches the shader as a 32-bit float, which past about a day can no longer
// tell neighbouring 60 fps frames apart (and 1e300 s would be infinite there).
const long MAX_FRAMES = 1000000;
const double MAX_TIME = 86400.0;

// How many frames a run draws, fixed before the first one. Still: 1. Frames:
// every i with A + i*STEP not past B (B counts when it is hit up to rounding).
// Video: every n with n / fps < duration.
long frame_count(const t_options &opt);

// T of frame i, 0 <= i < frame_count: the still's time, A + i*STEP (computed
// in double, so frame i equals the still at that time) or n / fps.
double frame_time(const t_options &opt, long i);

// Number of video frames: every n with n / fps < duration.
long video_frame_count(double duration, int fps);
