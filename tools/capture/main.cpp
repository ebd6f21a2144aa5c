// tessary-capture: renders the presentation offscreen, frame by frame, with T
// taken from the frame number, into PNG stills, PNG sequences or an MP4.
#include "draw_stats.h"
#include "egl_context.h"
#include "ffmpeg_pipe.h"
#include "font_atlas.h"
#include "gl_errors.h"
#include "offscreen.h"
#include "options.h"
#include "png_file.h"
#include "scene.h"
#include "shader_log.h"
#include "stop_signal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>

static const char *const SHADER_FILE = "tessary.glsl";
static const char *const MUSIC_FILE = "music.wav";

enum t_exit {
    exit_ok = 0,
    exit_failed = 1,
    exit_usage = 2,
    exit_interrupted = 130,
};

// The demo's stop signals; their handler does not restart a write blocked
// on a full ffmpeg pipe, so the loop sees the signal at once.
static void install_signal_handlers(void)
{
    catch_stop_signals();
    // A dead ffmpeg shows up as a failed write, reported with its own messages.
    signal(SIGPIPE, SIG_IGN);
}

static void fail_line(const std::string &message)
{
    fprintf(stderr, "tessary-capture: %s\n", message.c_str());
}

static std::string absolute_path(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return path;
    return std::string(cwd) + "/" + path;
}

static std::string parent_dir(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The output file's directory must exist and take new files; the file itself,
// if there, must not be a directory. Checked before any rendering starts.
static bool check_output_file(const std::string &path, std::string *error)
{
    std::string dir = parent_dir(path);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = "cannot write " + path + ": directory " + dir + " does not exist";
        return false;
    }
    if (access(dir.c_str(), W_OK | X_OK) != 0) {
        *error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            *error = "cannot write " + path + ": it is a directory";
            return false;
        }
        if (access(path.c_str(), W_OK) != 0) {
            *error = "cannot write " + path + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

static bool prepare_output_dir(const std::string &dir, std::string *error)
{
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        *error = "cannot create output directory " + dir + ": " + strerror(errno);
        return false;
    }
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = "cannot write into " + dir + ": not a directory";
        return false;
    }
    if (access(dir.c_str(), W_OK | X_OK) != 0) {
        *error = "cannot write into " + dir + ": " + strerror(errno);
        return false;
    }
    return true;
}

static bool check_input_file(const std::string &data_dir, const char *name)
{
    struct stat st;
    if (stat(name, &st) == 0 && S_ISREG(st.st_mode) && access(name, R_OK) == 0)
        return true;
    const char *why = errno == 0 || stat(name, &st) == 0 ? "not a readable file" : strerror(errno);
    fail_line("missing run-time file " + std::string(name) + " in " + data_dir + " (" + why + ")");
    return false;
}

// Prints the log, then quotes each shader line it names.
static void print_log_with_source(const std::string &log, const std::string &source)
{
    fputs(log_with_source(log, source, SHADER_FILE).c_str(), stderr);
}

// build_scene says only which step failed; the author needs the driver's words.
static void report_build_failure(const t_scene &scene, t_build_result result)
{
    switch (result) {
    case build_vertex_failed:
        fail_line("the vertex shader failed to compile:");
        print_log_with_source(scene_build_log(&scene, result), vertex_shader);
        break;
    case build_no_fragment_file: fail_line(std::string("cannot read ") + SHADER_FILE); break;
    case build_fragment_failed: {
        std::ifstream file(SHADER_FILE);
        fail_line(std::string(SHADER_FILE) + " failed to compile:");
        print_log_with_source(scene_build_log(&scene, result), read_shader_text(file));
        break;
    }
    case build_link_failed: {
        fail_line("the shader program failed to link:");
        std::string log = scene_build_log(&scene, result);
        fprintf(stderr, "%s%s", log.c_str(), !log.empty() && log.back() == '\n' ? "" : "\n");
        break;
    }
    case build_ok: break;
    }
}

enum t_emit {
    emit_ok,
    emit_failed,
    emit_interrupted,
};

