#include "options.h"

#include "option_values.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Where the data directory lies relative to the installed tool's directory.
#ifndef TESSARY_DATA_FROM_BIN
#define TESSARY_DATA_FROM_BIN "../share/tessary"
#endif

static const char *const USAGE =
    "Usage: tessary-capture MODE [options]\n"
    "Renders the tessary presentation offscreen (EGL, no display) with the demo's\n"
    "shader, quad and atlas. Frame time T comes from the frame number, never the clock.\n"
    "\n"
    "Modes (exactly one):\n"
    "  --still T             one PNG (8-bit RGB) of time T seconds; needs -o FILE.png\n"
    "  --frames A:B:STEP     PNGs of times A, A+STEP, ... up to and including B;\n"
    "                        needs -o DIR (created if missing). File i is\n"
    "                        DIR/frame_NNNNN.png (i zero-padded to 5 digits) and shows\n"
    "                        T = A + i*STEP, computed in double like --still's T\n"
    "                        (at most 1000000 frames)\n"
    "  --video               an H.264 MP4 with the soundtrack; needs -o FILE.mp4.\n"
    "                        Frames n = 0, 1, ... while n/fps < duration (so 130 s at\n"
    "                        60 fps is n = 0..7799, 7800 frames), T = n/fps\n"
    "\n"
    "Options:\n"
    "  -o, --output PATH     output file (--still, --video) or directory (--frames)\n"
    "  --size WxH            render size in pixels (default 1920x1080); the shader's\n"
    "                        u_res carries it. --video needs even numbers (yuv420p)\n"
    "  --fps N               video frame rate, whole frames per second (default 60)\n"
    "  --duration S          video length in seconds (default 130; at most 1000000\n"
    "                        frames in all)\n"
    "  --crf N               x264 quality, 0 (lossless) to 51 (default 18)\n"
    "  --preset NAME         x264 preset, ultrafast .. placebo (default medium)\n"
    "  --data DIR            directory with tessary.glsl, font_subset_bw_sdf.jpg and\n"
    "                        (for --video) music.wav (default: the installed show,\n"
    "                        " TESSARY_DATA_FROM_BIN " beside this tool, when it holds\n"
    "                        all three files; otherwise the current directory)\n"
    "  --egl auto|device|surfaceless\n"
    "                        EGL platform: auto tries the device platform (a GPU)\n"
    "                        first, then Mesa's surfaceless one (default auto)\n"
    "  --time-only           render and time the frames of the mode, write nothing\n"
    "                        (no -o, no ffmpeg, no music.wav needed)\n"
    "  -q, --quiet           no progress bar\n"
    "  -h, --help            this text\n"
    "  --version             the tessary version this tool belongs to\n"
    "\n"
    "Video: raw RGB frames are piped to ffmpeg (libx264, yuv420p, +faststart) and\n"
    "muxed with music.wav as AAC; audio shorter than the picture is padded with\n"
    "silence, longer audio is cut at the picture's end.\n"
    "\n"
    "Times are seconds from 0 to 86400 (T reaches the shader as a 32-bit float).\n"
    "Files are written as NAME.partial-PID beside NAME and renamed when complete.\n"
    "\n"
    "At the end a timing line is printed on standard output: each frame's clear and\n"
    "draw, timed by GL timer queries on a GPU (clock=gpu) or, on a software\n"
    "rasterizer or without queries, finished and timed by the wall clock (clock=wall):\n"
    "  draw_ms median=M p95=P worst=W worst_t=T frames=N clock=C renderer=\"NAME\"\n"
    "Exit status: 0 done, 1 failure, 2 bad command line, 130 interrupted (Ctrl-C,\n"
    "kill or a closed terminal; the partial output file is removed).\n";

const char *usage_text(void)
{
    return USAGE;
}

static bool parse_range(const std::string &text, double *first, double *last, double *step)
{
    size_t a = text.find(':');
    if (a == std::string::npos)
        return false;
    size_t b = text.find(':', a + 1);
    if (b == std::string::npos)
        return false;
    return parse_number(text.substr(0, a), first) && parse_number(text.substr(a + 1, b - a - 1), last) &&
           parse_number(text.substr(b + 1), step);
}

static bool known_preset(const std::string &name)
{
    static const char *const presets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                          "medium",    "slow",      "slower",   "veryslow", "placebo"};
    for (const char *p : presets)
        if (name == p)
            return true;
    return false;
}

