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

// The frame times a run draws, in order. Still: the one time. Frames: A + i*STEP
// while it does not pass B (computed in double, so frame i equals the still at
// that time). Video: n / fps for n = 0 .. frames-1, frames = ceil(duration*fps).
std::vector<double> frame_times(const t_options &opt);

// Number of video frames: every n with n / fps < duration.
long video_frame_count(double duration, int fps);
