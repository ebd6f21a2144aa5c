#include "analysis.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace analysis {

namespace {

void fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * M_PI / static_cast<double>(len);
        for (size_t i = 0; i < n; i += len) {
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> w = std::polar(1.0, angle * static_cast<double>(k));
                const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

double dtft_magnitude(const std::vector<double>& windowed, double rate, double hz) {
    // Rotating phasor, renormalised now and then against drift.
    const std::complex<double> step = std::polar(1.0, -2.0 * M_PI * hz / rate);
    std::complex<double> phasor(1.0, 0.0), sum(0.0, 0.0);
    for (size_t n = 0; n < windowed.size(); ++n) {
        sum += windowed[n] * phasor;
        phasor *= step;
        if ((n & 1023) == 1023) phasor /= std::abs(phasor);
    }
    return std::abs(sum);
}

uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

std::vector<double> spectrum(const std::vector<float>& x, size_t& fft_size) {
    fft_size = 1;
    while (fft_size < x.size()) fft_size <<= 1;
    std::vector<std::complex<double>> a(fft_size);
    const double m = static_cast<double>(x.size() - 1);
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = 2.0 * M_PI * static_cast<double>(i) / m;
        const double w = 0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
        a[i] = w * x[i];
    }
    fft(a);
    std::vector<double> magnitude(fft_size / 2 + 1);
    for (size_t k = 0; k < magnitude.size(); ++k) magnitude[k] = std::abs(a[k]);
    return magnitude;
}

double peak_frequency(const std::vector<float>& x, double rate, double lo, double hi) {
    std::vector<double> windowed(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        windowed[i] = x[i] * 0.5 * (1.0 - std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(x.size() - 1)));
    // Coarse scan finer than the main lobe, then golden-section refinement.
    const double coarse = 0.05;
    double best = lo, best_mag = -1.0;
    for (double f = lo; f <= hi; f += coarse) {
        const double mag = dtft_magnitude(windowed, rate, f);
        if (mag > best_mag) best_mag = mag, best = f;
    }
    double a = best - coarse, b = best + coarse;
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    while (b - a > 1e-5) {
        const double c = b - g * (b - a), d = a + g * (b - a);
        if (dtft_magnitude(windowed, rate, c) > dtft_magnitude(windowed, rate, d)) b = d;
        else a = c;
    }
    return 0.5 * (a + b);
}

float max_step(const std::vector<float>& x, size_t begin, size_t end) {
    float worst = 0.0f;
    for (size_t i = std::max<size_t>(begin, 1); i < std::min(end, x.size()); ++i)
        worst = std::max(worst, std::fabs(x[i] - x[i - 1]));
    return worst;
}

std::vector<char> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

wav read_wav(const std::string& path) {
    wav w;
    const std::vector<char> raw = read_bytes(path);
    const auto* b = reinterpret_cast<const unsigned char*>(raw.data());
    if (raw.size() < 12 || std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0) {
        w.error = "not a RIFF/WAVE file: " + path;
        return w;
    }
    if (le32(b + 4) + 8 != raw.size()) w.error = "RIFF size does not match the file size";
    size_t pos = 12;
    bool have_fmt = false;
    while (pos + 8 <= raw.size()) {
        const uint32_t size = le32(b + pos + 4);
        const unsigned char* body = b + pos + 8;
        if (pos + 8 + size > raw.size()) {
            w.error = "chunk runs past the end of the file";
            break;
        }
        if (std::memcmp(b + pos, "fmt ", 4) == 0 && size >= 16) {
            w.format = le16(body);
            w.channels = le16(body + 2);
            w.rate = static_cast<int>(le32(body + 4));
            w.byte_rate = static_cast<int>(le32(body + 8));
            w.block_align = le16(body + 12);
            w.bits = le16(body + 14);
            have_fmt = true;
            w.canonical_header = pos == 12 && size == 16;
        } else if (std::memcmp(b + pos, "data", 4) == 0) {
            w.canonical_header = w.canonical_header && pos == 36;
            w.samples.resize(size / 2);
            for (size_t i = 0; i < w.samples.size(); ++i) w.samples[i] = static_cast<int16_t>(le16(body + 2 * i));
        }
        pos += 8 + size + (size & 1);
    }
    if (!have_fmt && w.error.empty()) w.error = "no fmt chunk";
    return w;
}

click worst_click(const std::vector<float>& x, double rate) {
    const size_t n = x.size();
    const long half = static_cast<long>(0.005 * rate);
    const double floor = 3.0 / 32768.0;  // a few LSB: dither alone never counts
    std::vector<double> hp(n, 0.0), energy(n + 1, 0.0);
    for (size_t i = 2; i < n; ++i) hp[i] = static_cast<double>(x[i]) - 2.0 * x[i - 1] + x[i - 2];
    for (size_t i = 0; i < n; ++i) energy[i + 1] = energy[i] + hp[i] * hp[i];
    auto sum = [&](long from, long to) {  // hp^2 over [from, to)
        from = std::clamp<long>(from, 0, static_cast<long>(n));
        to = std::clamp<long>(to, 0, static_cast<long>(n));
        return to > from ? energy[to] - energy[from] : 0.0;
    };
    click worst{0, 0.0};
    for (long i = 2; i < static_cast<long>(n); ++i) {
        // A note onset has sound after it, a decay has sound before it; a
        // click stands out from both sides.
        const double before = std::sqrt(sum(i - half, i - 2) / static_cast<double>(half - 2));
        const double after = std::sqrt(sum(i + 3, i + half + 1) / static_cast<double>(half - 2));
        const double score = std::fabs(hp[i]) / (std::max(before, after) + floor);
        if (score > worst.score) worst = {static_cast<size_t>(i), score};
    }
    return worst;
}

loudness measure_loudness(const std::vector<int16_t>& interleaved, int rate) {
    loudness result;
    ebur128_state* st = ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (st == nullptr) return result;
    result.measured = ebur128_add_frames_short(st, interleaved.data(), interleaved.size() / 2) == EBUR128_SUCCESS;
    double peak_l = 0.0, peak_r = 0.0;
    ebur128_loudness_global(st, &result.integrated_lufs);
    ebur128_true_peak(st, 0, &peak_l);
    ebur128_true_peak(st, 1, &peak_r);
    ebur128_destroy(&st);
    result.true_peak_db = 20.0 * std::log10(std::max(peak_l, peak_r));
    return result;
}

}  // namespace analysis
