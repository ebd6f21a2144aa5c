#include "master.h"

#include "dsp.h"
#include "render.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <stdexcept>
#include <thread>
#include <type_traits>

namespace synth {

namespace {

struct ebur128_deleter {
    void operator()(ebur128_state* st) const { ebur128_destroy(&st); }
};

using state_ptr = std::unique_ptr<ebur128_state, ebur128_deleter>;

template <typename T>
bool add_frames(ebur128_state* st, const T* data, size_t frames) {
    if constexpr (std::is_same_v<T, int16_t>) return ebur128_add_frames_short(st, data, frames) == EBUR128_SUCCESS;
    else return ebur128_add_frames_float(st, data, frames) == EBUR128_SUCCESS;
}

// True peak of one channel of interleaved stereo (linear), or -1 on error.
template <typename T>
double channel_true_peak(const std::vector<T>& interleaved, int channel, int rate) {
    state_ptr st(ebur128_init(1, static_cast<unsigned long>(rate), EBUR128_MODE_TRUE_PEAK));
    if (!st) return -1.0;
    std::vector<T> mono(interleaved.size() / 2);
    for (size_t i = 0; i < mono.size(); ++i) mono[i] = interleaved[2 * i + channel];
    double peak = -1.0;
    if (!add_frames(st.get(), mono.data(), mono.size()) || ebur128_true_peak(st.get(), 0, &peak) != EBUR128_SUCCESS) return -1.0;
    return peak;
}

template <typename T>
loudness measure_frames(const std::vector<T>& interleaved, int rate, bool with_peak) {
    // The true-peak oversampling is the slow part: each channel gets a thread
    // while this one measures the loudness.
    double peaks[2] = {0.0, 0.0};
    std::vector<std::thread> workers;
    if (with_peak)
        for (int ch = 0; ch < 2; ++ch)
            workers.emplace_back([&, ch] { peaks[ch] = channel_true_peak(interleaved, ch, rate); });
    state_ptr st(ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_I));
    loudness result{};
    const bool ok = st && add_frames(st.get(), interleaved.data(), interleaved.size() / 2) &&
                    ebur128_loudness_global(st.get(), &result.integrated_lufs) == EBUR128_SUCCESS;
    for (std::thread& w : workers) w.join();
    if (!ok || peaks[0] < 0.0 || peaks[1] < 0.0) throw std::runtime_error("libebur128: measurement failed");
    result.true_peak_db = 20.0 * std::log10(std::max({peaks[0], peaks[1], 1e-10}));
    return result;
}

// Windowed-sinc taps for the points a quarter, half and three quarters of
// the way to the next sample (taps at offsets -7..8).
constexpr int half_taps = 8;
struct interpolator {
    float taps[3][2 * half_taps];
    interpolator() {
        for (int phase = 0; phase < 3; ++phase) {
            const double frac = 0.25 * (phase + 1);
            double sum = 0.0;
            for (int k = 0; k < 2 * half_taps; ++k) {
                const double x = (k - half_taps + 1) - frac;
                const double sinc = x == 0.0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
                const double window = std::cos(M_PI * x / (2.0 * (half_taps + 0.5)));
                taps[phase][k] = static_cast<float>(sinc * window * window);
                sum += taps[phase][k];
            }
            for (float& t : taps[phase]) t = static_cast<float>(t / sum);
        }
    }
};

// Scales interleaved stereo frame by frame.
void apply_gain(std::vector<float>& x, const std::vector<float>& gain) {
    for (size_t n = 0; n < gain.size(); ++n) {
        x[2 * n] *= gain[n];
        x[2 * n + 1] *= gain[n];
    }
}

std::vector<float> interleave(const stereo_buffer& b) {
    std::vector<float> x(2 * b.left.size());
    for (size_t i = 0; i < b.left.size(); ++i) {
        x[2 * i] = b.left[i];
        x[2 * i + 1] = b.right[i];
    }
    return x;
}

// Triangular dither to 16 bits from a fixed seed: same input, same bytes.
std::vector<int16_t> dither(const std::vector<float>& x) {
    noise_source noise(0xd17e4u);
    std::vector<int16_t> pcm(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        const float d = noise.unit() - noise.unit();
        const float q = std::floor(x[i] * 32767.0f + d + 0.5f);
        pcm[i] = static_cast<int16_t>(std::clamp(q, -32767.0f, 32767.0f));
    }
    return pcm;
}

}  // namespace

loudness measure(const std::vector<int16_t>& interleaved, int rate) { return measure_frames(interleaved, rate, true); }
loudness measure(const std::vector<float>& interleaved, int rate) { return measure_frames(interleaved, rate, true); }

