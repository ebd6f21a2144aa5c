#include "measures.h"

#include "analysis.h"
#include "master.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace measures {

namespace {

size_t frame(double seconds) { return static_cast<size_t>(std::llround(seconds * rate)); }

double bar_start(int bar) { return song::seconds_at_bar(bar); }

// A chord symbol's root as a pitch class: "F#m" is 6.
int root_of(const std::string& chord) {
    const size_t length = chord.size() > 1 && (chord[1] == '#' || chord[1] == 'b') ? 2 : 1;
    return song::parse_note(chord.substr(0, length) + "4") % 12;
}

// A bar's octave-band levels less their mean over the bands.
std::vector<double> envelope(const std::vector<int16_t>& mix, int bar) {
    std::vector<double> e = analysis::band_levels_db(mid(mix, bar_start(bar), bar_start(bar + 1)), rate, 1);
    const double mean = std::accumulate(e.begin(), e.end(), 0.0) / static_cast<double>(e.size());
    for (double& v : e) v -= mean;
    return e;
}

double rms_difference(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return std::sqrt(sum / static_cast<double>(a.size()));
}

}  // namespace

song_render render_song(const std::vector<int>& solo) {
    song_render r;
    std::vector<synth::stereo_buffer> stems;
    const synth::stereo_buffer mix =
        synth::render_score(song::build_score(), [](double) {}, &r.levels, song::file_seconds, solo, &stems);
    const synth::master_result mastered = synth::master(mix, synth::master_settings{});
    r.mix = mastered.pcm;
    r.mastering_gain_db = 20.0 * std::log10(mastered.gain);
    for (size_t k = 0; k < solo.size(); ++k) r.stems[solo[k]] = synth::master_stem(stems[k], mastered);
    return r;
}

std::vector<int16_t> stem_file(const std::string& dir, int track) {
    const analysis::wav w = analysis::read_wav(dir + "/" + song::track_name(track) + ".wav");
    return w.error.empty() && w.channels == 2 && w.rate == rate ? w.samples : std::vector<int16_t>();
}

std::vector<float> channel(const std::vector<int16_t>& pcm, int ch, double from, double to) {
    const size_t frames = pcm.size() / 2, a = std::min(frames, frame(from)), b = std::min(frames, frame(to));
    std::vector<float> x(b > a ? b - a : 0);
    for (size_t i = 0; i < x.size(); ++i) x[i] = pcm[2 * (a + i) + ch] / 32768.0f;
    return x;
}

std::vector<float> mid(const std::vector<int16_t>& pcm, double from, double to) {
    std::vector<float> l = channel(pcm, 0, from, to);
    const std::vector<float> r = channel(pcm, 1, from, to);
    for (size_t i = 0; i < l.size(); ++i) l[i] = 0.5f * (l[i] + r[i]);
    return l;
}

double median_correlation(const std::vector<int16_t>& pcm, double from, double to) {
    const std::vector<float> l = channel(pcm, 0, from, to), r = channel(pcm, 1, from, to);
    std::vector<double> c;
    for (size_t a = 0; a + frame(0.25) <= l.size(); a += frame(0.25)) c.push_back(analysis::correlation(l, r, a, a + frame(0.25)));
    std::sort(c.begin(), c.end());
    return c.empty() ? NAN : c[c.size() / 2];
}

double lufs(const std::vector<int16_t>& pcm, double from, double to) { return analysis::integrated_lufs(pcm, rate, from, to); }

std::vector<bars> drops() { return {{song::bar_theme, song::bar_break}, {song::bar_climax, song::bar_outro}}; }

std::array<double, 4> bass_over_kick_db(const std::vector<int16_t>& kick, const std::vector<int16_t>& bass) {
    std::array<double, 4> energy[2] = {};
    const std::vector<int16_t>* stems[2] = {&kick, &bass};
    for (const bars& drop : drops()) {
        const double from = bar_start(drop.first), to = bar_start(drop.last);
        for (int k = 0; k < 2; ++k) {
            const std::vector<float> band = analysis::lowpass(analysis::highpass(mid(*stems[k], from, to), rate, 30.0), rate, 130.0);
            const size_t sixteenth = frame(song::step_seconds);
            for (size_t i = 0; i < band.size(); ++i) energy[k][(i / sixteenth) % 4] += static_cast<double>(band[i]) * band[i];
        }
    }
    std::array<double, 4> db;
    for (int s = 0; s < 4; ++s) db[s] = 10.0 * std::log10((energy[1][s] + 1e-20) / (energy[0][s] + 1e-20));
    return db;
}

std::vector<low_pitch> low_pitches(const std::vector<int16_t>& mix, const song::score& s) {
    std::vector<low_pitch> out;
    for (const bars& drop : drops()) {
        for (int bar = drop.first; bar < drop.last; ++bar) {
            const std::vector<double> classes = analysis::pitch_class_power(mid(mix, bar_start(bar), bar_start(bar + 1)), rate, 38.0, 130.0);
            const int strongest = static_cast<int>(std::max_element(classes.begin(), classes.end()) - classes.begin());
            out.push_back({bar, strongest, root_of(s.chords[bar])});
        }
    }
    return out;
}

