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
    // Twiddles for the largest stage; a stage of length len uses every
    // (n / len)-th of them.
    std::vector<std::complex<double>> twiddle(n / 2);
    for (size_t k = 0; k < n / 2; ++k) twiddle[k] = std::polar(1.0, -2.0 * M_PI * static_cast<double>(k) / static_cast<double>(n));
    for (size_t len = 2; len <= n; len <<= 1) {
        const size_t stride = n / len;
        for (size_t i = 0; i < n; i += len) {
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * twiddle[k * stride];
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

std::vector<float> channel(const wav& w, int ch) {
    std::vector<float> x(w.samples.size() / 2);
    for (size_t i = 0; i < x.size(); ++i) x[i] = w.samples[2 * i + ch] / 32768.0f;
    return x;
}

click worst_click(const std::vector<float>& x, double rate) {
    const size_t n = x.size();
    const long half = static_cast<long>(0.005 * rate);
    const double floor = 6.0 / 32768.0;  // a few LSB: dither alone never counts
    std::vector<double> hp(n, 0.0), energy(n + 1, 0.0);
    for (size_t i = 3; i < n; ++i) hp[i] = static_cast<double>(x[i]) - 3.0 * x[i - 1] + 3.0 * x[i - 2] - x[i - 3];
    for (size_t i = 0; i < n; ++i) energy[i + 1] = energy[i] + hp[i] * hp[i];
    auto sum = [&](long from, long to) {  // hp^2 over [from, to)
        from = std::clamp<long>(from, 0, static_cast<long>(n));
        to = std::clamp<long>(to, 0, static_cast<long>(n));
        return to > from ? energy[to] - energy[from] : 0.0;
    };
    click worst{0, 0.0};
    for (long i = 3; i < static_cast<long>(n); ++i) {
        // A note onset has sound after it, a decay has sound before it; a
        // click stands out from both sides.
        const double before = std::sqrt(sum(i - half, i - 3) / static_cast<double>(half - 3));
        const double after = std::sqrt(sum(i + 4, i + half + 1) / static_cast<double>(half - 3));
        const double score = std::fabs(hp[i]) / (std::max(before, after) + floor);
        if (score > worst.score) worst = {static_cast<size_t>(i), score};
    }
    return worst;
}

double loudness_curve::momentary_at(double seconds) const {
    const long i = std::lround(seconds / hop) - 1;
    return i >= 0 && i < static_cast<long>(momentary.size()) ? momentary[i] : -HUGE_VAL;
}

double loudness_curve::short_term_at(double seconds) const {
    const long i = std::lround(seconds / hop) - 1;
    return i >= 0 && i < static_cast<long>(short_term.size()) ? short_term[i] : -HUGE_VAL;
}

loudness_curve loudness_over_time(const std::vector<int16_t>& interleaved, int rate, double hop) {
    loudness_curve c;
    c.hop = hop;
    ebur128_state* st = ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_S);
    if (st == nullptr) return c;
    const size_t frames = interleaved.size() / 2, step = static_cast<size_t>(std::lround(hop * rate));
    for (size_t at = 0; at + step <= frames; at += step) {
        double m = -HUGE_VAL, s = -HUGE_VAL;
        ebur128_add_frames_short(st, interleaved.data() + 2 * at, step);
        ebur128_loudness_momentary(st, &m);
        ebur128_loudness_shortterm(st, &s);
        c.momentary.push_back(m);
        c.short_term.push_back(s);
    }
    ebur128_destroy(&st);
    return c;
}

double integrated_lufs(const std::vector<int16_t>& interleaved, int rate, double from_s, double to_s) {
    const size_t frames = interleaved.size() / 2;
    const size_t a = std::min(frames, static_cast<size_t>(from_s * rate)), b = std::min(frames, static_cast<size_t>(to_s * rate));
    ebur128_state* st = ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_I);
    double lufs = -HUGE_VAL;
    if (st == nullptr) return lufs;
    if (b > a) ebur128_add_frames_short(st, interleaved.data() + 2 * a, b - a);
    ebur128_loudness_global(st, &lufs);
    ebur128_destroy(&st);
    return lufs;
}

double loudness_range(const std::vector<int16_t>& interleaved, int rate) {
    ebur128_state* st = ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_LRA);
    double lra = 0.0;
    if (st == nullptr) return lra;
    ebur128_add_frames_short(st, interleaved.data(), interleaved.size() / 2);
    ebur128_loudness_range(st, &lra);
    ebur128_destroy(&st);
    return lra;
}

namespace {

// Bilinear-transformed sections with the Butterworth Qs of a fourth order.
std::vector<float> butterworth(const std::vector<float>& x, double rate, double cutoff_hz, bool high) {
    std::vector<double> y(x.begin(), x.end());
    for (double q : {0.54119610, 1.30656296}) {
        const double w = 2.0 * M_PI * cutoff_hz / rate, alpha = std::sin(w) / (2.0 * q), cw = std::cos(w);
        const double a0 = 1.0 + alpha;
        const double b0 = (high ? 1.0 + cw : 1.0 - cw) / 2.0 / a0, b1 = (high ? -(1.0 + cw) : 1.0 - cw) / a0, b2 = b0;
        const double a1 = -2.0 * cw / a0, a2 = (1.0 - alpha) / a0;
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
        for (double& v : y) {
            const double out = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = out;
            v = out;
        }
    }
    return std::vector<float>(y.begin(), y.end());
}

}  // namespace

