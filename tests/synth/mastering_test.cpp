// Limiter, loudness normalisation and the WAV writer.
#include "analysis.h"
#include "dsp.h"
#include "master.h"
#include "render.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace {

constexpr int rate = synth::sample_rate;

double true_peak_db(const std::vector<float>& interleaved) {
    ebur128_state* st = ebur128_init(2, rate, EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(st, interleaved.data(), interleaved.size() / 2);
    double l = 0.0, r = 0.0;
    ebur128_true_peak(st, 0, &l);
    ebur128_true_peak(st, 1, &r);
    ebur128_destroy(&st);
    return 20.0 * std::log10(std::max(l, r));
}

// Quiet tone, then a loud passage including a quarter-rate tone whose
// samples miss its crests (its true peak is 3 dB above its samples), then
// quiet again.
std::vector<float> test_signal() {
    std::vector<float> x;
    for (int i = 0; i < 5 * rate; ++i) {
        const double t = static_cast<double>(i) / rate;
        double l = 0.3 * std::sin(2 * M_PI * 997.0 * t), r = 0.3 * std::sin(2 * M_PI * 501.0 * t);
        if (t >= 2.0 && t < 3.0) {
            l = 0.9 * std::sin(2 * M_PI * 997.0 * t) + 0.5 * std::sin(2 * M_PI * 60.0 * t);
            r = 1.2 * std::sin(M_PI / 2 * i + M_PI / 4);
        }
        x.push_back(static_cast<float>(l));
        x.push_back(static_cast<float>(r));
    }
    return x;
}

synth::stereo_buffer test_mix(int seconds) {
    // Pulsing chords over noise: some dynamics for the limiter to work on.
    synth::stereo_buffer mix;
    synth::noise_source noise(99u);
    for (int i = 0; i < seconds * rate; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double pulse = std::exp(-8.0 * std::fmod(t, 0.5));
        const double tone = 0.3 * std::sin(2 * M_PI * 220.0 * t) + 0.2 * std::sin(2 * M_PI * 330.0 * t);
        mix.left.push_back(static_cast<float>(0.4 * pulse * std::sin(2 * M_PI * 55.0 * t) + tone + 0.05 * noise.next()));
        mix.right.push_back(static_cast<float>(0.4 * pulse * std::sin(2 * M_PI * 55.0 * t) + 0.8 * tone + 0.05 * noise.next()));
    }
    return mix;
}

}  // namespace

TEST(Mastering, LimiterHoldsTheCeilingAndLeavesQuietPartsAlone) {
    const std::vector<float> original = test_signal();
    ASSERT_GT(true_peak_db(original), 0.5);
    std::vector<float> x = original;
    const float ceiling_db = -1.5f;
    synth::limit(x, synth::db_to_gain(ceiling_db), rate);
    EXPECT_LE(true_peak_db(x), ceiling_db + 0.1);
    // Untouched well before the loud part, and back to unity after it.
    for (size_t i = 0; i < 2 * static_cast<size_t>(1.9 * rate); ++i) ASSERT_EQ(x[i], original[i]) << "frame " << i / 2;
    for (size_t i = 2 * static_cast<size_t>(4.0 * rate); i < x.size(); ++i) ASSERT_NEAR(x[i], original[i], 0.003f) << "frame " << i / 2;
    // The limiter only turns down: it may not add a step where it acts.
    std::vector<float> left(x.size() / 2);
    for (size_t i = 0; i < left.size(); ++i) left[i] = x[2 * i];
    EXPECT_LT(analysis::max_step(left, 0, left.size()), 0.2f);
}

TEST(Mastering, MeetsTargetsAndRepeatsItself) {
    const synth::stereo_buffer mix = test_mix(20);
    const synth::master_result a = synth::master(mix, synth::master_settings{});
    ASSERT_EQ(a.pcm.size(), 2 * mix.left.size());

    const analysis::loudness measured = analysis::measure_loudness(a.pcm, rate);
    ASSERT_TRUE(measured.measured);
    EXPECT_NEAR(measured.integrated_lufs, -14.0, 0.25);
    EXPECT_LE(measured.true_peak_db, -1.0);
    EXPECT_NEAR(a.final.integrated_lufs, measured.integrated_lufs, 1e-6) << "the reported loudness is the file's";

    const synth::master_result b = synth::master(mix, synth::master_settings{});
    EXPECT_TRUE(a.pcm == b.pcm) << "dither and limiter must be deterministic";
}

TEST(Mastering, WavRoundTrip) {
    std::vector<int16_t> pcm;
    for (int i = 0; i < 1000; ++i) pcm.push_back(static_cast<int16_t>((i * 7919) % 65536 - 32768));
    const std::string path = testing::TempDir() + "synth_roundtrip.wav";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(synth::write_wav(f, pcm, 2, rate));
    std::fclose(f);
    const analysis::wav w = analysis::read_wav(path);
    std::remove(path.c_str());
    EXPECT_EQ(w.error, "");
    EXPECT_TRUE(w.canonical_header);
    EXPECT_EQ(w.format, 1);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, rate);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.block_align, 4);
    EXPECT_EQ(w.byte_rate, rate * 4);
    EXPECT_EQ(w.samples, pcm);
}
