// The capture tool's command line, frame clock, timing statistics and ffmpeg pipe.
#include "capture_harness.h"
#include "draw_stats.h"
#include "ffmpeg_pipe.h"
#include "options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool parse(std::vector<std::string> args, t_options *opt, std::string *error)
{
    args.insert(args.begin(), "tessary-capture");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return parse_options((int)args.size(), argv.data(), opt, error);
}

TEST(CaptureOptions, DefaultsAndBothValueForms)
{
    t_options opt;
    std::string error;
    ASSERT_TRUE(parse({"--video", "-o", "demo.mp4"}, &opt, &error)) << error;
    EXPECT_EQ(opt.mode, mode_video);
    EXPECT_EQ(opt.width, 1920);
    EXPECT_EQ(opt.height, 1080);
    EXPECT_EQ(opt.fps, 60);
    EXPECT_EQ(opt.duration, 130.0);
    EXPECT_EQ(opt.crf, 18);
    EXPECT_EQ(opt.preset, "medium");
    EXPECT_EQ(opt.data_dir, ".");
    EXPECT_EQ(opt.egl, egl_auto);

    ASSERT_TRUE(parse({"--frames=1:2:0.5", "--size=320x180", "--data=d", "--egl", "surfaceless", "--time-only"},
                      &opt, &error))
        << error;
    EXPECT_EQ(opt.mode, mode_frames);
    EXPECT_EQ(opt.frames_first, 1.0);
    EXPECT_EQ(opt.frames_last, 2.0);
    EXPECT_EQ(opt.frames_step, 0.5);
    EXPECT_EQ(opt.width, 320);
    EXPECT_EQ(opt.height, 180);
    EXPECT_EQ(opt.data_dir, "d");
    EXPECT_EQ(opt.egl, egl_surfaceless);
    EXPECT_TRUE(opt.time_only);

    // Odd sizes are fine when no video is encoded.
    EXPECT_TRUE(parse({"--video", "--time-only", "--size", "321x181"}, &opt, &error)) << error;
    EXPECT_TRUE(parse({"--still", "2", "--size", "321x181", "-o", "x.png"}, &opt, &error)) << error;
    // Trailing junk is not a number.
    EXPECT_FALSE(parse({"--still", "2s", "-o", "x.png"}, &opt, &error));
    EXPECT_FALSE(parse({"--video", "--fps", "30.5", "-o", "x.mp4"}, &opt, &error));
    EXPECT_FALSE(parse({"--video", "--duration", "nan", "-o", "x.mp4"}, &opt, &error));
}

TEST(CaptureOptions, HelpNamesEveryOption)
{
    const char *const names[] = {"--still", "--frames", "--video", "--output", "--size", "--fps", "--duration",
                                 "--crf", "--preset", "--data", "--egl", "--time-only", "--quiet", "--help",
                                 "--version"};
    std::string help = usage_text();
    for (const char *name : names)
        EXPECT_NE(help.find(name), std::string::npos) << name;
    t_options opt;
    std::string error;
    ASSERT_TRUE(parse({"--still", "1", "--help"}, &opt, &error));
    EXPECT_TRUE(opt.help);
    // --version, like --help, needs no mode and ignores the rest.
    ASSERT_TRUE(parse({"--version", "--bogus"}, &opt, &error)) << error;
    EXPECT_TRUE(opt.version);
    EXPECT_FALSE(opt.help);
}

TEST(CaptureOptions, InstalledDataDirectoryNeedsAllThreeFiles)
{
    std::string root = make_temp_dir();
    ASSERT_FALSE(root.empty());
    ASSERT_EQ(system(("mkdir -p '" + root + "/bin' '" + root + "/share/tessary'").c_str()), 0);
    std::string tool = root + "/bin/tessary-capture";
    std::string data = root + "/share/tessary";

    write_text(data + "/tessary.glsl", "x");
    write_text(data + "/font_subset_bw_sdf.jpg", "x");
    EXPECT_EQ(installed_data_dir(tool), "") << "music.wav is missing";
    write_text(data + "/music.wav", "x");
    EXPECT_EQ(installed_data_dir(tool), data);
    // A tool outside an install tree, or one without a directory part.
    EXPECT_EQ(installed_data_dir(data + "/tessary-capture"), "");
    EXPECT_EQ(installed_data_dir("tessary-capture"), "");

    // --data on the command line is marked, so it wins over the installed show.
    t_options opt;
    std::string error;
    ASSERT_TRUE(parse({"--still", "1", "-o", "x.png"}, &opt, &error)) << error;
    EXPECT_FALSE(opt.data_given);
    ASSERT_TRUE(parse({"--still", "1", "-o", "x.png", "--data", "elsewhere"}, &opt, &error)) << error;
    EXPECT_TRUE(opt.data_given);
    remove_tree(root);
}

