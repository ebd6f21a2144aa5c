// The rendered soundtrack (data/music.wav from the build) and the tool that
// makes it.
#include "analysis.h"
#include "measures.h"
#include "song.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

const analysis::wav& music() {
    static const analysis::wav w = analysis::read_wav(TESSARY_MUSIC_WAV);
    return w;
}

std::vector<float> channel_of(const analysis::wav& w, int ch) {
    std::vector<float> x(w.samples.size() / 2);
    for (size_t i = 0; i < x.size(); ++i) x[i] = w.samples[2 * i + ch] / 32768.0f;
    return x;
}

double rms_db(const std::vector<float>& x, double from_s, double to_s) {
    const size_t a = static_cast<size_t>(from_s * 48000), b = static_cast<size_t>(to_s * 48000);
    double sum = 0.0;
    for (size_t i = a; i < b; ++i) sum += static_cast<double>(x[i]) * x[i];
    return 10.0 * std::log10(sum / static_cast<double>(b - a) + 1e-20);
}

// Runs the synth with `args`; returns its exit status.
int run_synth(const std::string& args) {
    const std::string command = std::string("'") + TESSARY_SYNTH + "' " + args + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct temp_dir {
    fs::path path;
    temp_dir() {
        std::string pattern = (fs::temp_directory_path() / "synth-test-XXXXXX").string();
        path = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    }
    ~temp_dir() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

class MusicFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(TESSARY_MUSIC_WAV)) << TESSARY_MUSIC_WAV << " is missing: build the 'music' target";
        ASSERT_EQ(music().error, "");
    }
};

}  // namespace

TEST_F(MusicFile, FormatAndLength) {
    const analysis::wav& w = music();
    EXPECT_TRUE(w.canonical_header);
    EXPECT_EQ(w.format, 1) << "PCM";
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, 48000);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.block_align, 4);
    EXPECT_EQ(w.byte_rate, 48000 * 4);
    const double seconds = static_cast<double>(w.samples.size()) / 2.0 / 48000.0;
    EXPECT_LE(seconds, 130.0);
    EXPECT_GE(seconds, 127.0);
    EXPECT_GE(seconds, song::t_end) << "the file must not cut the last bar";
}

TEST_F(MusicFile, LoudnessAndTruePeak) {
    const analysis::wav& w = music();
    const analysis::loudness measured = analysis::measure_loudness(w.samples, 48000);
    ASSERT_TRUE(measured.measured);
    EXPECT_NEAR(measured.integrated_lufs, -14.0, 1.0);
    EXPECT_LE(measured.true_peak_db, -1.0);
}

TEST_F(MusicFile, NoClippingNoDcOffset) {
    const analysis::wav& w = music();
    long clipped = 0;
    double sum[2] = {0.0, 0.0};
    for (size_t i = 0; i < w.samples.size(); ++i) {
        if (w.samples[i] >= 32767 || w.samples[i] <= -32767) ++clipped;
        sum[i % 2] += w.samples[i];
    }
    EXPECT_EQ(clipped, 0);
    for (int ch = 0; ch < 2; ++ch) {
        const double mean = sum[ch] / static_cast<double>(w.samples.size() / 2);
        EXPECT_LT(std::fabs(mean), 0.001 * 32768.0) << "channel " << ch;
    }
}

TEST_F(MusicFile, NoClicks) {
    // A step of a hundredth of full scale is plainly audible in the quiet
    // intro; the loud climax hides more, but not a voice cut dead. The
    // detector must catch planted steps like these and find nothing like
    // them in the real file (bright pluck onsets there score up to about 10).
    constexpr double threshold = 13.0;
    for (int ch = 0; ch < 2; ++ch) {
        const std::vector<float> x = channel_of(music(), ch);
        const analysis::click worst = analysis::worst_click(x, 48000.0);
        EXPECT_LT(worst.score, threshold) << "channel " << ch << " at " << worst.frame / 48000.0 << " s";

        const struct {
            double seconds;
            float step;
        } planted[] = {{3.1, 0.01f}, {70.3, 0.03f}, {90.7, 0.4f}};
        for (const auto& p : planted) {
            std::vector<float> y = x;
            const size_t at = static_cast<size_t>(p.seconds * 48000);
            for (size_t i = at; i < at + 480; ++i) y[i] += p.step;
            EXPECT_GT(analysis::worst_click(y, 48000.0).score, threshold) << "planted step at " << p.seconds << " s";
        }
    }
}

