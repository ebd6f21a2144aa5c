// The arrangement, read from the score: drums that keep moving, an arp that
// changes, a climax with new material loud enough to hear, lines that agree
// with the chords, and drums and bass tuned to the key.
#include "analysis.h"
#include "dsp.h"
#include "instruments.h"
#include "measures.h"
#include "render.h"
#include "song.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>

namespace {

const song::score& score() {
    static const song::score s = song::build_score();
    return s;
}

int bar_of(const song::note& n) { return n.step / song::steps_per_bar; }

// One track's notes in one bar, relative to the bar.
std::vector<std::array<int, 3>> bar_notes(int track, int bar) {
    std::vector<std::array<int, 3>> notes;
    for (const song::note& n : score().notes)
        if (n.track == track && bar_of(n) == bar) notes.push_back({n.step % song::steps_per_bar, n.length, n.pitch});
    std::sort(notes.begin(), notes.end());
    return notes;
}

// Kick, clap and snare hits of a bar as step masks.
std::array<int, 3> drums(int bar) {
    std::array<int, 3> d{0, 0, 0};
    for (const song::note& n : score().notes) {
        if (bar_of(n) != bar) continue;
        const int slot = n.track == song::kick ? 0 : n.track == song::clap ? 1 : n.track == song::snare ? 2 : -1;
        if (slot >= 0) d[slot] |= 1 << (n.step % song::steps_per_bar);
    }
    return d;
}

bool plays_in(int track, int from_bar, int to_bar) {
    for (const song::note& n : score().notes)
        if (n.track == track && bar_of(n) >= from_bar && bar_of(n) < to_bar) return true;
    return false;
}

// Cents from `hz` to the nearest note of A natural minor.
double cents_off_the_key(double hz) {
    const double note = 69.0 + 12.0 * std::log2(hz / 440.0);
    double best = 1e9;
    for (int pc : {9, 11, 0, 2, 4, 5, 7})
        for (int octave = 0; octave < 10; ++octave) best = std::min(best, std::fabs(note - (12 * octave + pc)) * 100.0);
    return best;
}

}  // namespace

TEST(Arrangement, ClimaxLeadIsMostlyNew) {
    // At least half of the climax's lead bars are not heard in the theme.
    std::set<std::vector<std::array<int, 3>>> theme;
    for (int bar = song::bar_theme; bar < song::bar_break; ++bar) theme.insert(bar_notes(song::lead, bar));
    int bars = 0, fresh = 0;
    for (int bar = song::bar_climax; bar < song::bar_outro; ++bar) {
        const auto notes = bar_notes(song::lead, bar);
        if (notes.empty()) continue;
        ++bars;
        fresh += theme.count(notes) == 0;
    }
    EXPECT_GE(bars, 8);
    EXPECT_GE(2 * fresh, bars) << fresh << " of " << bars << " climax lead bars are new";
}

TEST(Arrangement, ClimaxNewPartsAreAudible) {
    // Pitched parts that play in the climax but not in the theme sit within
    // 6 LU of the lead there (each track after its fader, in the full mix).
    synth::track_levels levels;
    synth::render_score(score(), [](double) {}, &levels, song::t_outro);
    const size_t climax = 4;
    ASSERT_STREQ(song::sections[climax].name, "climax");
    const double lead = levels.lufs[song::lead][climax];
    ASSERT_TRUE(std::isfinite(lead));
    int parts = 0;
    for (int t = 0; t < song::track_count; ++t) {
        if (!song::is_pitched(t) || t == song::lead || plays_in(t, song::bar_theme, song::bar_break) ||
            !plays_in(t, song::bar_climax, song::bar_outro))
            continue;
        ++parts;
        EXPECT_GE(levels.lufs[t][climax], lead - 6.0) << song::track_name(t) << " against the lead's " << lead << " LUFS";
    }
    EXPECT_GE(parts, 1) << "the climax brings no new part";
}

TEST(Arrangement, DropsHaveFillsOrCrashesEveryEightBarsInFourPatterns) {
    // A fill is a bar whose kick, clap and snare differ from the drop's most
    // common bar. Each drop has a crash or a fill at most 8 bars apart, from
    // its first bar to its end, and the fills of both drops take at least
    // four different shapes.
    std::set<std::array<int, 3>> shapes;
    for (int first : {song::bar_theme, song::bar_climax}) {
        const int last = first + 16;
        std::map<std::array<int, 3>, int> count;
        for (int bar = first; bar < last; ++bar) ++count[drums(bar)];
        const auto groove = std::max_element(count.begin(), count.end(), [](const auto& a, const auto& b) { return a.second < b.second; })->first;
        int previous = first - 1;
        for (int bar = first; bar < last; ++bar) {
            const bool fill = drums(bar) != groove, crash = plays_in(song::crash, bar, bar + 1);
            if (fill) shapes.insert(drums(bar));
            if (!fill && !crash) continue;
            EXPECT_LE(bar - previous, 8) << "nothing happens in bars " << previous + 1 << "-" << bar - 1;
            previous = bar;
        }
        EXPECT_LE(last - previous, 8) << "nothing happens in the last bars before " << last;
    }
    EXPECT_GE(shapes.size(), 4u) << "different fills in the drops";
}