std::vector<double> frame_times(const t_options &opt)
{
    std::vector<double> times;
    for (long i = 0; i < frame_count(opt); i++)
        times.push_back(frame_time(opt, i));
    return times;
}

TEST(CaptureFrameClock, SequenceTimesAreFirstPlusIndexTimesStep)
{
    t_options opt;
    std::string error;
    ASSERT_TRUE(parse({"--frames", "0:0.3:0.1", "-o", "d"}, &opt, &error));
    std::vector<double> times = frame_times(opt);
    // 3 * 0.1 overshoots 0.3 in double; the end still counts.
    ASSERT_EQ(times.size(), 4u);
    for (size_t i = 0; i < times.size(); i++)
        EXPECT_EQ(times[i], 0.0 + (double)i * 0.1);

    ASSERT_TRUE(parse({"--frames", "10:10.95:0.5", "-o", "d"}, &opt, &error));
    EXPECT_EQ(frame_times(opt), (std::vector<double>{10.0, 10.5}));

    // A range of one point is one frame, however large the step.
    ASSERT_TRUE(parse({"--frames", "7:7:100", "-o", "d"}, &opt, &error));
    EXPECT_EQ(frame_times(opt), std::vector<double>{7.0});

    ASSERT_TRUE(parse({"--still", "12.25", "-o", "x.png"}, &opt, &error));
    EXPECT_EQ(frame_times(opt), std::vector<double>{12.25});
}

TEST(CaptureFrameClock, CountIsFixedUpFrontAndLimited)
{
    t_options opt;
    std::string error;
    // Exactly the limit: counted, not drawn.
    ASSERT_TRUE(parse({"--frames", "0:9999.99:0.01", "-o", "d"}, &opt, &error)) << error;
    EXPECT_EQ(frame_count(opt), MAX_FRAMES);
    EXPECT_EQ(frame_time(opt, MAX_FRAMES - 1), 0.0 + (double)(MAX_FRAMES - 1) * 0.01);
    // Times that would stall a loop adding STEP to A, or overflow a count.
    const char *const refused[] = {"0:10000:0.01", "86399:86400:1e-300", "0:86400:5e-324", "1e17:1e17:1",
                                   "1e300:1e300:1", "0:86400.5:1"};
    for (const char *range : refused)
        EXPECT_FALSE(parse({"--frames", range, "-o", "d"}, &opt, &error)) << range;
    EXPECT_TRUE(parse({"--frames", "86400:86400:1", "-o", "d"}, &opt, &error)) << error;
    EXPECT_EQ(frame_count(opt), 1);

    EXPECT_FALSE(parse({"--still", "86400.01", "-o", "x.png"}, &opt, &error));
    EXPECT_TRUE(parse({"--video", "--duration", "16666", "-o", "x.mp4"}, &opt, &error)) << error;
    EXPECT_EQ(frame_count(opt), 999960);
    EXPECT_FALSE(parse({"--video", "--duration", "16667", "-o", "x.mp4"}, &opt, &error));
}

TEST(CaptureFrameClock, VideoFramesCoverTheDurationOnce)
{
    EXPECT_EQ(video_frame_count(130.0, 60), 7800);
    EXPECT_EQ(video_frame_count(2.0, 30), 60);
    EXPECT_EQ(video_frame_count(0.1, 25), 3);
    EXPECT_EQ(video_frame_count(0.001, 60), 1);

    t_options opt;
    std::string error;
    ASSERT_TRUE(parse({"--video", "--duration", "2", "--fps", "24", "-o", "x.mp4"}, &opt, &error));
    std::vector<double> times = frame_times(opt);
    ASSERT_EQ(times.size(), 48u);
    EXPECT_EQ(times[0], 0.0);
    EXPECT_EQ(times[1], 1.0 / 24.0);
    EXPECT_EQ(times[47], 47.0 / 24.0);
}

