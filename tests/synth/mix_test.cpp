// The mix as a listener hears it, measured on the rendered file and on
// stems (single tracks mastered with it): a form you can hear in the
// loudness, silence where the score is silent, held notes that hold, a low
// end the bass owns, a lead that carries, a climax that lifts, energy that
// moves, and drops wider than their mono bass.
#include "analysis.h"
#include "measures.h"
#include "song.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>

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

// The build's stems of the tracks the tests measure alone.
const std::vector<int16_t>& stem(int track) {
    static std::map<int, std::vector<int16_t>> stems;
    if (!stems.count(track)) stems[track] = measures::stem_file(TESSARY_STEMS_DIR, track);
    return stems[track];
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

size_t section_index(int first_bar) {
    for (size_t i = 0; i < std::size(song::sections); ++i)
        if (song::sections[i].first_bar == first_bar) return i;
    return std::size(song::sections);
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
    const double intro = section_lufs(song::t_intro, song::t_build), theme = section_lufs(song::t_theme, song::t_break);
    EXPECT_LE(intro, theme - 6.0) << "intro " << intro << " LUFS, theme " << theme;
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
        EXPECT_LE(measures::median_correlation(music().samples, drop, end), 0.85) << "drop at " << drop << " s";
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

TEST_F(Mix, BassOwnsTheLowEndAfterTheKick) {
    // Between 30 and 130 Hz the kick has the first 16th of each beat in the
    // drops and the bass the other three (stems); the strongest low pitch
    // of a drop bar in the mix is its chord's root.
    ASSERT_EQ(stem(song::kick).size(), music().samples.size()) << "no kick stem in " << TESSARY_STEMS_DIR;
    ASSERT_EQ(stem(song::bass).size(), music().samples.size()) << "no bass stem in " << TESSARY_STEMS_DIR;
    const std::array<double, 4> bass_over_kick = measures::bass_over_kick_db(stem(song::kick), stem(song::bass));
    EXPECT_LT(bass_over_kick[0], 0.0) << "the kick's 16th";
    for (int s = 1; s < 4; ++s) EXPECT_GE(bass_over_kick[s], 0.0) << "16th " << s + 1 << " of the beat: the bass against the kick, dB";
    int roots = 0, bars = 0;
    std::string misses;
    for (const measures::low_pitch& p : measures::low_pitches(music().samples, song::build_score())) {
        ++bars;
        if (p.strongest == p.root) ++roots;
        else misses += " " + std::to_string(p.bar);
    }
    EXPECT_EQ(bars, 32);
    EXPECT_GE(roots, 24) << "the root is the strongest low pitch in " << roots << " drop bars; not in bars" << misses;
}

TEST_F(Mix, LeadCarriesTheTheme) {
    // In the main theme the lead (stem) is no more than 1 LU under the
    // kick, bright, and wide in itself yet safe in mono.
    ASSERT_EQ(stem(song::lead).size(), music().samples.size()) << "no lead stem in " << TESSARY_STEMS_DIR;
    ASSERT_EQ(stem(song::kick).size(), music().samples.size()) << "no kick stem in " << TESSARY_STEMS_DIR;
    const measures::stem_figures lead = measures::stem(stem(song::lead), song::t_theme, song::t_break),
                                 kick = measures::stem(stem(song::kick), song::t_theme, song::t_break);
    EXPECT_GE(lead.lufs, kick.lufs - 1.0) << "lead " << lead.lufs << " LUFS, kick " << kick.lufs;
    EXPECT_GE(lead.centroid_hz, 2200.0) << "the lead's spectral centroid";
    // Its own channels: after its fader, before the sends and the bus.
    synth::track_levels levels;
    synth::render_score(song::build_score(), [](double) {}, &levels, song::t_break);
    EXPECT_LE(levels.correlation(song::lead, section_index(song::bar_theme)), 0.6) << "the lead's own L/R correlation";
    EXPECT_LE(lead.mono_loss_db, 3.0) << "what the lead loses in mono, dB";
}

TEST_F(Mix, ClimaxLiftsAtItsMidpoint) {
    // The climax's second half starts out of a silent beat with an impact
    // and lands at least 1 LU over the four bars before; the climax is 2 LU
    // over the theme and sounds unlike it (measures::climax_timbre).
    const song::score s = song::build_score();
    const int lift = (song::bar_climax + song::bar_outro) / 2, lift_step = lift * song::steps_per_bar;
    const double before = section_lufs(song::seconds_at_bar(lift - 4), song::seconds_at_bar(lift)),
                 after = section_lufs(song::seconds_at_bar(lift), song::seconds_at_bar(lift + 4));
    EXPECT_GE(after, before + 1.0) << "bars " << lift - 4 << "-" << lift - 1 << " " << before << " LUFS, then " << after;
    EXPECT_TRUE(std::any_of(s.gaps.begin(), s.gaps.end(), [&](const song::gap& g) { return g.step + g.length == lift_step; }))
        << "no silent beat before bar " << lift;
    EXPECT_TRUE(std::any_of(s.notes.begin(), s.notes.end(), [&](const song::note& n) { return n.track == song::impact && n.step == lift_step; }))
        << "no impact on bar " << lift;
    const double theme = section_lufs(song::t_theme, song::t_break), climax = section_lufs(song::t_climax, song::t_outro);
    EXPECT_GE(climax, theme + 2.0) << "climax " << climax << " LUFS, theme " << theme;
    const measures::timbre t = measures::climax_timbre(music().samples);
    EXPECT_LE(t.theme_to_climax, t.climax_to_climax - 0.1) << "theme to climax " << t.theme_to_climax << ", climax to climax " << t.climax_to_climax;
}

TEST_F(Mix, EnergyMovesInsideSections) {
    // The build-up climbs, every fill stands out, the intro reaches laptop
    // speakers, and few bars repeat another.
    const double bar_8 = section_lufs(song::t_build, song::t_build + song::bar_seconds),
                 bar_14 = section_lufs(song::seconds_at_bar(song::bar_build + 6), song::seconds_at_bar(song::bar_build + 7));
    EXPECT_GE(bar_14, bar_8 + 2.0) << "the build-up's bars 8 and 14: " << bar_8 << " and " << bar_14 << " LUFS";
    ASSERT_EQ(stem(song::snare).size(), music().samples.size()) << "no snare stem in " << TESSARY_STEMS_DIR;
    const std::vector<measures::fill_level> fills = measures::fills(song::build_score(), music().samples, stem(song::snare));
    EXPECT_GE(fills.size(), 8u);
    for (const measures::fill_level& f : fills)
        EXPECT_GE(f.snare_lufs, f.mix_lufs - 6.0) << "the fill at " << f.seconds << " s: snare " << f.snare_lufs << ", mix " << f.mix_lufs << " LUFS";
    EXPECT_GE(measures::share_above(music().samples, song::seconds_at_bar(2), song::t_build, 2000.0), 0.01) << "the intro's power above 2 kHz";
    // Two bars are the same when their chroma's cosine is 0.98 or more and
    // their spectral envelopes are within 1.5 dB RMS.
    EXPECT_GE(measures::distinct_bars(music().samples, 0.98, 1.5), 48) << "distinct bars";
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
    // The high-pass the other way round.
    EXPECT_NEAR(analysis::rms_db(analysis::highpass(high, rate, 120.0), rate / 2, rate), analysis::rms_db(high, rate / 2, rate), 0.2);
    EXPECT_LT(analysis::rms_db(analysis::highpass(tone20, rate, 120.0), rate, 3 * rate), analysis::rms_db(tone20, rate, 3 * rate) - 60.0);
    // 1 kHz: its centroid, and the octave band centred on 1280 Hz (the
    // sixth from 40 Hz); 55 Hz is an A.
    EXPECT_NEAR(analysis::spectral_centroid(high, rate), 1000.0, 20.0);
    const std::vector<double> bands = analysis::band_levels_db(high, rate, 1);
    EXPECT_EQ(bands.size(), 9u);
    EXPECT_EQ(std::max_element(bands.begin(), bands.end()) - bands.begin(), 5);
    std::vector<float> a1(rate);
    for (size_t i = 0; i < a1.size(); ++i) a1[i] = static_cast<float>(std::sin(2 * M_PI * 55.0 * i / rate));
    const std::vector<double> classes = analysis::pitch_class_power(a1, rate, 38.0, 130.0);
    EXPECT_EQ(std::max_element(classes.begin(), classes.end()) - classes.begin(), 9);
    // Correlation: identical, opposite, independent.
    std::vector<float> inverted(noise);
    for (float& v : inverted) v = -v;
    EXPECT_NEAR(analysis::correlation(noise, noise, 0, rate), 1.0, 1e-9);
    EXPECT_NEAR(analysis::correlation(noise, inverted, 0, rate), -1.0, 1e-9);
    EXPECT_NEAR(analysis::correlation(noise, tone60, 0, rate), 0.0, 0.05);
}