std::vector<float> lowpass(const std::vector<float>& x, double rate, double cutoff_hz) { return butterworth(x, rate, cutoff_hz, false); }

std::vector<float> highpass(const std::vector<float>& x, double rate, double cutoff_hz) { return butterworth(x, rate, cutoff_hz, true); }

std::vector<double> power_spectrum(const std::vector<float>& x, size_t size) {
    std::vector<double> power(size / 2 + 1, 0.0);
    std::vector<std::complex<double>> a(size);
    for (size_t start = 0; start == 0 || start + size <= x.size(); start += size / 2) {
        for (size_t i = 0; i < size; ++i) {
            const double v = start + i < x.size() ? x[start + i] : 0.0;
            a[i] = v * 0.5 * (1.0 - std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(size)));
        }
        fft(a);
        for (size_t k = 0; k < power.size(); ++k) power[k] += std::norm(a[k]);
    }
    return power;
}

double energy_share_below(const std::vector<float>& x, double rate, double hz) {
    const size_t n = 1 << 16;
    const std::vector<double> power = power_spectrum(x, n);
    double below = 0.0, total = 0.0;
    for (size_t k = 1; k < power.size(); ++k) {  // DC is no sound
        total += power[k];
        if (static_cast<double>(k) * rate / static_cast<double>(n) < hz) below += power[k];
    }
    return total > 0.0 ? below / total : 0.0;
}

double spectral_centroid(const std::vector<float>& x, double rate) {
    const size_t n = 4096;
    const std::vector<double> power = power_spectrum(x, n);
    double weighted = 0.0, total = 0.0;
    for (size_t k = 1; k < power.size(); ++k) {
        weighted += power[k] * static_cast<double>(k) * rate / static_cast<double>(n);
        total += power[k];
    }
    return total > 0.0 ? weighted / total : 0.0;
}

std::vector<double> pitch_class_power(const std::vector<float>& x, double rate, double lo, double hi) {
    size_t size = 0;
    const std::vector<double> magnitude = spectrum(x, size);
    std::vector<double> classes(12, 0.0);
    for (size_t k = 1; k < magnitude.size(); ++k) {
        const double hz = static_cast<double>(k) * rate / static_cast<double>(size);
        if (hz < lo || hz > hi) continue;
        const long note = std::lround(69.0 + 12.0 * std::log2(hz / 440.0));
        classes[static_cast<size_t>((note % 12 + 12) % 12)] += magnitude[k] * magnitude[k];
    }
    return classes;
}

std::vector<double> band_levels_db(const std::vector<float>& x, double rate, int per_octave) {
    size_t size = 0;
    const std::vector<double> magnitude = spectrum(x, size);
    std::vector<double> bands(static_cast<size_t>(per_octave * std::log2(16000.0 / 40.0)) + 1, 0.0);
    for (size_t k = 1; k < magnitude.size(); ++k) {
        const double hz = static_cast<double>(k) * rate / static_cast<double>(size);
        const long b = std::lround(per_octave * std::log2(hz / 40.0));
        if (b >= 0 && b < static_cast<long>(bands.size())) bands[static_cast<size_t>(b)] += magnitude[k] * magnitude[k];
    }
    for (double& v : bands) v = 10.0 * std::log10(v + 1e-12);
    return bands;
}

double cosine(const std::vector<double>& a, const std::vector<double>& b) {
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) ab += a[i] * b[i], aa += a[i] * a[i], bb += b[i] * b[i];
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

double correlation(const std::vector<float>& a, const std::vector<float>& b, size_t begin, size_t end) {
    double sa = 0.0, sb = 0.0, saa = 0.0, sbb = 0.0, sab = 0.0;
    end = std::min({end, a.size(), b.size()});
    const double n = static_cast<double>(end - begin);
    for (size_t i = begin; i < end; ++i) {
        sa += a[i], sb += b[i];
        saa += static_cast<double>(a[i]) * a[i], sbb += static_cast<double>(b[i]) * b[i], sab += static_cast<double>(a[i]) * b[i];
    }
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    if (va <= 1e-12 || vb <= 1e-12) return 1.0;
    return (sab - sa * sb / n) / std::sqrt(va * vb);
}

double rms_db(const std::vector<float>& x, size_t begin, size_t end) {
    double sum = 0.0;
    end = std::min(end, x.size());
    for (size_t i = begin; i < end; ++i) sum += static_cast<double>(x[i]) * x[i];
    return 10.0 * std::log10(sum / static_cast<double>(std::max<size_t>(1, end - begin)) + 1e-30);
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