TEST(CaptureDrawStats, MedianPercentileAndWorst)
{
    std::vector<t_draw_sample> samples;
    // 1..20 ms, out of order; 20 ms at T = 7.5.
    for (int i = 0; i < 20; i++) {
        int ms = (i * 7) % 20 + 1;
        samples.push_back({(double)ms, ms == 20 ? 7.5 : (double)i});
    }
    t_draw_summary s = summarize_draws(samples);
    EXPECT_EQ(s.frames, 20u);
    EXPECT_DOUBLE_EQ(s.median_ms, 10.5);
    EXPECT_DOUBLE_EQ(s.p95_ms, 19.0);
    EXPECT_DOUBLE_EQ(s.worst_ms, 20.0);
    EXPECT_DOUBLE_EQ(s.worst_time, 7.5);

    s = summarize_draws({{3.0, 0.0}, {1.0, 0.5}, {2.0, 1.0}});
    EXPECT_DOUBLE_EQ(s.median_ms, 2.0);
    EXPECT_DOUBLE_EQ(s.p95_ms, 3.0);
    EXPECT_DOUBLE_EQ(s.worst_time, 0.0);

    EXPECT_EQ(summarize_draws({}).frames, 0u);
}

TEST(CaptureDrawStats, SummaryLineParsesBack)
{
    t_draw_summary s;
    s.median_ms = 1.25;
    s.p95_ms = 2.5;
    s.worst_ms = 7.125;
    s.worst_time = 81.5;
    s.frames = 7800;
    std::string line = format_summary(s, "wall", "GPU \"X\" 9");
    double median, p95, worst, worst_t;
    size_t frames;
    char clock[8], renderer[64];
    ASSERT_EQ(sscanf(line.c_str(),
                     "draw_ms median=%lf p95=%lf worst=%lf worst_t=%lf frames=%zu clock=%7s renderer=\"%63[^\"]\"",
                     &median, &p95, &worst, &worst_t, &frames, clock, renderer),
              7)
        << line;
    EXPECT_STREQ(clock, "wall");
    EXPECT_EQ(median, 1.25);
    EXPECT_EQ(p95, 2.5);
    EXPECT_EQ(worst, 7.125);
    EXPECT_EQ(worst_t, 81.5);
    EXPECT_EQ(frames, 7800u);
    EXPECT_STREQ(renderer, "GPU 'X' 9");
    EXPECT_EQ(line.back(), '"');
}

TEST(CaptureDrawStats, ProgressShowsCountRateAndRemainingTime)
{
    std::string line = format_progress(250, 1000, 5.0);
    EXPECT_NE(line.find("250/1000 frames"), std::string::npos) << line;
    EXPECT_NE(line.find("50.0 fps"), std::string::npos) << line;
    EXPECT_NE(line.find("ETA 0:15"), std::string::npos) << line;
    EXPECT_NE(format_progress(0, 7800, 0.0).find("ETA ?"), std::string::npos);
    EXPECT_NE(format_progress(10, 100000, 1.0).find("ETA 2:46:39"), std::string::npos);
}

int open_files(void)
{
    int count = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (dir != nullptr && readdir(dir) != nullptr)
        count++;
    closedir(dir);
    return count;
}

// The child is the capture tool's: none of its files (a file left open
// here stands for the GL driver's) and none of its blocked signals.
TEST(CaptureFfmpegPipe, ChildHoldsOnlyItsStandardStreams)
{
    int stray = open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 3);
    t_ffmpeg ff;
    std::string error;
    ASSERT_TRUE(ffmpeg_start(&ff, "sh", {"-c", "ls /proc/self/fd; grep SigBlk /proc/self/status; exit 3"}, &error))
        << error;
    EXPECT_FALSE(ffmpeg_finish(&ff, &error));
    close(stray);
    // ls itself holds the directory it lists, as 3.
    EXPECT_EQ(error, "ffmpeg failed with exit status 3:\n0\n1\n2\n3\nSigBlk:\t0000000000000000\n");
}

TEST(CaptureFfmpegPipe, StartThatFailsLeavesNoFileOpen)
{
    int before = open_files();
    for (int i = 0; i < 3; i++) {
        t_ffmpeg ff;
        std::string error;
        EXPECT_FALSE(ffmpeg_start(&ff, "/nonexistent/ffmpeg", {}, &error));
        EXPECT_NE(error.find("cannot run /nonexistent/ffmpeg"), std::string::npos) << error;
    }
    EXPECT_EQ(open_files(), before);
}

} // namespace