stem_figures stem(const std::vector<int16_t>& pcm, double from, double to) {
    const std::vector<float> l = channel(pcm, 0, from, to), r = channel(pcm, 1, from, to), m = mid(pcm, from, to);
    stem_figures f;
    f.lufs = lufs(pcm, from, to);
    f.centroid_hz = analysis::spectral_centroid(m, rate);
    f.correlation = analysis::correlation(l, r, 0, l.size());
    const double sides = 0.5 * (std::pow(10.0, analysis::rms_db(l, 0, l.size()) / 10.0) + std::pow(10.0, analysis::rms_db(r, 0, r.size()) / 10.0));
    f.mono_loss_db = 10.0 * std::log10(sides) - analysis::rms_db(m, 0, m.size());
    return f;
}

timbre climax_timbre(const std::vector<int16_t>& mix) {
    std::vector<std::vector<double>> e;
    std::vector<double> mean;
    for (int bar = 0; bar < song::bar_end; ++bar) {
        e.push_back(envelope(mix, bar));
        mean.resize(e.back().size());
        for (size_t i = 0; i < mean.size(); ++i) mean[i] += e.back()[i] / song::bar_end;
    }
    for (std::vector<double>& v : e)
        for (size_t i = 0; i < v.size(); ++i) v[i] -= mean[i];
    const auto similarity = [&](int a_first, int a_last, int b_first, int b_last) {
        double sum = 0.0;
        int pairs = 0;
        for (int x = a_first; x < a_last; ++x)
            for (int y = b_first; y < b_last; ++y)
                if (x != y) sum += analysis::cosine(e[x], e[y]), ++pairs;
        return sum / pairs;
    };
    return {similarity(song::bar_theme, song::bar_break, song::bar_climax, song::bar_outro),
            similarity(song::bar_climax, song::bar_outro, song::bar_climax, song::bar_outro)};
}

int distinct_bars(const std::vector<int16_t>& mix, double same_chroma, double same_envelope_db) {
    std::vector<std::vector<double>> chroma, env;
    std::vector<int> leaders;
    for (int bar = 0; bar < song::bar_end; ++bar) {
        chroma.push_back(analysis::pitch_class_power(mid(mix, bar_start(bar), bar_start(bar + 1)), rate, 65.0, 2000.0));
        env.push_back(envelope(mix, bar));
        bool joined = false;
        for (int leader : leaders) {
            if (analysis::cosine(chroma[bar], chroma[leader]) >= same_chroma && rms_difference(env[bar], env[leader]) <= same_envelope_db) {
                joined = true;
                break;
            }
        }
        if (!joined) leaders.push_back(bar);
    }
    return static_cast<int>(leaders.size());
}

double share_above(const std::vector<int16_t>& mix, double from, double to, double hz) {
    return 1.0 - analysis::energy_share_below(mid(mix, from, to), rate, hz);
}

std::vector<fill_level> fills(const song::score& s, const std::vector<int16_t>& mix, const std::vector<int16_t>& snare) {
    std::vector<fill_level> out;
    for (const song::hit& h : song::song_events(s).hits) {
        if (h.kind != song::hit_fill) continue;
        const int bar = static_cast<int>(h.seconds / song::bar_seconds);
        const double from = bar_start(bar) + 0.5 * song::bar_seconds, to = bar_start(bar + 1);
        out.push_back({h.seconds, lufs(snare, from, to), lufs(mix, from, to)});
    }
    return out;
}

lead_rhythm lead_rhythm_of(const song::score& s) {
    lead_rhythm r;
    std::map<int, std::vector<std::pair<int, int>>> rhythm;  // bar -> (start, length)
    for (const song::note& n : s.notes) {
        if (n.track != song::lead) continue;
        ++r.notes;
        const int in_beat = n.step % song::steps_per_beat;
        r.syncopated += n.step % 2 == 1 || (in_beat != 0 && in_beat + n.length > song::steps_per_beat);
        rhythm[n.step / song::steps_per_bar].push_back({n.step % song::steps_per_bar, n.length});
    }
    std::map<std::vector<std::pair<int, int>>, int> count;
    for (const auto& [bar, notes] : rhythm) ++count[notes];
    r.bars = static_cast<int>(rhythm.size());
    for (const auto& [notes, bars] : count) r.commonest_bars = std::max(r.commonest_bars, bars);
    return r;
}

int reharmonised_theme_passes(const song::score& s) {
    const std::vector<std::string> plain = {"Am", "F", "C", "G"};
    int passes = 0;
    for (int bar = song::bar_theme; bar + 4 <= song::bar_break; bar += 4)
        passes += !std::equal(plain.begin(), plain.end(), s.chords.begin() + bar);
    return passes;
}

}  // namespace measures
