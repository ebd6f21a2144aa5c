// tessary-capture run as authors run it, on a test-made data directory: a
// shader whose colours are known functions of the pixel, the size and T, and
// a small patterned atlas.
#include "capture_harness.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

const char *const COORD_SHADER = R"(#version 130
in vec4 v_color;
uniform vec2 u_res;
uniform float T;
out vec4 frag_color;
void main() {
    frag_color = vec4(gl_FragCoord.x / u_res.x, gl_FragCoord.y / u_res.y, fract(T / 10.0), 1.0);
}
)";

// Top image row first on screen: v = 1 - y/height undoes the GL's bottom-up rows.
const char *const ATLAS_SHADER = R"(#version 130
in vec4 v_color;
uniform vec2 u_res;
uniform sampler2D font;
out vec4 frag_color;
void main() {
    vec2 uv = gl_FragCoord.xy / u_res;
    frag_color = vec4(texture(font, vec2(uv.x, 1.0 - uv.y)).rgb, 1.0);
}
)";

// Non-square and uneven in every channel, so swapped axes or flipped rows show.
t_image test_atlas(void)
{
    t_image atlas;
    atlas.width = 48;
    atlas.height = 32;
    for (int y = 0; y < atlas.height; y++)
        for (int x = 0; x < atlas.width; x++) {
            atlas.rgb.push_back((unsigned char)(x * 5));
            atlas.rgb.push_back((unsigned char)(y * 7));
            atlas.rgb.push_back((unsigned char)(x < 24 ? 40 : 200));
        }
    return atlas;
}

int channel_at(const t_image &image, int x, int y, int c)
{
    return image.rgb[((size_t)y * (size_t)image.width + (size_t)x) * 3 + (size_t)c];
}

int expected_byte(double value)
{
    return (int)std::lround(value * 255.0);
}

class Capture : public ::testing::Test {
protected:
    std::string dir, data, log;

    void SetUp() override
    {
        dir = make_temp_dir();
        ASSERT_FALSE(dir.empty());
        data = dir + "/data";
        ASSERT_EQ(mkdir(data.c_str(), 0755), 0);
        log = dir + "/log.txt";
        write_jpeg(data + "/font_subset_bw_sdf.jpg", test_atlas());
        write_text(data + "/tessary.glsl", COORD_SHADER);
    }
    void TearDown() override { remove_tree(dir); }

    t_result run(std::vector<std::string> args, const std::string &path_env = "")
    {
        args.insert(args.end(), {"--data", data, "-q"});
        return run_tool(args, log, path_env);
    }

    t_image render_still(const std::string &time, const std::string &size, const std::string &name)
    {
        t_image image;
        t_result r = run({"--still", time, "--size", size, "-o", dir + "/" + name});
        EXPECT_EQ(r.exit_code, 0) << r.output;
        EXPECT_TRUE(read_png(dir + "/" + name, &image)) << name;
        return image;
    }

    void make_music(double seconds)
    {
        int status = 0;
        std::ostringstream cmd;
        cmd << "sox -n -r 48000 -c 2 '" << data << "/music.wav' synth " << seconds << " sine 440 2>&1";
        std::string out = run_shell(cmd.str(), &status);
        ASSERT_EQ(status, 0) << "sox: " << out;
    }
};

TEST_F(Capture, StillFollowsPixelPositionSizeAndTime)
{
    const int width = 320, height = 180;
    const double t = 3.7;
    t_image image = render_still("3.7", "320x180", "still.png");
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    // Corners, edges and inner points; row 0 of the file is the top of the screen.
    const int xs[] = {0, 1, 100, 159, 318, 319};
    const int ys[] = {0, 1, 45, 90, 178, 179};
    for (int x : xs)
        for (int y : ys) {
            double gl_y = height - 1 - y;
            SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
            EXPECT_NEAR(channel_at(image, x, y, 0), expected_byte((x + 0.5) / width), 1);
            EXPECT_NEAR(channel_at(image, x, y, 1), expected_byte((gl_y + 0.5) / height), 1);
            EXPECT_NEAR(channel_at(image, x, y, 2), expected_byte(std::fmod((float)t / 10.0f, 1.0f)), 1);
        }
}

