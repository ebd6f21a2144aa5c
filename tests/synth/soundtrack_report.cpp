// soundtrack_report: renders the song as the build does, with stems of the
// tracks the targets measure alone, and prints docs/soundtrack.md: figures
// per section, each track's balance, and the targets the synth tests hold
// the song to, as measured (the tests and this tool share measures.h).
//
//   soundtrack_report [MUSIC.wav] > docs/soundtrack.md   (scripts/soundtrack_report.sh)
// Given MUSIC.wav, it fails unless its render is that file's samples.
#include "analysis.h"
#include "measures.h"
#include "song.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

using measures::rate;

std::string fixed(double v, int decimals = 1) {
    if (!std::isfinite(v)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string signed_db(double v) { return (v >= 0.0 ? "+" : "") + fixed(v); }

struct span {
    double from, to;
};

span section_span(size_t i) {
    const int last = i + 1 < std::size(song::sections) ? song::sections[i + 1].first_bar : song::bar_end;
    return {song::seconds_at_bar(song::sections[i].first_bar), song::seconds_at_bar(last)};
}

void sections(const measures::song_render& r) {
    const analysis::loudness_curve curve = analysis::loudness_over_time(r.mix, rate, 0.1);
    std::printf("## Sections\n\n");
    std::printf("Measured on the mix. Loudest short-term: the loudest 3 s window ending in the section. "
                "L/R correlation: the median of its 250 ms windows.\n\n");
    std::printf("| section | bars | integrated (LUFS) | loudest short-term (LUFS) | L/R correlation | power above 2 kHz | "
                "spectral centroid | energy below 30 Hz |\n");
    std::printf("| --- | --- | --- | --- | --- | --- | --- | --- |\n");
    for (size_t i = 0; i < std::size(song::sections); ++i) {
        const span s = section_span(i);
        double loudest = -HUGE_VAL;
        for (double t = s.from + 3.0; t <= s.to + 1e-9; t += 0.1) loudest = std::max(loudest, curve.short_term_at(t));
        const std::vector<float> mid = measures::mid(r.mix, s.from, s.to);
        std::printf("| %s | %d-%d | %s | %s | %s | %s %% | %s Hz | %s %% |\n", song::sections[i].name, song::sections[i].first_bar,
                    static_cast<int>(s.to / song::bar_seconds) - 1, fixed(measures::lufs(r.mix, s.from, s.to)).c_str(),
                    fixed(loudest).c_str(), fixed(measures::median_correlation(r.mix, s.from, s.to), 2).c_str(),
                    fixed(100.0 * measures::share_above(r.mix, s.from, s.to, 2000.0)).c_str(),
                    fixed(analysis::spectral_centroid(mid, rate), 0).c_str(),
                    fixed(100.0 * analysis::energy_share_below(mid, rate, 30.0), 2).c_str());
    }
    std::printf("\n");
}

void balance(const measures::song_render& r) {
    std::printf("## Balance\n\n");
    std::printf("Each track after its fader, dry (before its sends and the bus compressor), at the file's gain: its "
                "integrated loudness per section (gated, so a track that plays seldom, as the snare in the drops' fills, "
                "reads as loud as it is while it plays), and how alike its own two channels are (L/R correlation). "
                "`tessary-synth --levels` prints the same before mastering, which moves every track by the same "
                "%s dB; `tessary-synth --solo TRACK` writes one track alone, mastered as the mix is.\n\n",
                fixed(r.mastering_gain_db).c_str());
    std::printf("| track |");
    for (const song::section& s : song::sections) std::printf(" %s |", s.name);
    std::printf(" own L/R correlation (theme, climax) |\n| --- |");
    for (size_t s = 0; s < std::size(song::sections); ++s) std::printf(" --- |");
    std::printf(" --- |\n");
    const size_t theme = 2, climax = 4;
    for (int t = 0; t < song::track_count; ++t) {
        std::printf("| %s |", song::track_name(t));
        for (size_t s = 0; s < std::size(song::sections); ++s) std::printf(" %s |", fixed(r.levels.lufs[t][s] + r.mastering_gain_db).c_str());
        const auto correlation = [&](size_t s) { return r.levels.sum_ll[t][s] > 0.0 ? fixed(r.levels.correlation(t, s), 2) : "-"; };
        std::printf(" %s, %s |\n", correlation(theme).c_str(), correlation(climax).c_str());
    }
    std::printf("\n");
}

void targets(const song::score& s, const measures::song_render& r) {
    const std::vector<int16_t>& mix = r.mix;
    std::printf("## Targets\n\n");
    std::printf("What the synth tests hold the song to (those in docs/timeline.md aside), as measured. "
                "Stems are single tracks mastered with the mix.\n\n");
    std::printf("| target | measured | test |\n| --- | --- | --- |\n");
    const auto row = [](const std::string& target, const std::string& measured, const char* test) {
        std::printf("| %s | %s | `%s` |\n", target.c_str(), measured.c_str(), test);
    };

    const analysis::loudness whole = analysis::measure_loudness(mix, rate);
    row("integrated loudness -14 ± 1 LUFS, true peak ≤ -1 dBTP", fixed(whole.integrated_lufs) + " LUFS, " + fixed(whole.true_peak_db) + " dBTP",
        "MusicFile.LoudnessAndTruePeak");
    const double intro = measures::lufs(mix, song::t_intro, song::t_build), theme = measures::lufs(mix, song::t_theme, song::t_break),
                 climax = measures::lufs(mix, song::t_climax, song::t_outro);
    row("loudness range ≥ 6 LU; the intro ≥ 6 LU under the main theme",
        fixed(analysis::loudness_range(mix, rate)) + " LU; intro " + fixed(intro) + ", theme " + fixed(theme) + " LUFS",
        "Mix.FormShowsInTheLoudness");

    const std::array<double, 4> low = measures::bass_over_kick_db(r.stems.at(song::kick), r.stems.at(song::bass));
    row("30-130 Hz in the drops: the bass at least as loud as the kick on the 2nd, 3rd and 4th 16th of each beat (stems)",
        "bass over kick " + signed_db(low[0]) + " / " + signed_db(low[1]) + " / " + signed_db(low[2]) + " / " + signed_db(low[3]) +
            " dB on 16ths 1-4",
        "Mix.BassOwnsTheLowEndAfterTheKick");
    int roots = 0, bars = 0;
    for (const measures::low_pitch& p : measures::low_pitches(mix, s)) ++bars, roots += p.strongest == p.root;
    row("the chord's root the strongest pitch class 38-130 Hz in ≥ 24 of the 32 drop bars", std::to_string(roots) + " of " + std::to_string(bars),
        "Mix.BassOwnsTheLowEndAfterTheKick");

    const measures::stem_figures lead = measures::stem(r.stems.at(song::lead), song::t_theme, song::t_break),
                                 kick = measures::stem(r.stems.at(song::kick), song::t_theme, song::t_break),
                                 lead_climax = measures::stem(r.stems.at(song::lead), song::t_climax, song::t_outro);
    row("the theme: the lead no more than 1 LU under the kick (stems)", "lead " + fixed(lead.lufs) + ", kick " + fixed(kick.lufs) + " LUFS",
        "Mix.LeadCarriesTheTheme");
    row("the lead's spectral centroid ≥ 2.2 kHz in the theme", fixed(lead.centroid_hz, 0) + " Hz (climax " + fixed(lead_climax.centroid_hz, 0) + " Hz)",
        "Mix.LeadCarriesTheTheme");
    row("the lead's own L/R correlation ≤ 0.6 in the theme; its loss in mono ≤ 3 dB",
        fixed(r.levels.correlation(song::lead, 2), 2) + " (the stem with its sends: " + fixed(lead.correlation, 2) + "); " +
            fixed(lead.mono_loss_db) + " dB",
        "Mix.LeadCarriesTheTheme");

    const int lift = (song::bar_climax + song::bar_outro) / 2;
    const double before = measures::lufs(mix, song::seconds_at_bar(lift - 4), song::seconds_at_bar(lift)),
                 after = measures::lufs(mix, song::seconds_at_bar(lift), song::seconds_at_bar(lift + 4));
    row("bars " + std::to_string(lift) + "-" + std::to_string(lift + 3) + " ≥ 1 LU over bars " + std::to_string(lift - 4) + "-" +
            std::to_string(lift - 1) + ", after a silent beat and with an impact",
        fixed(before) + " → " + fixed(after) + " LUFS (" + signed_db(after - before) + ")", "Mix.ClimaxLiftsAtItsMidpoint");
    row("the climax ≥ 2 LU over the main theme", fixed(climax) + " LUFS, " + signed_db(climax - theme) + " LU", "Mix.ClimaxLiftsAtItsMidpoint");
    const measures::timbre t = measures::climax_timbre(mix);
    row("timbre: theme-to-climax similarity ≥ 0.1 under climax-to-climax (mean cosine of the bars' octave-band envelopes, "
        "less each bar's mean and the song's mean envelope)",
        fixed(t.theme_to_climax, 2) + " and " + fixed(t.climax_to_climax, 2), "Mix.ClimaxLiftsAtItsMidpoint");

    const measures::lead_rhythm rhythm = measures::lead_rhythm_of(s);
    row("≥ 15 % of lead notes start on an odd 16th or tie over the beat; no one-bar rhythm in > 30 % of lead bars; "
        "≥ 2 of the theme's 4 passes reharmonised",
        std::to_string(rhythm.syncopated) + " of " + std::to_string(rhythm.notes) + " (" + fixed(100.0 * rhythm.syncopated / rhythm.notes, 0) +
            " %); " + std::to_string(rhythm.commonest_bars) + " of " + std::to_string(rhythm.bars) + " bars; " +
            std::to_string(measures::reharmonised_theme_passes(s)) + " passes",
        "Arrangement.LeadPushesAgainstTheBeatAndTheChordsMove");

    const double bar_8 = measures::lufs(mix, song::t_build, song::t_build + song::bar_seconds),
                 bar_14 = measures::lufs(mix, song::seconds_at_bar(song::bar_build + 6), song::seconds_at_bar(song::bar_build + 7));
    row("the build-up's bar 14 ≥ 2 LU over its bar 8", fixed(bar_8) + " → " + fixed(bar_14) + " LUFS (" + signed_db(bar_14 - bar_8) + ")",
        "Mix.EnergyMovesInsideSections");
    std::string fill_list;
    for (const measures::fill_level& f : measures::fills(s, mix, r.stems.at(song::snare)))
        fill_list += (fill_list.empty() ? "" : ", ") + fixed(f.seconds, 3) + " s: " + signed_db(f.snare_lufs - f.mix_lufs);
    row("every fill's snare (stem) within 6 LU of the mix over the last half of its bar", fill_list + " LU", "Mix.EnergyMovesInsideSections");
    row("≥ 1 % of the intro's power above 2 kHz from bar 2 on",
        fixed(100.0 * measures::share_above(mix, song::seconds_at_bar(2), song::t_build, 2000.0), 2) + " %", "Mix.EnergyMovesInsideSections");
    row("≥ 48 of the 64 bars distinct (the same: chroma cosine ≥ 0.98 and envelopes within 1.5 dB RMS)",
        std::to_string(measures::distinct_bars(mix, 0.98, 1.5)), "Mix.EnergyMovesInsideSections");
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const song::score s = song::build_score();
    const measures::song_render r = measures::render_song({song::kick, song::snare, song::bass, song::lead});
    if (argc > 1 && analysis::read_wav(argv[1]).samples != r.mix) {
        std::fprintf(stderr, "soundtrack_report: %s is not what the song renders now; build the 'music' target\n", argv[1]);
        return 1;
    }
    std::printf("# Soundtrack figures\n\n");
    std::printf("Written by `scripts/soundtrack_report.sh` from a render of the song, the same bytes as `data/music.wav`; "
                "edit the song, not this page. The loudness over time is drawn in "
                "[soundtrack-loudness.png](soundtrack-loudness.png).\n\n");
    sections(r);
    balance(r);
    targets(s, r);
    return 0;
}
