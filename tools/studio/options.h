// Command line of tessary-studio.
#pragma once

#include <string>

struct t_studio_options {
    std::string data_dir; // empty: the default (see default_data_dir)
    double at = 0.0;
    bool paused = false;
    int width = 1280, height = 720;
    bool mute = false;
    bool help = false;
};

// Fills `opt` from argv. On a bad command line returns false with a one-line
// message in `*error` naming the option at fault.
bool parse_studio_options(int argc, char **argv, t_studio_options *opt, std::string *error);

// The usage text that --help prints, keys included.
const char *studio_usage_text(void);

// The directory that holds the three run-time files: the current one if it
// does, else `built_in` (the source tree's data/ for a build-tree program).
std::string default_data_dir(const std::string &built_in);

// True when `dir` holds all three run-time files.
bool holds_run_time_files(const std::string &dir);