TEST_F(Capture, RendersRepeatAndSequencesMatchStills)
{
    t_image first = render_still("1.3", "160x90", "a.png");
    t_image second = render_still("1.3", "160x90", "b.png");
    EXPECT_EQ(first.rgb, second.rgb);

    // 0.5 + 3*0.4 is a hair above 1.7 in double: the last frame must still come.
    t_result r = run({"--frames", "0.5:1.7:0.4", "--size", "160x90", "-o", dir + "/seq"});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    std::vector<t_image> frames(4);
    for (int i = 0; i < 4; i++) {
        std::string path = dir + "/seq/frame_0000" + std::to_string(i) + ".png";
        ASSERT_TRUE(read_png(path, &frames[(size_t)i])) << path;
    }
    EXPECT_FALSE(file_exists(dir + "/seq/frame_00004.png"));
    EXPECT_EQ(frames[2].rgb, first.rgb) << "frame 2 of 0.5:1.7:0.4 differs from --still 1.3";
    EXPECT_NE(frames[1].rgb, frames[2].rgb) << "frames at different times look the same";
    t_image last = render_still("1.7", "160x90", "c.png");
    EXPECT_EQ(frames[3].rgb, last.rgb);
}

TEST_F(Capture, AtlasTexelsReachThePicture)
{
    write_text(data + "/tessary.glsl", ATLAS_SHADER);
    t_image atlas;
    ASSERT_TRUE(read_jpeg(data + "/font_subset_bw_sdf.jpg", &atlas));
    t_image image = render_still("0", "48x32", "atlas.png");
    ASSERT_EQ(image.width, atlas.width);
    ASSERT_EQ(image.height, atlas.height);
    int worst = 0;
    for (size_t i = 0; i < atlas.rgb.size(); i++)
        worst = std::max(worst, std::abs((int)image.rgb[i] - (int)atlas.rgb[i]));
    EXPECT_LE(worst, 1);
}

TEST_F(Capture, TimeOnlyWritesNothingAndReportsDrawTimes)
{
    t_result r = run({"--time-only", "--frames", "0:1:0.25", "--size", "64x36"});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    size_t at = r.output.rfind("draw_ms ");
    ASSERT_NE(at, std::string::npos) << r.output;
    double median = -1, p95 = -1, worst = -1, worst_t = -1;
    int frames = 0;
    ASSERT_EQ(sscanf(r.output.c_str() + at, "draw_ms median=%lf p95=%lf worst=%lf worst_t=%lf frames=%d", &median,
                     &p95, &worst, &worst_t, &frames),
              5)
        << r.output;
    EXPECT_EQ(frames, 5);
    EXPECT_GE(median, 0.0);
    EXPECT_LE(median, p95);
    EXPECT_LE(p95, worst);
    EXPECT_EQ(std::fmod(worst_t, 0.25), 0.0) << "worst_t is not one of the frame times";
    EXPECT_NE(r.output.find("renderer=\""), std::string::npos);
    // Only what the test put there: the data files and the log.
    int status = 0;
    std::string listing = run_shell("cd '" + dir + "' && find . -type f | sort", &status);
    EXPECT_EQ(listing, "./data/font_subset_bw_sdf.jpg\n./data/tessary.glsl\n./log.txt\n");
}

