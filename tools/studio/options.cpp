#include "options.h"

#include "option_values.h"

#include "transport.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

static const char *const USAGE =
    "Usage: tessary-studio [--data DIR] [--at SECONDS] [--paused] [--size WxH] [--mute]\n"
    "A live preview of the tessary presentation: the picture of data/tessary.glsl\n"
    "with its soundtrack, reloaded whenever tessary.glsl, the atlas or music.wav\n"
    "change on disk. A shader that fails to compile leaves the last good picture\n"
    "running under a panel with the driver's log (also on standard error).\n"
    "\n"
    "Options:\n"
    "  --data DIR     directory with tessary.glsl, font_subset_bw_sdf.jpg and\n"
    "                 music.wav (default: the current directory if it holds them,\n"
    "                 else the data/ directory the program was built with)\n"
    "  --at SECONDS   start at this time (default 0)\n"
    "  --paused       start paused\n"
    "  --size WxH     window size (default 1280x720); the picture follows resizes\n"
    "  --mute         no sound: the picture runs on the wall clock\n"
    "  -h, --help     this text\n"
    "\n"
    "Keys:\n"
    "  Space                 pause / play\n"
    "  Left / Right          one bar (2 s) back / forward\n"
    "  Shift+Left / Right    one beat back / forward\n"
    "  Home                  back to 0\n"
    "  Page Up / Page Down   previous / next section\n"
    "  L                     loop the current section\n"
    "  H                     show / hide the HUD and the timeline strip\n"
    "  F12                   screenshot: tessary-T<seconds>.png in the working\n"
    "                        directory, 1920x1080, the same pixels as\n"
    "                        tessary-capture --still <seconds>\n"
    "  Escape, Q             quit (so does closing the window)\n"
    "Click or drag on the timeline strip to move the play head.\n"
    "\n"
    "Exit status: 0 quit, 1 failure (no display, no GL 3.2, a missing or broken\n"
    "run-time file at start), 2 bad command line, 128 + N ended by signal N\n"
    "(SIGINT, SIGTERM or SIGHUP; Ctrl-C gives 130).\n";

const char *studio_usage_text(void)
{
    return USAGE;
}

// A side of the window in pixels.
static bool side_fits(int value)
{
    return value >= 1 && value <= 16384;
}

bool parse_studio_options(int argc, char **argv, t_studio_options *opt, std::string *error)
{
    *opt = t_studio_options();
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        std::string name = arg, value;
        bool has_value = false;
        size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            has_value = true;
        }
        if (name == "-h" || name == "--help") {
            opt->help = true;
            return true;
        }
        if (name == "--paused" || name == "--mute") {
            if (has_value) {
                *error = name + " takes no value";
                return false;
            }
            (name == "--paused" ? opt->paused : opt->mute) = true;
            continue;
        }
        if (name != "--data" && name != "--at" && name != "--size") {
            *error = "unknown option " + arg + " (see --help)";
            return false;
        }
        if (!has_value) {
            if (i + 1 >= argc) {
                *error = name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (name == "--data") {
            if (value.empty()) {
                *error = "--data needs a directory";
                return false;
            }
            opt->data_dir = value;
        } else if (name == "--at") {
            if (!parse_number(value, &opt->at) || opt->at < 0.0 || opt->at > SHOW_END) {
                char limit[16];
                snprintf(limit, sizeof limit, "%g", SHOW_END);
                *error = "--at needs seconds from 0 to " + std::string(limit) + ", not '" + value + "'";
                return false;
            }
        } else if (!parse_size(value, &opt->width, &opt->height) || !side_fits(opt->width) || !side_fits(opt->height)) {
            *error = "--size needs WxH with each side 1..16384, e.g. 1280x720, not '" + value + "'";
            return false;
        }
    }
    return true;
}

bool holds_run_time_files(const std::string &dir)
{
    for (const char *name : {"tessary.glsl", "font_subset_bw_sdf.jpg", "music.wav"})
        if (access((dir + "/" + name).c_str(), R_OK) != 0)
            return false;
    return true;
}

std::string default_data_dir(const std::string &built_in)
{
    return holds_run_time_files(".") ? "." : built_in;
}
