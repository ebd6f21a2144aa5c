// tessary-studio's logic without a window: the command line, the transport
// against the song's timeline, the atlas metrics, the watcher and the log.
#include "atlas_metrics.h"
#include "font_atlas.h"
#include "options.h"
#include "shader_log.h"
#include "song.h"
#include "transport.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

bool parse(std::vector<std::string> args, t_studio_options *opt, std::string *error)
{
    args.insert(args.begin(), "tessary-studio");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    return parse_studio_options((int)argv.size(), argv.data(), opt, error);
}

TEST(StudioOptions, ValuesInBothFormsAndRefusals)
{
    t_studio_options opt;
    std::string error;
    ASSERT_TRUE(parse({}, &opt, &error));
    EXPECT_EQ(opt.width, 1280);
    EXPECT_EQ(opt.height, 720);
    EXPECT_EQ(opt.at, 0.0);
    EXPECT_FALSE(opt.paused || opt.mute);
    EXPECT_TRUE(opt.data_dir.empty());

    ASSERT_TRUE(parse({"--at=64.5", "--paused", "--size", "640x360", "--data", "d", "--mute"}, &opt, &error)) << error;
    EXPECT_EQ(opt.at, 64.5);
    EXPECT_TRUE(opt.paused && opt.mute);
    EXPECT_EQ(opt.width, 640);
    EXPECT_EQ(opt.height, 360);
    EXPECT_EQ(opt.data_dir, "d");

    const std::vector<std::vector<std::string>> refused = {
        {"--at", "-1"}, {"--at", "130.5"}, {"--at", "inf"}, {"--at", "nan"}, {"--at", "5s"},
        {"--size", "0x10"}, {"--size", "1280"}, {"--size", "20000x10"}, {"--size", "-5x5"},
        {"--paused=1"}, {"--data"}, {"--data", ""}, {"--fps", "60"},
    };
    for (const auto &args : refused) {
        EXPECT_FALSE(parse(args, &opt, &error)) << args[0];
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    ASSERT_TRUE(parse({"--bogus", "--help"}, &opt, &error) == false);
    ASSERT_TRUE(parse({"--help", "--bogus"}, &opt, &error));
    EXPECT_TRUE(opt.help);
}

TEST(StudioOptions, HelpListsEveryKey)
{
    std::string help = studio_usage_text();
    for (const char *key : {"Space", "Left / Right", "Shift+Left", "Home", "Page Up / Page Down", "L ", "H ", "F12",
                            "Escape, Q", "--data", "--at", "--paused", "--size", "--mute"})
        EXPECT_NE(help.find(key), std::string::npos) << key;
}

TEST(StudioTimeline, SectionsAreTheSongs)
{
    ASSERT_EQ(section_count(), (int)std::size(song::sections));
    for (int i = 0; i < section_count(); i++) {
        EXPECT_STREQ(section(i).name, song::sections[i].name);
        EXPECT_EQ(section(i).start, song::seconds_at_bar(song::sections[i].first_bar));
        // No gaps: each ends where the next starts, the last with the song.
        EXPECT_EQ(section(i).end, i + 1 < section_count() ? section(i + 1).start : song::t_end);
    }
    EXPECT_EQ(section_at(0.0), 0);
    EXPECT_EQ(section_at(song::t_build - 0.001), 0);
    EXPECT_EQ(section_at(song::t_build), 1);
    EXPECT_EQ(section_at(song::t_climax + 5.0), 4);
    EXPECT_EQ(section_at(SHOW_END), section_count() - 1);
}

TEST(StudioTransport, KeysMoveThePlayHeadWithinTheShow)
{
    t_transport t;
    t.time = 10.0;
    EXPECT_TRUE(transport_apply(&t, action_next_section));
    EXPECT_EQ(t.time, song::t_build);
    EXPECT_TRUE(transport_apply(&t, action_bar_forward));
    EXPECT_EQ(t.time, song::t_build + song::bar_seconds);
    EXPECT_TRUE(transport_apply(&t, action_beat_back));
    EXPECT_EQ(t.time, song::t_build + song::bar_seconds - song::beat_seconds);
    // Page Up goes to the start of the section the play head is in, then the one before.
    EXPECT_TRUE(transport_apply(&t, action_previous_section));
    EXPECT_EQ(t.time, song::t_build);
    EXPECT_TRUE(transport_apply(&t, action_previous_section));
    EXPECT_EQ(t.time, song::t_intro);
    EXPECT_TRUE(transport_apply(&t, action_bar_back));
    EXPECT_EQ(t.time, 0.0) << "kept at the show's start";
    t.time = SHOW_END - 0.5;
    transport_apply(&t, action_bar_forward);
    EXPECT_EQ(t.time, SHOW_END) << "kept at the show's end";
    t.time = song::t_outro + 1.0;
    transport_apply(&t, action_next_section);
    EXPECT_EQ(t.time, song::t_outro + 1.0) << "no section after the last";
    EXPECT_TRUE(transport_apply(&t, action_home));
    EXPECT_EQ(t.time, 0.0);

    EXPECT_FALSE(transport_apply(&t, action_play_pause));
    EXPECT_TRUE(t.playing);
    EXPECT_FALSE(transport_apply(&t, action_loop));
    EXPECT_TRUE(t.looping);
    EXPECT_EQ(t.time, 0.0);
}

TEST(StudioTransport, LoopWrapsAtTheSectionEndAndTheShowStopsAtItsEnd)
{
    t_transport t;
    t.playing = true;
    t.time = song::t_break + 15.9;
    EXPECT_FALSE(transport_follow(&t, song::t_break + 15.95));
    EXPECT_EQ(t.time, song::t_break + 15.95);
    // Without the loop the play head runs into the next section.
    EXPECT_FALSE(transport_follow(&t, song::t_climax + 0.02));
    EXPECT_EQ(t.time, song::t_climax + 0.02);

    t.looping = true;
    t.time = song::t_break + 15.9;
    EXPECT_TRUE(transport_follow(&t, song::t_climax + 0.02)) << "a jump: the sound must follow";
    EXPECT_EQ(t.time, song::t_break);
    EXPECT_TRUE(t.playing);

    t.looping = false;
    t.time = SHOW_END - 0.1;
    EXPECT_FALSE(transport_follow(&t, SHOW_END + 0.3));
    EXPECT_EQ(t.time, SHOW_END);
    EXPECT_FALSE(t.playing);
    // Play at the end starts over.
    EXPECT_TRUE(transport_apply(&t, action_play_pause));
    EXPECT_EQ(t.time, 0.0);
    EXPECT_TRUE(t.playing);
}

TEST(StudioTransport, BarAndBeatCountAsTheTimelineDoes)
{
    char text[16];
    const struct {
        double t;
        const char *expected;
    } cases[] = {{0.0, "0:1"}, {0.49, "0:1"}, {0.5, "0:2"}, {1.99, "0:4"}, {64.0, "32:1"}, {79.5, "39:4"},
                 {127.99, "63:4"}};
    for (const auto &c : cases) {
        bar_beat_text(c.t, text, sizeof text);
        EXPECT_STREQ(text, c.expected) << c.t;
    }
}

TEST(StudioAtlasMetrics, BuiltInSnippetParses)
{
    t_atlas_metrics m;
    ASSERT_TRUE(parse_atlas_metrics(atlas_metrics_glsl, &m));
    EXPECT_EQ(m.pixel_size, 40.0f);
    EXPECT_GT(m.ascender, 0.0f);
    EXPECT_GT(m.descender, 0.0f);
    // Digits share one advance; 'W' is wider than 'i'; every glyph advances.
    for (char c = '1'; c <= '9'; c++)
        EXPECT_EQ(m.advance[c - GLYPH_FIRST], m.advance['0' - GLYPH_FIRST]) << c;
    EXPECT_GT(m.advance['W' - GLYPH_FIRST], 2.0f * m.advance['i' - GLYPH_FIRST]);
    for (float a : m.advance)
        EXPECT_GT(a, 0.0f);
}

TEST(StudioAtlasMetrics, MalformedSnippetsAreRefused)
{
    std::string good = atlas_metrics_glsl;
    t_atlas_metrics m;
    std::string short_list = good;
    size_t end = short_list.find(");", short_list.find("GLYPH_ADVANCE"));
    size_t last_comma = short_list.rfind(',', end);
    short_list.erase(last_comma, end - last_comma);
    EXPECT_FALSE(parse_atlas_metrics(short_list.c_str(), &m)) << "94 advances";
    std::string no_size = good;
    no_size.replace(no_size.find("ATLAS_PIXEL_SIZE"), 16, "ATLAS_PIXEL_SIZX");
    EXPECT_FALSE(parse_atlas_metrics(no_size.c_str(), &m));
    EXPECT_FALSE(parse_atlas_metrics("", &m));
}

class StudioWatcher : public ::testing::Test {
protected:
    std::filesystem::path dir;
    t_watcher watcher;
    void SetUp() override
    {
        char pattern[] = "/tmp/studio_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::string error;
        ASSERT_TRUE(watcher_open(&watcher, dir, &error)) << error;
    }
    void TearDown() override
    {
        watcher_close(&watcher);
        std::filesystem::remove_all(dir);
    }
    void write(const std::string &name, const std::string &text)
    {
        std::ofstream(dir / name) << text;
    }
    // The kernel queues an event before the call that caused it returns, so
    // one look sees every change made so far.
    unsigned changes(void)
    {
        return watcher_poll(&watcher);
    }
};

TEST_F(StudioWatcher, SeesWritesAndRenamesOfTheThreeFilesOnly)
{
    EXPECT_EQ(watcher_poll(&watcher), 0u) << "nothing happened yet";
    write("tessary.glsl", "a");
    EXPECT_EQ(changes(), (unsigned)watched_shader);
    write("tessary.glsl.swp", "b");
    write("notes.txt", "c");
    EXPECT_EQ(changes(), 0u) << "other names are not ours";
    // Saved the safe way: a new file renamed over the old one.
    write("music.wav.new", "d");
    std::filesystem::rename(dir / "music.wav.new", dir / "music.wav");
    write("font_subset_bw_sdf.jpg", "e");
    EXPECT_EQ(changes(), (unsigned)(watched_music | watched_atlas));
    // Renamed away, it is not a change to load.
    std::filesystem::rename(dir / "tessary.glsl", dir / "old.glsl");
    EXPECT_EQ(changes(), 0u);
}

// Some editors, git and sync tools replace the whole folder.
TEST_F(StudioWatcher, WatchesADirectoryReplacedUnderItsName)
{
    std::filesystem::rename(dir, dir.string() + ".old");
    EXPECT_EQ(changes(), 0u) << "nothing to load while it is gone";
    EXPECT_STREQ(watcher.note, "data folder gone: waiting for it");
    std::filesystem::create_directory(dir);
    EXPECT_EQ(changes(), (unsigned)watched_all) << "files may have come before the watch";
    EXPECT_STREQ(watcher.note, "data folder replaced: reloaded all");
    write("tessary.glsl", "a");
    EXPECT_EQ(changes(), (unsigned)watched_shader);
    std::ofstream(dir.string() + ".old/music.wav") << "b";
    EXPECT_EQ(changes(), 0u) << "the old folder is not watched";
    std::filesystem::remove_all(dir.string() + ".old");
}

TEST_F(StudioWatcher, ChangesLostToAFullQueueReloadAllThree)
{
    int limit = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
    ASSERT_GT(limit, 0);
    // Alternating names: the kernel folds an event into an identical one before it.
    for (int i = 0; i <= limit; i++)
        write(i % 2 ? "a.txt" : "b.txt", "");
    EXPECT_EQ(changes(), (unsigned)watched_all);
    EXPECT_STREQ(watcher.note, "missed file changes: reloaded all");
}

TEST(StudioShaderLog, QuotesEachNamedLineOnce)
{
    const std::string source = "#version 130\nout vec4 c;\nvoid main() {\n    c = vec4(x);\n}\n";
    const std::string log = "0:4(14): error: `x' undeclared\n0:4(9): error: cannot construct\n0:9(1): error: past the end";
    std::string text = log_with_source(log, source, "tessary.glsl");
    EXPECT_EQ(text, log + "\n  tessary.glsl:4:     c = vec4(x);\n");
    EXPECT_EQ(logged_line_number("0(12) : error C1008"), 12u);
    EXPECT_EQ(logged_line_number("ERROR: 0:7: 'y' : undeclared"), 7u);
    EXPECT_EQ(logged_line_number("error: no line here"), 0u);
}

TEST(StudioDataDir, CurrentDirectoryWhenItHoldsTheFiles)
{
    char pattern[] = "/tmp/studio_data_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::filesystem::path dir = pattern;
    std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    EXPECT_EQ(default_data_dir("/built/in"), "/built/in");
    for (const char *name : {"tessary.glsl", "font_subset_bw_sdf.jpg"})
        std::ofstream(dir / name) << "x";
    EXPECT_EQ(default_data_dir("/built/in"), "/built/in") << "music.wav is missing";
    std::ofstream(dir / "music.wav") << "x";
    EXPECT_EQ(default_data_dir("/built/in"), ".");
    std::filesystem::current_path(before);
    std::filesystem::remove_all(dir);
}

} // namespace
