// The mix as a listener hears it, measured on the rendered file: a form you
// can hear in the loudness, silence where the score is silent, held notes
// that hold, a clean low end, and drops wider than their mono bass.
#include "analysis.h"
#include "song.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace {

constexpr int rate = 48000;

const analysis::wav& music() {
    static const analysis::wav w = analysis::read_wav(TESSARY_MUSIC_WAV);
    return w;
}

const std::vector<float>& left() {
    static const std::vector<float> x = analysis::channel(music(), 0);
    return x;
}

const std::vector<float>& right() {
    static const std::vector<float> x = analysis::channel(music(), 1);
    return x;
}

const analysis::loudness_curve& loudness() {
    static const analysis::loudness_curve c = analysis::loudness_over_time(music().samples, rate, 0.1);
    return c;
}

size_t frame(double seconds) { return static_cast<size_t>(std::lround(seconds * rate)); }

double section_lufs(double from, double to) { return analysis::integrated_lufs(music().samples, rate, from, to); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() / 2];
}

// Momentary values of the windows that end in (from, to].
std::vector<double> momentary_between(double from, double to) {
    std::vector<double> m;
    const analysis::loudness_curve& c = loudness();
    for (size_t i = 0; i < c.momentary.size(); ++i) {
        const double end = (i + 1) * c.hop;
        if (end > from + 1e-9 && end <= to + 1e-9) m.push_back(c.momentary[i]);
    }
    return m;
}

// The first section that starts at or after `step`.
double next_section_start(int step) {
    for (const song::section& s : song::sections)
        if (s.first_bar * song::steps_per_bar >= step) return song::seconds_at_bar(s.first_bar);
    return song::t_end;
}

class Mix : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(TESSARY_MUSIC_WAV)) << TESSARY_MUSIC_WAV << " is missing: build the 'music' target";
        ASSERT_EQ(music().error, "");
        ASSERT_GE(music().samples.size(), 2 * frame(song::t_end));
    }
};

}  // namespace

TEST_F(Mix, FormShowsInTheLoudness) {
    // Quiet intro, drops well above it, the climax above the theme.
    EXPECT_GE(analysis::loudness_range(music().samples, rate), 6.0) << "loudness range, LU";
    const double intro = section_lufs(song::t_intro, song::t_build), theme = section_lufs(song::t_theme, song::t_break),
                 climax = section_lufs(song::t_climax, song::t_outro);
    EXPECT_LE(intro, theme - 6.0) << "intro " << intro << " LUFS, theme " << theme;
    EXPECT_GE(climax, theme + 1.5) << "climax " << climax << " LUFS, theme " << theme;
}

TEST_F(Mix, DropsLiftAboveTheBarBeforeThem) {
    // Short-term loudness at the end of each drop's first bar against the
    // end of the bar before it.
    for (double drop : {song::t_theme, song::t_climax}) {
        const double before = loudness().short_term_at(drop), first_bar = loudness().short_term_at(drop + song::bar_seconds);
        EXPECT_GE(first_bar - before, 2.0) << "drop at " << drop << " s: " << before << " -> " << first_bar << " LUFS";
    }
}

TEST_F(Mix, RisersStayUnderTheSectionTheyAnnounce) {
    // No momentary window inside a riser is louder than the middle of the
    // first bar that follows it.
    const song::score s = song::build_score();
    int risers = 0;
    for (const song::note& n : s.notes) {
        if (n.track != song::riser) continue;
        ++risers;
        const double start = n.step * song::step_seconds, end = (n.step + n.length) * song::step_seconds;
        const double next = next_section_start(n.step + n.length);
        const std::vector<double> during = momentary_between(start + 0.4, end);
        ASSERT_FALSE(during.empty());
        const double loudest = *std::max_element(during.begin(), during.end());
        const double landing = median(momentary_between(next + 0.4, next + song::bar_seconds));
        EXPECT_LE(loudest, landing) << "riser " << start << "-" << end << " s, then the section at " << next << " s";
    }
    EXPECT_GE(risers, 2);
}

TEST_F(Mix, GapsAreSilent) {
    // Every stretch where the score holds no note, and the beat before the
    // climax in particular, is below -50 dBFS on both channels.
    const song::score s = song::build_score();
    bool before_climax = false;
    for (const song::gap& g : s.gaps) {
        const double from = g.step * song::step_seconds, to = (g.step + g.length) * song::step_seconds;
        before_climax |= from <= song::t_climax - song::beat_seconds && to >= song::t_climax;
        for (const std::vector<float>* ch : {&left(), &right()})
            EXPECT_LE(analysis::rms_db(*ch, frame(from), frame(to)), -50.0) << "gap " << from << "-" << to << " s";
    }
    EXPECT_TRUE(before_climax) << "the score has no silent beat before the climax";
}