struct t_run {
    t_options opt;
    std::string output;  // absolute
    std::string partial; // where the video is written until it is complete
    long count = 0;      // frames to draw
    t_offscreen off;
    t_scene scene = {};
    t_ffmpeg ffmpeg;
    bool ffmpeg_running = false;
};

static std::string frame_file(const std::string &dir, size_t index)
{
    char name[32];
    snprintf(name, sizeof name, "/frame_%05zu.png", index);
    return dir + name;
}

// Hands frame `index` (top-down RGB) to its destination.
static t_emit emit_frame(t_run *run, size_t index, const unsigned char *rgb)
{
    std::string error;
    if (rgb == nullptr) {
        fail_line("reading the frame back from the GL failed");
        return emit_failed;
    }
    if (run->opt.mode == mode_video) {
        size_t bytes = (size_t)run->opt.width * (size_t)run->opt.height * 3;
        if (ffmpeg_write(&run->ffmpeg, rgb, bytes, &error))
            return emit_ok;
        if (stop_signal_caught())
            return emit_interrupted;
        // The reason is in ffmpeg's own output, which finishing collects.
        std::string finish_error;
        ffmpeg_finish(&run->ffmpeg, &finish_error);
        run->ffmpeg_running = false;
        fail_line(error);
        if (!finish_error.empty())
            fprintf(stderr, "%s\n", finish_error.c_str());
        return emit_failed;
    }
    std::string path = run->opt.mode == mode_still ? run->output : frame_file(run->output, index);
    if (!write_png_rgb(path, rgb, run->opt.width, run->opt.height, &error)) {
        fail_line(error);
        return emit_failed;
    }
    // Interrupted while the file was being written: it may be the one a viewer
    // would take for complete, so it goes.
    if (stop_signal_caught()) {
        unlink(path.c_str());
        return emit_interrupted;
    }
    return emit_ok;
}

static double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

static t_emit render_all(t_run *run)
{
    bool readback = !run->opt.time_only;
    bool progress = !run->opt.quiet && run->opt.mode != mode_still;
    size_t total = (size_t)run->count;
    auto start = std::chrono::steady_clock::now();
    double last_shown = -1.0;

    for (size_t i = 0; i < total; i++) {
        if (stop_signal_caught())
            return emit_interrupted;
        offscreen_draw(&run->off, run->scene, frame_time(run->opt, (long)i));
        if (readback) {
            // Frame i is copied into one buffer while frame i-1's copy is mapped.
            offscreen_start_read(&run->off, (int)(i & 1));
            if (i > 0) {
                t_emit e = emit_frame(run, i - 1, offscreen_finish_read(&run->off, (int)((i - 1) & 1)));
                if (e != emit_ok)
                    return e;
            }
        }
        double now = seconds_since(start);
        if (progress && (now - last_shown >= 0.25 || i + 1 == total)) {
            last_shown = now;
            fprintf(stderr, "\r%s  ", format_progress(i + 1, total, now).c_str());
            fflush(stderr);
        }
    }
    if (progress)
        fputc('\n', stderr);
    if (readback && total > 0) {
        if (stop_signal_caught())
            return emit_interrupted;
        return emit_frame(run, total - 1, offscreen_finish_read(&run->off, (int)((total - 1) & 1)));
    }
    return emit_ok;
}

