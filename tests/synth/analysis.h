// Signal analysis for the synthesizer tests: spectra, pitch, WAV reading and
// a click detector. Written independently of the synth's own code.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

namespace analysis {

// Magnitude spectrum (linear) of `x` under a 4-term Blackman-Harris window,
// zero-padded to the next power of two; bin k is k * rate / size Hz.
std::vector<double> spectrum(const std::vector<float>& x, size_t& fft_size);

// Frequency of the strongest sinusoid between lo and hi Hz, found by
// maximising the Hann-windowed DTFT (accurate to well under 0.01 Hz for a
// few seconds of signal).
double peak_frequency(const std::vector<float>& x, double rate, double lo, double hi);

// Largest sample-to-sample difference in [begin, end).
float max_step(const std::vector<float>& x, size_t begin, size_t end);

struct wav {
    bool canonical_header = false;  // 44 bytes, fmt then data
    int format = 0, channels = 0, rate = 0, bits = 0, block_align = 0, byte_rate = 0;
    std::vector<int16_t> samples;  // interleaved
    std::string error;
};
wav read_wav(const std::string& path);

std::vector<char> read_bytes(const std::string& path);

// One channel of a 16-bit file as floats in [-1, 1).
std::vector<float> channel(const wav& w, int ch);

struct loudness {
    bool measured = false;  // libebur128 took every frame
    double integrated_lufs = 0.0;
    double true_peak_db = 0.0;  // the louder channel's
};
// Integrated loudness and true peak of interleaved 16-bit stereo.
loudness measure_loudness(const std::vector<int16_t>& interleaved, int rate);

// Loudness over time, one value per `hop` seconds: momentary (400 ms) and
// short-term (3 s) windows ending at (i + 1) * hop. Silence reads -inf.
struct loudness_curve {
    double hop = 0.0;
    std::vector<double> momentary, short_term;
    // The value of the window ending at `seconds` (the nearest hop).
    double momentary_at(double seconds) const;
    double short_term_at(double seconds) const;
};
loudness_curve loudness_over_time(const std::vector<int16_t>& interleaved, int rate, double hop);

// Integrated (gated) loudness of [from_s, to_s) of interleaved stereo.
double integrated_lufs(const std::vector<int16_t>& interleaved, int rate, double from_s, double to_s);

// EBU loudness range (LRA) of the whole of interleaved stereo, in LU.
double loudness_range(const std::vector<int16_t>& interleaved, int rate);

// Fourth-order Butterworth low-pass and high-pass (two cascaded biquads),
// run forward.
std::vector<float> lowpass(const std::vector<float>& x, double rate, double cutoff_hz);
std::vector<float> highpass(const std::vector<float>& x, double rate, double cutoff_hz);

// Welch power spectrum: Hann windows of `size` samples (a power of two), half
// overlapping, summed; bin k is k * rate / size Hz. Shorter signals get one
// zero-padded window.
std::vector<double> power_spectrum(const std::vector<float>& x, size_t size);

// Share of the signal's energy below `hz`, from a Welch power spectrum
// (windows of 2^16 samples).
double energy_share_below(const std::vector<float>& x, double rate, double hz);

// Spectral centroid in Hz: the mean frequency of the Welch power spectrum
// (windows of 4096 samples), weighted by power.
double spectral_centroid(const std::vector<float>& x, double rate);

// Power per pitch class (0 = C) between lo and hi Hz: each bin of the
// spectrum counts for the equal-tempered note (A4 = 440 Hz) nearest to it.
std::vector<double> pitch_class_power(const std::vector<float>& x, double rate, double lo, double hi);

// The spectral envelope: the level in dB of bands `per_octave` to the octave
// whose centres climb from 40 Hz to 16 kHz at most (octaves: 40 Hz to
// 10 kHz, 9 bands), each reaching half a band either side of its centre.
std::vector<double> band_levels_db(const std::vector<float>& x, double rate, int per_octave);

// Cosine of the angle between two vectors; 0 when either is all zeros.
double cosine(const std::vector<double>& a, const std::vector<double>& b);

// Pearson correlation of a and b over [begin, end); 1 when either is silent.
double correlation(const std::vector<float>& a, const std::vector<float>& b, size_t begin, size_t end);

// RMS of [begin, end) in dB re full scale (1.0).
double rms_db(const std::vector<float>& x, size_t begin, size_t end);

struct click {
    size_t frame;
    double score;
};
// Scores each sample of one channel by how far its third difference (a
// steep high-pass: steep enough that a bright lead's harmonics stay well
// under a step's edge) stands out from the third differences in the 5 ms
// before it and in the 5 ms after it, whichever are louder (the sample's
// neighbours left out). Isolated steps and spikes score high; noise, note
// onsets and decays stay low. Returns the highest-scoring frame.
click worst_click(const std::vector<float>& channel, double rate);

}  // namespace analysis