static bool set_mode(t_options *opt, t_mode mode, const std::string &name, std::string *error)
{
    if (opt->mode != mode_none) {
        *error = "only one of --still, --frames, --video may be given (" + name + " is a second)";
        return false;
    }
    opt->mode = mode;
    return true;
}

// The count in double, so a range too long for a long is still seen as too long.
static double sequence_length(double first, double last, double step)
{
    // B counts when A + i*STEP lands on it up to rounding (0:0.3:0.1 has 4 frames).
    return std::floor((last - first) / step + 1e-9) + 1.0;
}

static std::string seconds_text(double seconds)
{
    char text[32];
    snprintf(text, sizeof text, "%g", seconds);
    return text;
}

static std::string count_text(double count)
{
    char text[32];
    snprintf(text, sizeof text, "%.0f", count);
    return text;
}

// Checks that need every option: combinations and ranges.
static bool check_options(const t_options &opt, std::string *error)
{
    if (opt.mode == mode_none) {
        *error = "no mode given: use --still T, --frames A:B:STEP or --video (see --help)";
        return false;
    }
    if (opt.width < 1 || opt.height < 1 || opt.width > 16384 || opt.height > 16384) {
        *error = "--size must be WxH with each side 1..16384";
        return false;
    }
    if (opt.mode == mode_video && !opt.time_only && (opt.width % 2 != 0 || opt.height % 2 != 0)) {
        *error = "--size must be even in both directions for --video (yuv420p)";
        return false;
    }
    if (opt.fps < 1 || opt.fps > 1000) {
        *error = "--fps must be a whole number 1..1000";
        return false;
    }
    if (!(opt.duration > 0.0) || opt.duration > MAX_TIME) {
        *error = "--duration must be more than 0 and at most 86400 seconds";
        return false;
    }
    if (opt.crf < 0 || opt.crf > 51) {
        *error = "--crf must be 0..51";
        return false;
    }
    if (!known_preset(opt.preset)) {
        *error = "--preset must be one of ultrafast superfast veryfast faster fast medium slow "
                 "slower veryslow placebo";
        return false;
    }
    if (opt.mode == mode_frames) {
        if (!(opt.frames_step > 0.0)) {
            *error = "--frames STEP must be more than 0";
            return false;
        }
        if (opt.frames_last < opt.frames_first) {
            *error = "--frames B must not be less than A";
            return false;
        }
        if (opt.frames_last > MAX_TIME) {
            *error = "--frames times must be at most " + seconds_text(MAX_TIME) + " s (the shader's T is a float)";
            return false;
        }
        // Written so that an infinite or NaN length is refused too.
        double count = sequence_length(opt.frames_first, opt.frames_last, opt.frames_step);
        if (!(count <= (double)MAX_FRAMES)) {
            *error = "--frames asks for " + count_text(count) + " frames, more than " + count_text(MAX_FRAMES);
            return false;
        }
    }
    if (opt.mode == mode_still && opt.still_time > MAX_TIME) {
        *error = "--still time must be at most " + seconds_text(MAX_TIME) + " s (the shader's T is a float)";
        return false;
    }
    if (opt.mode == mode_video && video_frame_count(opt.duration, opt.fps) > MAX_FRAMES) {
        *error = "--video asks for " + count_text((double)video_frame_count(opt.duration, opt.fps)) +
                 " frames (--duration times --fps), more than " + count_text(MAX_FRAMES);
        return false;
    }
    if (opt.time_only && !opt.output.empty()) {
        *error = "--time-only writes nothing: drop -o";
        return false;
    }
    if (!opt.time_only && opt.output.empty()) {
        *error = "an output path is needed: -o PATH (or --time-only)";
        return false;
    }
    return true;
}