static int capture(t_run *run)
{
    t_options &opt = run->opt;
    std::string error;

    if (!opt.time_only) {
        run->output = absolute_path(opt.output);
        bool ok = opt.mode == mode_frames ? prepare_output_dir(run->output, &error)
                                          : check_output_file(run->output, &error);
        if (!ok) {
            fail_line(error);
            return exit_failed;
        }
    }

    if (chdir(opt.data_dir.c_str()) != 0) {
        fail_line("cannot use data directory " + opt.data_dir + ": " + strerror(errno));
        return exit_failed;
    }
    if (!check_input_file(opt.data_dir, SHADER_FILE) || !check_input_file(opt.data_dir, ATLAS_FILE))
        return exit_failed;
    bool video_out = opt.mode == mode_video && !opt.time_only;
    if (video_out && !check_input_file(opt.data_dir, MUSIC_FILE))
        return exit_failed;

    std::string platform;
    if (!create_egl_context(opt.egl, &platform, &error)) {
        fail_line("no headless OpenGL 3.2 core context:");
        fprintf(stderr, "%s", error.c_str());
        return exit_failed;
    }
    std::string renderer = (const char *)glGetString(GL_RENDERER);

    if (!offscreen_create(&run->off, opt.width, opt.height, &error)) {
        fail_line(error);
        return exit_failed;
    }
    t_build_result built = build_scene(&run->scene, opt.width, opt.height);
    if (built != build_ok) {
        report_build_failure(run->scene, built);
        return exit_failed;
    }
    GLuint font_tex = 0;
    if (load_font_atlas(&font_tex) != atlas_loaded)
        return exit_failed;
    if (take_gl_errors("building the picture", &error)) {
        fail_line(error);
        return exit_failed;
    }

    run->count = frame_count(opt);
    run->off.samples.reserve((size_t)run->count);
    offscreen_warm_up(&run->off, run->scene, frame_time(opt, 0));
    fprintf(stderr, "tessary-capture: %ld frame%s at %dx%d on %s (EGL %s)\n", run->count,
            run->count == 1 ? "" : "s", opt.width, opt.height, renderer.c_str(), platform.c_str());

    if (video_out) {
        double seconds = (double)run->count / (double)opt.fps;
        std::string music = absolute_path(MUSIC_FILE);
        run->partial = partial_path(run->output);
        auto args = video_ffmpeg_args(opt.width, opt.height, opt.fps, seconds, opt.crf, opt.preset, music,
                                      run->partial);
        if (!ffmpeg_start(&run->ffmpeg, "ffmpeg", args, &error)) {
            fail_line(error);
            return exit_failed;
        }
        run->ffmpeg_running = true;
    }

    t_emit result = render_all(run);
    if (result == emit_ok && run->ffmpeg_running) {
        run->ffmpeg_running = false;
        if (!ffmpeg_finish(&run->ffmpeg, &error)) {
            fail_line(error);
            result = emit_failed;
        } else if (rename(run->partial.c_str(), run->output.c_str()) != 0) {
            fail_line("cannot move the finished video to " + run->output + ": " + strerror(errno));
            result = emit_failed;
        }
    }
    if (result != emit_ok) {
        if (run->ffmpeg_running)
            ffmpeg_kill(&run->ffmpeg);
        run->ffmpeg_running = false;
        if (video_out)
            unlink(run->partial.c_str());
        if (result == emit_interrupted) {
            fputc('\n', stderr);
            fail_line(video_out ? "interrupted; removed the unfinished " + run->partial : "interrupted");
            return exit_interrupted;
        }
        return exit_failed;
    }

    offscreen_drain_queries(&run->off);
    printf("%s\n", format_summary(summarize_draws(run->off.samples), draw_clock_name(run->off.timer.clock), renderer)
                       .c_str());
    fflush(stdout);
    offscreen_destroy(&run->off);
    return exit_ok;
}

// The path of this executable, symbolic links resolved, so a tool reached
// through a link still finds the tree it was installed in.
static std::string own_executable(void)
{
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "";
    path[length] = '\0';
    return path;
}

int main(int argc, char **argv)
{
    t_run run;
    std::string error;
    if (!parse_options(argc, argv, &run.opt, &error)) {
        fail_line(error);
        return exit_usage;
    }
    if (run.opt.help) {
        fputs(usage_text(), stdout);
        return exit_ok;
    }
    if (run.opt.version) {
        printf("tessary-capture %s\n", TESSARY_VERSION);
        return exit_ok;
    }
    if (!run.opt.data_given) {
        std::string installed = installed_data_dir(own_executable());
        if (!installed.empty())
            run.opt.data_dir = installed;
    }
    install_signal_handlers();
    int status = capture(&run);
    destroy_egl_context();
    return status;
}