TEST(Arrangement, LeadPushesAgainstTheBeatAndTheChordsMove) {
    // At least 15 % of the lead's notes start on an odd 16th or tie over
    // the beat; no one-bar rhythm fills more than 30 % of its bars; two of
    // the theme's four passes leave plain Am F C G.
    const measures::lead_rhythm r = measures::lead_rhythm_of(score());
    ASSERT_GT(r.notes, 100);
    EXPECT_GE(100 * r.syncopated, 15 * r.notes) << r.syncopated << " of " << r.notes << " lead notes push";
    EXPECT_LE(100 * r.commonest_bars, 30 * r.bars) << "one rhythm fills " << r.commonest_bars << " of " << r.bars << " lead bars";
    EXPECT_GE(measures::reharmonised_theme_passes(score()), 2) << "theme passes reharmonised";
}

TEST(Arrangement, ArpChangesAtLeastEverySixteenBars) {
    // A bar's pattern is its rhythm and the order of its pitches (the chord
    // changes the pitches, not the pattern). The same pattern may run for
    // 16 bars at most.
    std::vector<std::vector<std::pair<int, int>>> patterns(song::bar_end);
    for (int bar = 0; bar < song::bar_end; ++bar) {
        std::set<int> pitches;
        for (const song::note& n : score().notes)
            if (n.track == song::arp && bar_of(n) == bar) pitches.insert(n.pitch);
        const std::vector<int> sorted(pitches.begin(), pitches.end());
        for (const song::note& n : score().notes)
            if (n.track == song::arp && bar_of(n) == bar)
                patterns[bar].push_back({n.step % song::steps_per_bar, static_cast<int>(std::lower_bound(sorted.begin(), sorted.end(), n.pitch) - sorted.begin())});
    }
    int run = 0, longest = 0, longest_end = 0, arp_bars = 0;
    for (int bar = 0; bar < song::bar_end; ++bar) {
        if (patterns[bar].empty()) {
            run = 0;
            continue;
        }
        ++arp_bars;
        run = bar > 0 && patterns[bar] == patterns[bar - 1] ? run + 1 : 1;
        if (run > longest) longest = run, longest_end = bar;
    }
    EXPECT_LE(longest, 16) << "the arp plays one pattern in bars " << longest_end - longest + 1 << "-" << longest_end;
    EXPECT_GE(arp_bars, 32);
}

TEST(Arrangement, LinesMakeNoMinorSecondsWithPadOrBassOnStrongBeats) {
    // On beats 1 and 3, no lead or harmony note sounds a semitone (or a
    // semitone plus octaves) above a pad or bass note.
    const int strong[] = {0, 2 * song::steps_per_beat};
    int checked = 0;
    for (int bar = 0; bar < song::bar_end; ++bar) {
        for (int beat : strong) {
            const int step = bar * song::steps_per_bar + beat;
            std::vector<const song::note*> lines, below;
            for (const song::note& n : score().notes) {
                if (n.step > step || n.step + n.length <= step) continue;
                if (n.track == song::lead || n.track == song::harmony) lines.push_back(&n);
                if (n.track == song::pad || n.track == song::bass) below.push_back(&n);
            }
            for (const song::note* a : lines) {
                for (const song::note* b : below) {
                    ++checked;
                    EXPECT_NE(std::abs(a->pitch - b->pitch) % 12, 1)
                        << song::track_name(a->track) << " " << a->pitch << " against " << song::track_name(b->track) << " " << b->pitch
                        << " at " << step * song::step_seconds << " s";
                }
            }
        }
    }
    EXPECT_GT(checked, 100);
}

TEST(Arrangement, DrumsAndBassAreInTheKey) {
    // The kick's body settles on a note of A minor (within 20 cents), each
    // impact's on the note the score gives it, and every bass and impact
    // note is in the key.
    std::vector<float> l(static_cast<size_t>(2.6 * synth::sample_rate), 0.0f), r(l.size(), 0.0f);
    synth::kick kick;
    kick.trigger(1.0f);
    for (size_t i = 0; i + synth::max_block <= l.size(); i += synth::max_block) kick.render(&l[i], &r[i], synth::max_block);
    const std::vector<float> tail(l.begin() + static_cast<long>(0.15 * synth::sample_rate), l.begin() + static_cast<long>(0.28 * synth::sample_rate));
    const double kick_hz = analysis::peak_frequency(tail, synth::sample_rate, 30.0, 90.0);
    EXPECT_LE(cents_off_the_key(kick_hz), 20.0) << "the kick settles at " << kick_hz << " Hz";

    std::set<int> impacts;
    for (const song::note& n : score().notes) {
        if (n.track == song::bass || n.track == song::impact) {
            EXPECT_LE(cents_off_the_key(synth::midi_to_hz(static_cast<float>(n.pitch))), 1.0) << song::track_name(n.track) << " " << n.pitch;
        }
        if (n.track == song::impact) impacts.insert(n.pitch);
    }
    EXPECT_GE(impacts.size(), 2u) << "the impacts follow the chords";
    for (int pitch : impacts) {
        std::fill(l.begin(), l.end(), 0.0f);
        synth::impact boom;
        boom.trigger(1.0f, synth::midi_to_hz(static_cast<float>(pitch)));
        for (size_t i = 0; i + synth::max_block <= l.size(); i += synth::max_block) boom.render(&l[i], &r[i], synth::max_block);
        const std::vector<float> ring(l.begin() + static_cast<long>(0.9 * synth::sample_rate), l.begin() + static_cast<long>(2.0 * synth::sample_rate));
        const double impact_hz = analysis::peak_frequency(ring, synth::sample_rate, 25.0, 120.0);
        EXPECT_NEAR(1200.0 * std::log2(impact_hz / synth::midi_to_hz(static_cast<float>(pitch))), 0.0, 20.0)
            << "the impact for note " << pitch << " settles at " << impact_hz << " Hz";
    }
}