TEST_F(Capture, VideoIsH264WithSoundAtTheAskedRate)
{
    // Music shorter than the picture: padding, not cutting, must follow.
    make_music(1.0);
    std::string video = dir + "/clip.mp4";
    t_result r = run({"--video", "--duration", "2", "--fps", "30", "--size", "480x270", "--preset", "ultrafast",
                      "-o", video});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    int status = 0;
    std::string probe = run_shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                  "stream=codec_name,width,height,pix_fmt,r_frame_rate,nb_read_frames "
                                  "-of default=noprint_wrappers=1 '" + video + "'",
                                  &status);
    ASSERT_EQ(status, 0) << probe;
    EXPECT_NE(probe.find("codec_name=h264\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("width=480\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("height=270\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("pix_fmt=yuv420p\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("r_frame_rate=30/1\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_read_frames=60\n"), std::string::npos) << probe;

    std::string audio = run_shell("ffprobe -v error -select_streams a -show_entries stream=codec_type,duration "
                                  "-of default=noprint_wrappers=1 '" + video + "'",
                                  &status);
    ASSERT_NE(audio.find("codec_type=audio"), std::string::npos) << audio;
    size_t at = audio.find("duration=");
    ASSERT_NE(at, std::string::npos) << audio;
    EXPECT_NEAR(atof(audio.c_str() + at + 9), 2.0, 0.05) << "the audio was not padded to the picture";
}

// The names in `dir` that start with `prefix`.
std::vector<std::string> names_starting(const std::string &dir, const std::string &prefix)
{
    std::vector<std::string> found;
    for (const std::string &name : list_dir(dir))
        if (name.compare(0, prefix.size(), prefix) == 0)
            found.push_back(name);
    return found;
}

// Starts a video too long to finish during a test and waits until ffmpeg has
// written part of it under the temporary name.
pid_t start_long_video(const std::string &dir, const std::string &data, const std::string &log)
{
    pid_t pid = start_tool({"--video", "--size", "160x90", "--preset", "ultrafast", "--data", data, "-o",
                            dir + "/long.mp4"},
                           log);
    for (int i = 0; i < 300 && names_starting(dir, "long.mp4.partial-").empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return pid;
}

TEST_F(Capture, InterruptedVideoLeavesNoFile)
{
    make_music(1.0);
    pid_t pid = start_long_video(dir, data, log);
    ASSERT_GT(pid, 0);
    ASSERT_FALSE(names_starting(dir, "long.mp4.partial-").empty()) << "ffmpeg never started writing";
    kill(pid, SIGINT);
    t_result r = wait_tool(pid, log);
    EXPECT_EQ(r.exit_code, 130) << r.output;
    EXPECT_NE(r.output.find("interrupted"), std::string::npos) << r.output;
    EXPECT_EQ(names_starting(dir, "long.mp4"), std::vector<std::string>{}) << "a video file was left";
}

TEST_F(Capture, KilledVideoLeavesNoFinishedFileAndTakesFfmpegAlong)
{
    // Orphans become this process's children, so how ffmpeg ends can be seen.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    make_music(1.0);
    pid_t pid = start_long_video(dir, data, log);
    ASSERT_GT(pid, 0);
    std::vector<std::string> partial = names_starting(dir, "long.mp4.partial-");
    ASSERT_EQ(partial.size(), 1u) << "ffmpeg never started writing";
    EXPECT_EQ(partial[0], "long.mp4.partial-" + std::to_string(pid));
    std::vector<pid_t> children = child_pids(pid);
    ASSERT_EQ(children.size(), 1u) << "expected ffmpeg as the only child";

    kill(pid, SIGKILL);
    wait_tool(pid, log);
    pid_t ffmpeg = children[0];
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 100 && ended == 0; i++) {
        ended = waitpid(ffmpeg, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended == 0)
        kill(ffmpeg, SIGKILL);
    ASSERT_EQ(ended, ffmpeg) << "ffmpeg outlived the capture tool by 5 s";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "ffmpeg was not killed with the tool (it went on to close the file)";
    EXPECT_FALSE(file_exists(dir + "/long.mp4"));
    EXPECT_EQ(names_starting(dir, "long.mp4"), partial) << "only the unfinished file may be left";
}

// A loop whose cost depends on neither T nor the place much: every frame
// costs the same, well above the timer's resolution.
const char *const COSTLY_SHADER = R"(#version 130
uniform vec2 u_res;
out vec4 frag_color;
void main() {
    vec2 p = gl_FragCoord.xy / u_res;
    float v = p.x;
    for (int i = 0; i < 300; i++)
        v = fract(sin(v * 12.9898 + p.y * 78.233 + float(i)) * 43758.5453);
    frag_color = vec4(v, p, 1.0);
}
)";

double median_draw_ms(const t_result &r)
{
    size_t at = r.output.rfind("draw_ms ");
    double median = -1.0;
    if (at == std::string::npos || sscanf(r.output.c_str() + at, "draw_ms median=%lf", &median) != 1)
        ADD_FAILURE() << "no timing line: " << r.output;
    return median;
}

TEST_F(Capture, StillAndSequenceReportTheSameDrawTime)
{
    write_text(data + "/tessary.glsl", COSTLY_SHADER);
    // One rasterizer thread: on a busy machine two threads make a frame as
    // slow as the one that waited longest.
    setenv("LP_NUM_THREADS", "1", 1);
    std::vector<std::string> size = {"--size", "192x108", "--time-only"};
    // Other work on the machine only ever adds time, so the least of a few
    // runs is the cost; a round whose figures still disagree is tried again,
    // a timer that misses the draw never agrees.
    double still = 0.0, sequence = 0.0;
    for (int round = 0; round < 4; round++) {
        still = sequence = 1e9;
        for (int i = 0; i < 6; i++) {
            // A still is one frame against a sequence's median: it gets more tries.
            std::vector<std::string> args = {"--still", "2"};
            args.insert(args.end(), size.begin(), size.end());
            still = std::min(still, median_draw_ms(run(args)));
            if (i % 2)
                continue;
            args = {"--frames", "1:3:0.5"};
            args.insert(args.end(), size.begin(), size.end());
            sequence = std::min(sequence, median_draw_ms(run(args)));
        }
        if (std::fabs(still / sequence - 1.0) <= 0.2)
            break;
    }
    unsetenv("LP_NUM_THREADS");
    EXPECT_GT(sequence, 2.0) << "the test shader is too cheap to show anything";
    EXPECT_NEAR(still / sequence, 1.0, 0.2) << "still " << still << " ms, sequence " << sequence << " ms";
}

TEST_F(Capture, MissingRunTimeFilesAreNamed)
{
    make_music(1.0);
    const char *const files[] = {"tessary.glsl", "font_subset_bw_sdf.jpg", "music.wav"};
    for (const char *name : files) {
        SCOPED_TRACE(name);
        std::string kept = dir + "/kept";
        ASSERT_EQ(rename((data + "/" + name).c_str(), kept.c_str()), 0);
        t_result r = run({"--video", "--duration", "1", "--size", "64x36", "-o", dir + "/out.mp4"});
        EXPECT_NE(r.exit_code, 0);
        EXPECT_NE(r.output.find(std::string("missing run-time file ") + name), std::string::npos) << r.output;
        EXPECT_FALSE(file_exists(dir + "/out.mp4"));
        ASSERT_EQ(rename(kept.c_str(), (data + "/" + name).c_str()), 0);
    }
}

TEST_F(Capture, ShaderErrorsShowTheDriverLog)
{
    // Line 5 uses an undeclared name.
    write_text(data + "/tessary.glsl", "#version 130\n"
                                       "out vec4 frag_color;\n"
                                       "void main() {\n"
                                       "    float a = 1.0;\n"
                                       "    frag_color = vec4(a, undeclared_thing, 0.0, 1.0);\n"
                                       "}\n");
    t_result r = run({"--still", "1", "--size", "64x36", "-o", dir + "/x.png"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("tessary.glsl failed to compile"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("undeclared_thing"), std::string::npos) << "no driver log: " << r.output;
    EXPECT_NE(r.output.find("tessary.glsl:5:     frag_color = vec4(a, undeclared_thing"), std::string::npos)
        << "the failing line is not quoted: " << r.output;
    EXPECT_FALSE(file_exists(dir + "/x.png"));

    // Compiles on its own, but a program needs main().
    write_text(data + "/tessary.glsl", "#version 130\nout vec4 frag_color;\nvoid helper() { frag_color = vec4(1.0); }\n");
    r = run({"--still", "1", "--size", "64x36", "-o", dir + "/x.png"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("failed to link"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("main"), std::string::npos) << "no link log: " << r.output;
    EXPECT_FALSE(file_exists(dir + "/x.png"));
}

TEST_F(Capture, UnwritableOutputsAreRefused)
{
    struct t_case {
        std::vector<std::string> args;
        std::string message;
    };
    const t_case cases[] = {
        {{"--still", "1", "-o", dir + "/no/such/dir/x.png"}, "cannot write " + dir + "/no/such/dir/x.png"},
        {{"--still", "1", "-o", data}, "it is a directory"},
        // /proc takes no new files even for root, so this fails at the write itself.
        {{"--still", "1", "-o", "/proc/capture_test.png"}, "cannot write /proc/capture_test.png"},
        {{"--frames", "0:1:1", "-o", "/proc/capture_test_frames"}, "cannot create output directory"},
        {{"--video", "--duration", "1", "-o", dir + "/missing/v.mp4"}, "cannot write " + dir + "/missing/v.mp4"},
    };
    make_music(1.0);
    for (const t_case &c : cases) {
        SCOPED_TRACE(c.args[c.args.size() - 1]);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--size", "64x36"});
        t_result r = run(args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    }
}

TEST_F(Capture, FfmpegProblemsAreReported)
{
    make_music(1.0);
    std::string video = dir + "/v.mp4";
    std::vector<std::string> args = {"--video", "--duration", "1", "--size", "64x36", "-o", video};

    t_result r = run(args, "/nonexistent-bin");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("cannot run ffmpeg"), std::string::npos) << r.output;
    EXPECT_FALSE(file_exists(video));

    // A music file ffmpeg can't read: its own words must come through.
    write_text(data + "/music.wav", "not a wave file at all\n");
    r = run(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("ffmpeg failed with exit status"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("music.wav"), std::string::npos) << "ffmpeg's message is missing: " << r.output;
    EXPECT_FALSE(file_exists(video));
}

TEST_F(Capture, BadOptionsAreRejected)
{
    struct t_case {
        std::vector<std::string> args;
        std::string message;
    };
    std::string png = dir + "/x.png";
    const t_case cases[] = {
        {{"--still", "1"}, "-o PATH"},
        {{"-o", png}, "no mode given"},
        {{"--still", "-1", "-o", png}, "--still needs a time"},
        {{"--still", "1", "--video", "-o", png}, "only one of"},
        {{"--still", "1", "--size", "0x5", "-o", png}, "--size"},
        {{"--still", "1", "--size", "640", "-o", png}, "--size needs WxH"},
        {{"--video", "--size", "481x270", "-o", png}, "even"},
        {{"--video", "--fps", "abc", "-o", png}, "--fps needs a whole number"},
        {{"--video", "--fps", "0", "-o", png}, "--fps must be"},
        {{"--video", "--duration", "0", "-o", png}, "--duration must be"},
        {{"--video", "--crf", "52", "-o", png}, "--crf must be"},
        {{"--video", "--preset", "fastest", "-o", png}, "--preset must be"},
        {{"--frames", "5:1:1", "-o", png}, "--frames B must not be less than A"},
        {{"--frames", "0:1:0", "-o", png}, "--frames STEP"},
        {{"--frames", "0:1", "-o", png}, "--frames needs A:B:STEP"},
        {{"--still", "1", "--egl", "x11", "-o", png}, "--egl must be"},
        {{"--still", "1", "--bogus", "-o", png}, "unknown option --bogus"},
        {{"--still", "1", "--time-only", "-o", png}, "drop -o"},
        {{"--still", "1", "-o"}, "-o needs a value"},
        {{"--still", "inf", "-o", png}, "--still needs a time in seconds, finite"},
        {{"--frames", "nan:1:1", "-o", png}, "--frames needs A:B:STEP, finite numbers"},
        {{"--frames", "0:1e400:1", "-o", png}, "--frames needs A:B:STEP, finite numbers"},
        {{"--video", "--duration", "-nan", "-o", png}, "--duration needs a finite number"},
        {{"--frames", "1e300:1e300:1", "-o", png}, "--frames times must be at most 86400 s"},
        {{"--frames", "1e17:1e17:1", "-o", png}, "--frames times must be at most 86400 s"},
        {{"--still", "1e17", "-o", png}, "--still time must be at most 86400 s"},
        {{"--frames", "0:10000:0.01", "-o", png}, "--frames asks for 1000001 frames, more than 1000000"},
        {{"--video", "--duration", "20000", "-o", png}, "--video asks for 1200000 frames"},
    };
    for (const t_case &c : cases) {
        SCOPED_TRACE(c.message);
        t_result r = run_tool(c.args, log);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << "not one line: " << r.output;
    }
    EXPECT_FALSE(file_exists(png));
}

TEST_F(Capture, OutputsAppearOnlyWhenComplete)
{
    t_result r = run({"--still", "1", "--size", "64x36", "-o", dir + "/a.png"});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    r = run({"--frames", "0:1:0.5", "--size", "64x36", "-o", dir + "/seq"});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"a.png", "data", "log.txt", "seq"}));
    EXPECT_EQ(list_dir(dir + "/seq"),
              (std::vector<std::string>{"frame_00000.png", "frame_00001.png", "frame_00002.png"}));
}

} // namespace