std::vector<float> limiter_gain(const std::vector<float>& x, float ceiling, int rate) {
    static const interpolator interp;
    const long frames = static_cast<long>(x.size() / 2);
    const long lookahead = rate * 3 / 2000;  // 1.5 ms
    auto at = [&](long frame, int ch) { return frame >= 0 && frame < frames ? x[2 * frame + ch] : 0.0f; };

    // Gain each frame needs; an over between two samples binds both.
    std::vector<float> need(frames, 1.0f);
    for (long n = 0; n < frames; ++n) {
        for (int ch = 0; ch < 2; ++ch) {
            float peak = std::fabs(at(n, ch));
            // Points between samples can only get near the ceiling next to loud samples.
            if (std::max(peak, std::fabs(at(n + 1, ch))) > 0.5f * ceiling) {
                for (const auto& taps : interp.taps) {
                    float v = 0.0f;
                    for (int k = 0; k < 2 * half_taps; ++k) v += taps[k] * at(n + k - half_taps + 1, ch);
                    peak = std::max(peak, std::fabs(v));
                }
            }
            if (peak > ceiling) {
                const float g = ceiling / peak;
                need[n] = std::min(need[n], g);
                if (n + 1 < frames) need[n + 1] = std::min(need[n + 1], g);
            }
        }
    }

    // Smallest need within the look-ahead, then a slow release, then a box
    // average as long as the look-ahead: the gain ramps down smoothly and is
    // already low enough when the peak arrives.
    std::vector<float> gain(frames);
    std::deque<long> window;
    for (long n = frames - 1; n >= 0; --n) {
        while (!window.empty() && need[window.back()] >= need[n]) window.pop_back();
        window.push_back(n);
        while (window.front() > n + lookahead) window.pop_front();
        gain[n] = need[window.front()];
    }
    const float release = std::exp(-1.0f / (0.08f * rate));
    float held = 1.0f;
    for (long n = 0; n < frames; ++n) {
        held = std::min(gain[n], 1.0f - (1.0f - held) * release);
        gain[n] = held;
    }
    double sum = static_cast<double>(lookahead + 1);  // frames before the start count as 1
    std::vector<float> smooth(frames);
    for (long n = 0; n < frames; ++n) {
        sum += gain[n] - (n - lookahead - 1 >= 0 ? gain[n - lookahead - 1] : 1.0f);
        smooth[n] = static_cast<float>(sum / (lookahead + 1));
    }
    for (float& g : smooth) g = std::min(g, 1.0f);
    return smooth;
}

void limit(std::vector<float>& x, float ceiling, int rate) { apply_gain(x, limiter_gain(x, ceiling, rate)); }

master_result master(const stereo_buffer& mix, const master_settings& settings) {
    const std::vector<float> source = interleave(mix);
    // The first estimate needs no peak: the limiter takes care of that.
    double gain_db = settings.target_lufs - measure_frames(source, sample_rate, false).integrated_lufs;
    double ceiling_db = settings.max_true_peak_db - 0.3;

    master_result result;
    for (result.passes = 1; result.passes <= settings.max_passes; ++result.passes) {
        result.gain = static_cast<float>(std::pow(10.0, gain_db / 20.0));
        std::vector<float> work = source;
        for (float& v : work) v *= result.gain;
        result.limiter = limiter_gain(work, static_cast<float>(std::pow(10.0, ceiling_db / 20.0)), sample_rate);
        apply_gain(work, result.limiter);
        result.pcm = dither(work);
        result.final = measure(result.pcm, sample_rate);
        const bool loud_ok = std::fabs(result.final.integrated_lufs - settings.target_lufs) <= settings.lufs_tolerance;
        const bool peak_ok = result.final.true_peak_db <= settings.max_true_peak_db - 0.05;
        if (loud_ok && peak_ok) return result;
        gain_db += settings.target_lufs - result.final.integrated_lufs;
        if (!peak_ok) ceiling_db -= result.final.true_peak_db - (settings.max_true_peak_db - 0.15);
    }
    throw std::runtime_error("mastering did not converge: " + std::to_string(result.final.integrated_lufs) + " LUFS, " +
                             std::to_string(result.final.true_peak_db) + " dBTP");
}

std::vector<int16_t> master_stem(const stereo_buffer& stem, const master_result& mix) {
    std::vector<float> work = interleave(stem);
    if (work.size() != mix.pcm.size()) throw std::invalid_argument("a stem must be as long as its mix");
    for (float& v : work) v *= mix.gain;
    apply_gain(work, mix.limiter);
    return dither(work);
}

bool write_wav(std::FILE* f, const std::vector<int16_t>& interleaved, int channels, int rate) {
    const uint32_t data_bytes = static_cast<uint32_t>(interleaved.size() * 2);
    std::vector<unsigned char> bytes;
    bytes.reserve(44 + data_bytes);
    auto tag = [&](const char* s) { bytes.insert(bytes.end(), s, s + 4); };
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    auto u16 = [&](uint32_t v) {
        bytes.push_back(static_cast<unsigned char>(v));
        bytes.push_back(static_cast<unsigned char>(v >> 8));
    };
    tag("RIFF");
    u32(36 + data_bytes);
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1);  // PCM
    u16(static_cast<uint32_t>(channels));
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate * channels * 2));
    u16(static_cast<uint32_t>(channels * 2));
    u16(16);
    tag("data");
    u32(data_bytes);
    for (int16_t s : interleaved) u16(static_cast<uint16_t>(s));
    return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

}  // namespace synth