TEST_F(MusicFile, FollowsTheTimeline) {
    std::vector<float> mono = channel_of(music(), 0);
    const std::vector<float> right = channel_of(music(), 1);
    for (size_t i = 0; i < mono.size(); ++i) mono[i] = 0.5f * (mono[i] + right[i]);
    // The breakdown drops the drums, the beat before the climax is a gap, the
    // climax lands on its downbeat, and the end is silent.
    EXPECT_GT(rms_db(mono, song::t_break - 2.0, song::t_break), rms_db(mono, song::t_break + 0.5, song::t_break + 2.5) + 3.0);
    EXPECT_GT(rms_db(mono, song::t_climax, song::t_climax + 0.4), rms_db(mono, song::t_climax - 0.4, song::t_climax) + 10.0);
    EXPECT_GT(rms_db(mono, song::t_final_hit, song::t_final_hit + 0.5), rms_db(mono, song::t_final_hit - 0.2, song::t_final_hit) + 6.0);
    EXPECT_LT(rms_db(mono, song::t_silent, static_cast<double>(mono.size()) / 48000.0), -85.0);
}

TEST(SynthTool, RendersTheSameBytesEveryTime) {
    // Another run of --solo writes the bytes of the build's stem (itself a
    // render of the whole song, mastered), and nothing else.
    const std::vector<int16_t> built = measures::stem_file(TESSARY_STEMS_DIR, song::lead);
    ASSERT_FALSE(built.empty()) << "no lead stem in " << TESSARY_STEMS_DIR;
    temp_dir dir;
    ASSERT_FALSE(dir.path.empty());
    const fs::path lead = dir.path / "lead.wav";
    ASSERT_EQ(run_synth("--quiet --solo lead -o '" + lead.string() + "'"), 0);
    const analysis::wav again = analysis::read_wav(lead.string());
    EXPECT_EQ(again.error, "");
    EXPECT_TRUE(again.samples == built) << "two renders differ";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1) << "a temporary file is left behind";
    EXPECT_NE(run_synth("--quiet --solo nothing -o '" + (dir.path / "x.wav").string() + "'"), 0);
}

TEST(SynthTool, CommandLine) {
    temp_dir dir;
    ASSERT_FALSE(dir.path.empty());
    EXPECT_EQ(run_synth("--help"), 0);
    EXPECT_NE(run_synth(""), 0) << "no output given";
    EXPECT_NE(run_synth("--bogus -o x.wav"), 0);
    for (const char* length : {"0", "-1", "130", "ten", "5s"})
        EXPECT_NE(run_synth(std::string("--quiet --length ") + length + " -o '" + (dir.path / "cut.wav").string() + "'"), 0) << length;
    EXPECT_FALSE(fs::exists(dir.path / "cut.wav"));
    // A cut render is the song's start, as long as asked.
    ASSERT_EQ(run_synth("--quiet --length 2.5 -o '" + (dir.path / "cut.wav").string() + "'"), 0);
    const analysis::wav cut = analysis::read_wav((dir.path / "cut.wav").string());
    EXPECT_EQ(cut.error, "");
    EXPECT_EQ(cut.samples.size(), 2u * 120000u);
    const fs::path missing_dir = dir.path / "no" / "such" / "dir" / "music.wav";
    EXPECT_NE(run_synth("--quiet -o '" + missing_dir.string() + "'"), 0);
    EXPECT_FALSE(fs::exists(missing_dir.parent_path()));
    if (geteuid() != 0) {  // root writes anywhere
        fs::create_directory(dir.path / "locked");
        fs::permissions(dir.path / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_NE(run_synth("--quiet -o '" + (dir.path / "locked" / "music.wav").string() + "'"), 0);
        fs::permissions(dir.path / "locked", fs::perms::owner_all);
    }
}