TEST_F(Mix, HeldBassNotesHold) {
    // Inside a bass or drone note of a beat or longer, the level below 80 Hz (50 ms
    // windows) never falls more than 6 dB under the note's median before the
    // next note starts or the master fade begins.
    const song::score s = song::build_score();
    std::vector<float> mid(left().size());
    for (size_t i = 0; i < mid.size(); ++i) mid[i] = 0.5f * (left()[i] + right()[i]);
    const std::vector<float> low = analysis::lowpass(mid, rate, 80.0);
    // The fade starts at the keyframe before the master gain's first zero.
    double fade = song::t_end;
    const std::vector<song::keyframe>& gain = s.automation[song::master_gain];
    for (size_t k = 1; k < gain.size() && fade == song::t_end; ++k)
        if (gain[k].value == 0.0f) fade = song::seconds_at_bar(gain[k - 1].bar);
    std::vector<const song::note*> bass;
    for (const song::note& n : s.notes)
        if (n.track == song::bass || n.track == song::drone) bass.push_back(&n);
    int held = 0;
    for (size_t i = 0; i < bass.size(); ++i) {
        const song::note& n = *bass[i];
        if (n.length < song::steps_per_beat) continue;
        int end_step = n.step + n.length;
        if (i + 1 < bass.size()) end_step = std::min(end_step, bass[i + 1]->step);
        const double from = n.step * song::step_seconds + 0.1, to = std::min(end_step * song::step_seconds, fade) - 0.05;
        if (to - from < 0.2) continue;
        std::vector<double> levels;
        for (double t = from; t + 0.05 <= to; t += 0.025) levels.push_back(analysis::rms_db(low, frame(t), frame(t + 0.05)));
        const double typical = median(levels), lowest = *std::min_element(levels.begin(), levels.end());
        EXPECT_GE(lowest, typical - 6.0) << "bass note at " << n.step * song::step_seconds << " s falls to " << lowest - typical
                                         << " dB before " << to << " s";
        ++held;
    }
    EXPECT_GE(held, 8) << "held bass notes checked";
}

TEST_F(Mix, LittleEnergyBelow30Hz) {
    const double sections[][2] = {{0.0, song::file_seconds}, {song::t_theme, song::t_break}, {song::t_climax, song::t_outro}};
    for (const auto& span : sections) {
        for (const std::vector<float>* ch : {&left(), &right()}) {
            const std::vector<float> part(ch->begin() + frame(span[0]), ch->begin() + frame(span[1]));
            EXPECT_LE(analysis::energy_share_below(part, rate, 30.0), 0.01) << span[0] << "-" << span[1] << " s";
        }
    }
}

TEST_F(Mix, DropsAreWideAndTheirBassIsMono) {
    for (double drop : {song::t_theme, song::t_climax}) {
        const double end = drop + 16 * song::bar_seconds;
        // Median L/R correlation of 250 ms windows.
        std::vector<double> r;
        for (double t = drop; t + 0.25 <= end; t += 0.25) r.push_back(analysis::correlation(left(), right(), frame(t), frame(t + 0.25)));
        EXPECT_LE(median(r), 0.85) << "drop at " << drop << " s";
        // Below 120 Hz the side signal stays 20 dB under the mid.
        const std::vector<float> l(left().begin() + frame(drop), left().begin() + frame(end));
        const std::vector<float> rr(right().begin() + frame(drop), right().begin() + frame(end));
        const std::vector<float> low_l = analysis::lowpass(l, rate, 120.0), low_r = analysis::lowpass(rr, rate, 120.0);
        std::vector<float> mid(low_l.size()), side(low_l.size());
        for (size_t i = 0; i < mid.size(); ++i) {
            mid[i] = 0.5f * (low_l[i] + low_r[i]);
            side[i] = 0.5f * (low_l[i] - low_r[i]);
        }
        EXPECT_LE(analysis::rms_db(side, 0, side.size()), analysis::rms_db(mid, 0, mid.size()) - 20.0) << "drop at " << drop << " s";
    }
}

TEST(MixMeasures, SeeWhatTheyMeasure) {
    // The helpers behind the mix tests, on signals with known answers.
    std::vector<float> tone20(rate * 4), tone60(rate * 4), noise(rate * 4);
    uint32_t seed = 1;
    for (size_t i = 0; i < tone20.size(); ++i) {
        tone20[i] = static_cast<float>(std::sin(2 * M_PI * 20.0 * i / rate));
        tone60[i] = static_cast<float>(std::sin(2 * M_PI * 60.0 * i / rate));
        seed = seed * 1664525u + 1013904223u;
        noise[i] = static_cast<float>(static_cast<int32_t>(seed)) / 2147483648.0f;
    }
    std::vector<float> mix(tone60);
    for (size_t i = 0; i < mix.size(); ++i) mix[i] += 0.2f * tone20[i];  // 0.04 / 1.04 of the energy
    EXPECT_NEAR(analysis::energy_share_below(mix, rate, 30.0), 0.04 / 1.04, 0.005);
    EXPECT_LT(analysis::energy_share_below(tone60, rate, 30.0), 1e-4);
    // The low-pass keeps 60 Hz under 120 Hz and takes 1 kHz away.
    std::vector<float> high(rate);
    for (size_t i = 0; i < high.size(); ++i) high[i] = static_cast<float>(std::sin(2 * M_PI * 1000.0 * i / rate));
    EXPECT_NEAR(analysis::rms_db(analysis::lowpass(tone60, rate, 120.0), rate, 3 * rate), analysis::rms_db(tone60, rate, 3 * rate), 0.2);
    EXPECT_LT(analysis::rms_db(analysis::lowpass(high, rate, 120.0), rate / 2, rate), -70.0);
    // Correlation: identical, opposite, independent.
    std::vector<float> inverted(noise);
    for (float& v : inverted) v = -v;
    EXPECT_NEAR(analysis::correlation(noise, noise, 0, rate), 1.0, 1e-9);
    EXPECT_NEAR(analysis::correlation(noise, inverted, 0, rate), -1.0, 1e-9);
    EXPECT_NEAR(analysis::correlation(noise, tone60, 0, rate), 0.0, 0.05);
}