bool parse_options(int argc, char **argv, t_options *opt, std::string *error)
{
    *opt = t_options();
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        std::string name = arg, value;
        bool has_inline_value = false;
        // --name=value and --name value are both accepted.
        size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            has_inline_value = true;
        }

        if (name == "-h" || name == "--help") {
            opt->help = true;
            return true;
        }
        if (name == "--version") {
            opt->version = true;
            return true;
        }
        if (name == "--video" || name == "--time-only" || name == "-q" || name == "--quiet") {
            if (has_inline_value) {
                *error = name + " takes no value";
                return false;
            }
            if (name == "--video") {
                if (!set_mode(opt, mode_video, name, error))
                    return false;
            } else if (name == "--time-only") {
                opt->time_only = true;
            } else {
                opt->quiet = true;
            }
            continue;
        }

        static const char *const with_value[] = {"--still", "--frames", "-o",     "--output", "--size", "--fps",
                                                 "--duration", "--crf", "--preset", "--data", "--egl"};
        bool takes_value = false;
        for (const char *w : with_value)
            if (name == w)
                takes_value = true;
        if (!takes_value) {
            *error = "unknown option " + arg + " (see --help)";
            return false;
        }
        if (!has_inline_value) {
            if (i + 1 >= argc) {
                *error = name + " needs a value";
                return false;
            }
            value = argv[++i];
        }

        bool ok = true;
        if (name == "--still") {
            ok = set_mode(opt, mode_still, name, error);
            if (ok && !(parse_number(value, &opt->still_time) && opt->still_time >= 0.0)) {
                *error = "--still needs a time in seconds, finite and 0 or more, not '" + value + "'";
                return false;
            }
        } else if (name == "--frames") {
            ok = set_mode(opt, mode_frames, name, error);
            if (ok && !(parse_range(value, &opt->frames_first, &opt->frames_last, &opt->frames_step) &&
                        opt->frames_first >= 0.0)) {
                *error = "--frames needs A:B:STEP, finite numbers of seconds (A 0 or more), not '" + value + "'";
                return false;
            }
        } else if (name == "-o" || name == "--output") {
            if (value.empty()) {
                *error = name + " needs a non-empty path";
                return false;
            }
            opt->output = value;
        } else if (name == "--size") {
            if (!parse_size(value, &opt->width, &opt->height)) {
                *error = "--size needs WxH, e.g. 1920x1080, not '" + value + "'";
                return false;
            }
        } else if (name == "--fps") {
            if (!parse_whole(value, &opt->fps)) {
                *error = "--fps needs a whole number, not '" + value + "'";
                return false;
            }
        } else if (name == "--duration") {
            if (!parse_number(value, &opt->duration)) {
                *error = "--duration needs a finite number of seconds, not '" + value + "'";
                return false;
            }
        } else if (name == "--crf") {
            if (!parse_whole(value, &opt->crf)) {
                *error = "--crf needs a whole number, not '" + value + "'";
                return false;
            }
        } else if (name == "--preset") {
            opt->preset = value;
        } else if (name == "--data") {
            if (value.empty()) {
                *error = "--data needs a directory";
                return false;
            }
            opt->data_dir = value;
            opt->data_given = true;
        } else if (name == "--egl") {
            if (value == "auto")
                opt->egl = egl_auto;
            else if (value == "surfaceless")
                opt->egl = egl_surfaceless;
            else if (value == "device")
                opt->egl = egl_device;
            else {
                *error = "--egl must be auto, device or surfaceless, not '" + value + "'";
                return false;
            }
        }
        if (!ok)
            return false;
    }
    return check_options(*opt, error);
}

static bool regular_file(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string installed_data_dir(const std::string &exe_path)
{
    size_t slash = exe_path.find_last_of('/');
    if (slash == std::string::npos)
        return "";
    std::string dir = exe_path.substr(0, slash + 1) + TESSARY_DATA_FROM_BIN;
    for (const char *name : {"tessary.glsl", "font_subset_bw_sdf.jpg", "music.wav"})
        if (!regular_file(dir + "/" + name))
            return "";
    char *resolved = realpath(dir.c_str(), nullptr);
    if (resolved == nullptr)
        return "";
    std::string absolute = resolved;
    free(resolved);
    return absolute;
}

long video_frame_count(double duration, int fps)
{
    // Smallest count with count/fps >= duration; the tolerance keeps 2.0 s at
    // 30 fps from becoming 61 frames through rounding.
    double exact = duration * fps;
    long count = (long)std::ceil(exact - 1e-9 * std::fmax(1.0, exact));
    return count < 1 ? 1 : count;
}

long frame_count(const t_options &opt)
{
    if (opt.mode == mode_still)
        return 1;
    if (opt.mode == mode_frames)
        return (long)sequence_length(opt.frames_first, opt.frames_last, opt.frames_step);
    if (opt.mode == mode_video)
        return video_frame_count(opt.duration, opt.fps);
    return 0;
}

double frame_time(const t_options &opt, long i)
{
    if (opt.mode == mode_still)
        return opt.still_time;
    if (opt.mode == mode_frames)
        return opt.frames_first + (double)i * opt.frames_step;
    return (double)i / (double)opt.fps;
}
