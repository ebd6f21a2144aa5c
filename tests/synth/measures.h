// The soundtrack's targets, measured on a render of the song: the mix (the
// samples of data/music.wav) and stems, single tracks mastered with the mix
// (tessary-synth --solo). The synth tests hold the song to them; the report
// tool writes them into docs/soundtrack.md.
#pragma once

#include "render.h"
#include "song.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace measures {

constexpr int rate = 48000;

struct song_render {
    std::vector<int16_t> mix;                   // interleaved 16-bit stereo
    std::map<int, std::vector<int16_t>> stems;  // by track, mastered as the mix
    synth::track_levels levels;                 // each track after its fader, before mastering
    double mastering_gain_db = 0.0;             // what mastering added to every track
};

// Renders and masters the song as the build does, with a stem of each track
// in `solo`.
song_render render_song(const std::vector<int>& solo);


// A stem the build rendered: DIR/<track's name>.wav's samples, none if it
// cannot be read.
std::vector<int16_t> stem_file(const std::string& dir, int track);

// One channel (0 left, 1 right), and the mid signal (L + R) / 2, of [from,
// to) seconds.
std::vector<float> channel(const std::vector<int16_t>& pcm, int ch, double from, double to);
std::vector<float> mid(const std::vector<int16_t>& pcm, double from, double to);

// The median L/R correlation of the 250 ms windows of [from, to) seconds.
double median_correlation(const std::vector<int16_t>& pcm, double from, double to);

// Integrated loudness of [from, to) seconds; -inf where silent.
double lufs(const std::vector<int16_t>& pcm, double from, double to);

// Bars [first, last).
struct bars {
    int first, last;
};
// The two drops: the main theme and the climax.
std::vector<bars> drops();

// Low end. Per sixteenth of the beat, over every beat of the drops: the
// bass stem's energy between 30 and 130 Hz over the kick stem's, in dB.
std::array<double, 4> bass_over_kick_db(const std::vector<int16_t>& kick, const std::vector<int16_t>& bass);

// The strongest pitch class (0 = C) between 38 and 130 Hz in each bar of
// the mix, and the chord's root from the chart.
struct low_pitch {
    int bar, strongest, root;
};
std::vector<low_pitch> low_pitches(const std::vector<int16_t>& mix, const song::score& s);

// One track's stem over [from, to) seconds.
struct stem_figures {
    double lufs;          // integrated
    double centroid_hz;   // analysis::spectral_centroid of the mid
    double correlation;   // L against R
    double mono_loss_db;  // the mid's power against the mean of L's and R's: 0 when L = R, 3 when unrelated
};
stem_figures stem(const std::vector<int16_t>& pcm, double from, double to);

// Timbre: each bar's spectral envelope is its octave-band levels from 40 Hz
// to 10 kHz (analysis::band_levels_db of the mid: coarse enough that the
// notes played do not show) less their mean over the bands, so loudness
// drops out, less the song's mean envelope, so what is left is how the
// bar's sound differs from the song's. The similarity of two sets of bars
// is the mean cosine of their envelopes over every pair of different bars.
struct timbre {
    double theme_to_climax, climax_to_climax;
};
timbre climax_timbre(const std::vector<int16_t>& mix);

// Distinct bars: two bars sound the same when their chroma (analysis::
// pitch_class_power of the mid, 65 Hz to 2 kHz) has a cosine of at least
// `same_chroma` and their spectral envelopes (as for the timbre, less each
// bar's mean only) differ by at most `same_envelope_db` RMS. Bars are taken
// in order; each joins the first group whose first bar sounds the same, or
// starts a group. Returns the number of groups.
int distinct_bars(const std::vector<int16_t>& mix, double same_chroma, double same_envelope_db);

// Share of the power of [from, to) seconds of the mix above `hz`.
double share_above(const std::vector<int16_t>& mix, double from, double to, double hz);

// Fills: for each fill of the timeline, the loudness of the snare stem, the
// drum that plays the fills, and of the mix over the last half of the fill's
// bar.
struct fill_level {
    double seconds;  // where the fill starts
    double snare_lufs, mix_lufs;
};
std::vector<fill_level> fills(const song::score& s, const std::vector<int16_t>& mix, const std::vector<int16_t>& snare);

// The lead's rhythm, read from the score.
struct lead_rhythm {
    int notes = 0;
    int syncopated = 0;       // start on an odd 16th, or start off the beat and hold across the next
    int bars = 0;             // bars where a lead note starts
    int commonest_bars = 0;   // bars that share the commonest one-bar rhythm (starts and lengths)
};
lead_rhythm lead_rhythm_of(const song::score& s);

// The main theme's four-bar passes whose chords are not plain Am F C G.
int reharmonised_theme_passes(const song::score& s);

}  // namespace measures
