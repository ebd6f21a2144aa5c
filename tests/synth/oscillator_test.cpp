// Oscillator pitch and band-limiting.
#include "analysis.h"
#include "dsp.h"
#include "song.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr double rate = synth::sample_rate;

std::vector<float> render(synth::waveform w, double hz, double seconds) {
    synth::oscillator osc(w);
    osc.set_frequency(hz);
    std::vector<float> out(static_cast<size_t>(seconds * rate));
    for (float& v : out) v = osc.next();
    return out;
}

// Strongest component that is not within a few bins of a harmonic of f0,
// in dB relative to the fundamental.
double worst_alias_db(const std::vector<float>& x, double f0) {
    size_t n = 0;
    const std::vector<double> mag = analysis::spectrum(x, n);
    const double bin_hz = rate / static_cast<double>(n);
    const long guard = 8;  // Blackman-Harris main lobe and then some
    std::vector<bool> near_harmonic(mag.size(), false);
    for (double h = f0; h < rate / 2; h += f0) {
        const long centre = std::lround(h / bin_hz);
        for (long k = centre - guard; k <= centre + guard; ++k)
            if (k >= 0 && k < static_cast<long>(mag.size())) near_harmonic[k] = true;
    }
    const long fundamental = std::lround(f0 / bin_hz);
    double reference = 0.0;
    for (long k = fundamental - 2; k <= fundamental + 2; ++k) reference = std::max(reference, mag[k]);
    double worst = 0.0;
    for (size_t k = static_cast<size_t>(20.0 / bin_hz); k < mag.size(); ++k)
        if (!near_harmonic[k]) worst = std::max(worst, mag[k]);
    return 20.0 * std::log10(std::max(worst, 1e-300) / reference);
}

// The highest note any saw voice plays in the song.
double highest_song_note_hz() {
    int top = 0;
    for (const song::note& n : song::build_score().notes)
        if (song::is_pitched(n.track)) top = std::max(top, n.pitch);
    return synth::midi_to_hz(static_cast<float>(top));
}

}  // namespace

TEST(Oscillator, A4IsAt440Hz) {
    for (synth::waveform w : {synth::waveform::sine, synth::waveform::saw, synth::waveform::square}) {
        const std::vector<float> x = render(w, synth::midi_to_hz(69.0f), 3.0);
        EXPECT_NEAR(analysis::peak_frequency(x, rate, 420.0, 460.0), 440.0, 0.1) << "waveform " << static_cast<int>(w);
    }
    // Other octaves land where equal temperament puts them.
    for (int note : {33, 57, 81, 93}) {
        const double expected = 440.0 * std::pow(2.0, (note - 69) / 12.0);
        const std::vector<float> x = render(synth::waveform::saw, synth::midi_to_hz(static_cast<float>(note)), 2.0);
        EXPECT_NEAR(analysis::peak_frequency(x, rate, expected * 0.97, expected * 1.03), expected, expected * 2e-4)
            << "MIDI note " << note;
    }
}

TEST(Oscillator, HighNotesDoNotAlias) {
    const double song_top = highest_song_note_hz();
    // The song reaches into the range where naive oscillators alias badly.
    EXPECT_GT(song_top, 3000.0);
    for (double hz : {song_top, song_top * std::pow(2.0, 14.0 / 1200.0), 3000.0, 4186.0, 5000.0}) {
        for (synth::waveform w : {synth::waveform::saw, synth::waveform::square}) {
            const std::vector<float> x = render(w, hz, 0.7);
            EXPECT_LT(worst_alias_db(x, hz), -60.0) << hz << " Hz, waveform " << static_cast<int>(w);
        }
    }
}

TEST(Oscillator, AliasMeasurementSeesANaiveSaw) {
    // The same measurement on a trivially generated saw must fail badly,
    // or the test above proves nothing.
    const double hz = 4186.0;
    std::vector<float> x(static_cast<size_t>(0.7 * rate));
    double phase = 0.0;
    for (float& v : x) {
        v = static_cast<float>(2.0 * phase - 1.0);
        phase += hz / rate;
        if (phase >= 1.0) phase -= 1.0;
    }
    EXPECT_GT(worst_alias_db(x, hz), -40.0);
}
