// Mastering: loudness normalisation, true-peak limiting, dither to 16 bits,
// and the WAV file itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace synth {

struct stereo_buffer;

struct loudness {
    double integrated_lufs;
    double true_peak_db;  // highest of both channels, dBTP
};

// EBU R128 integrated loudness and true peak (libebur128) of interleaved stereo.
loudness measure(const std::vector<int16_t>& interleaved, int rate);
loudness measure(const std::vector<float>& interleaved, int rate);

// Offline look-ahead limiter on interleaved stereo: no sample and no
// 4x-interpolated point between samples exceeds `ceiling` (linear).
void limit(std::vector<float>& interleaved, float ceiling, int rate);
// The limiter's gain, one value per frame, without applying it.
std::vector<float> limiter_gain(const std::vector<float>& interleaved, float ceiling, int rate);

struct master_settings {
    double target_lufs = -14.0;
    double max_true_peak_db = -1.0;
    double lufs_tolerance = 0.2;
    int max_passes = 8;
};

struct master_result {
    std::vector<int16_t> pcm;  // interleaved
    loudness final;
    int passes;
    float gain;                  // the scale the last pass applied
    std::vector<float> limiter;  // and the limiter's gain, per frame
};

// Scales, limits and dithers until the 16-bit result meets the targets;
// throws std::runtime_error if it cannot.
master_result master(const stereo_buffer& mix, const master_settings& settings);

// A stem of the mix (render_score's solo tracks) mastered as the mix was:
// the same scale and the same limiter movement, then the dither.
std::vector<int16_t> master_stem(const stereo_buffer& stem, const master_result& mix);

// Canonical 44-byte-header PCM WAV, 16-bit.
bool write_wav(std::FILE* f, const std::vector<int16_t>& interleaved, int channels, int rate);

}  // namespace synth
