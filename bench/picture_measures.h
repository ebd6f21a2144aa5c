// What a viewer sees in a frame, measured on 8-bit RGB pixels: the picture
// review's and the picture arc's tools (bench/picture_review.cpp,
// bench/picture_arc.cpp) and the picture tests share it, so the figures in
// docs/picture.md and the tests' targets mean the same.
// Luma is Rec. 709 on the sRGB code values (0-255); relative luminance is
// the linear-light Y (0-1) that photosensitivity guidance counts flashes in.
#ifndef TESSARY_PICTURE_MEASURES_H
#define TESSARY_PICTURE_MEASURES_H

#include <png.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace measures {

struct rgb_image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

// An 8-bit RGB PNG (tessary-capture's frames); false if it is missing or unreadable.
inline bool read_png(const std::string &path, rgb_image &img) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_RGB;
    img.rgb.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, img.rgb.data(), 0, nullptr)) return false;
    img.width = static_cast<int>(png.width);
    img.height = static_cast<int>(png.height);
    return true;
}

inline std::vector<float> luma_plane(const rgb_image &img) {
    std::vector<float> l(static_cast<size_t>(img.width) * img.height);
    for (size_t i = 0; i < l.size(); ++i)
        l[i] = 0.2126f * img.rgb[3 * i] + 0.7152f * img.rgb[3 * i + 1] + 0.0722f * img.rgb[3 * i + 2];
    return l;
}

inline double mean_of(const std::vector<float> &v) {
    double sum = 0;
    for (float x : v) sum += x;
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
}

// How a frame looks: the figures the picture's targets are set in.
struct look {
    double contrast = 0;       // luma p95 - p5
    double dark = 0;           // share of pixels with luma <= 48
    double black = 0;          // ... <= 16
    double edges = 0;          // mean Sobel magnitude of luma
    double colourfulness = 0;  // Hasler and Suesstrunk's M, on code values
    double flat = 0;           // share of 16x16 blocks whose luma std is under 2.5
};

inline look measure_look(const rgb_image &img) {
    look m;
    const int w = img.width, h = img.height;
    if (w < 3 || h < 3) return m;
    std::vector<float> l = luma_plane(img);
    std::vector<float> sorted = l;
    auto percentile = [&](double p) {
        size_t k = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1));
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(k), sorted.end());
        return static_cast<double>(sorted[k]);
    };
    m.contrast = percentile(0.95) - percentile(0.05);
    long dark = 0, black = 0;
    double rg_sum = 0, yb_sum = 0, rg_sq = 0, yb_sq = 0;
    for (size_t i = 0; i < l.size(); ++i) {
        dark += l[i] <= 48.0f;
        black += l[i] <= 16.0f;
        double r = img.rgb[3 * i], g = img.rgb[3 * i + 1], b = img.rgb[3 * i + 2];
        double rg = r - g, yb = 0.5 * (r + g) - b;
        rg_sum += rg;
        yb_sum += yb;
        rg_sq += rg * rg;
        yb_sq += yb * yb;
    }
    double n = static_cast<double>(l.size());
    m.dark = dark / n;
    m.black = black / n;
    double rg_mean = rg_sum / n, yb_mean = yb_sum / n;
    double rg_var = std::max(rg_sq / n - rg_mean * rg_mean, 0.0), yb_var = std::max(yb_sq / n - yb_mean * yb_mean, 0.0);
    m.colourfulness = std::sqrt(rg_var + yb_var) + 0.3 * std::sqrt(rg_mean * rg_mean + yb_mean * yb_mean);
    double sobel = 0;
    auto at = [&](int x, int y) { return static_cast<double>(l[static_cast<size_t>(y) * w + x]); };
    for (int y = 1; y + 1 < h; ++y)
        for (int x = 1; x + 1 < w; ++x) {
            double gx = at(x + 1, y - 1) + 2 * at(x + 1, y) + at(x + 1, y + 1) - at(x - 1, y - 1) - 2 * at(x - 1, y) - at(x - 1, y + 1);
            double gy = at(x - 1, y + 1) + 2 * at(x, y + 1) + at(x + 1, y + 1) - at(x - 1, y - 1) - 2 * at(x, y - 1) - at(x + 1, y - 1);
            sobel += std::sqrt(gx * gx + gy * gy);
        }
    m.edges = sobel / (static_cast<double>(w - 2) * (h - 2));
    long blocks = 0, flat = 0;
    for (int by = 0; by + 16 <= h; by += 16)
        for (int bx = 0; bx + 16 <= w; bx += 16) {
            double s = 0, sq = 0;
            for (int y = by; y < by + 16; ++y)
                for (int x = bx; x < bx + 16; ++x) {
                    s += at(x, y);
                    sq += at(x, y) * at(x, y);
                }
            double mean = s / 256, var = std::max(sq / 256 - mean * mean, 0.0);
            ++blocks;
            flat += std::sqrt(var) < 2.5;
        }
    m.flat = blocks ? static_cast<double>(flat) / blocks : 0.0;
    return m;
}

// How a frame answers a kick, from the frame before it.
struct kick_answer {
    double ratio = 0;   // mean luma after / before
    double rising = 0;  // share of pixels whose luma rises by more than 30
};

inline kick_answer measure_kick(const rgb_image &before, const rgb_image &after) {
    kick_answer k;
    std::vector<float> a = luma_plane(before), b = luma_plane(after);
    if (a.empty() || a.size() != b.size()) return k;
    long rising = 0;
    for (size_t i = 0; i < a.size(); ++i) rising += b[i] - a[i] > 30.0f;
    k.ratio = mean_of(b) / std::max(mean_of(a), 1e-3);
    k.rising = static_cast<double>(rising) / static_cast<double>(a.size());
    return k;
}

// A frame against a reference rendered `scale` times larger, box-filtered
// down to the frame's size: what the edges lose to aliasing.
struct alias_error {
    double mean = 0;  // mean absolute luma error
    double off = 0;   // share of pixels off by more than 24
};

inline alias_error measure_aliasing(const rgb_image &img, const rgb_image &big, int scale) {
    alias_error e;
    if (big.width != img.width * scale || big.height != img.height * scale || img.width == 0) return e;
    std::vector<float> l = luma_plane(img), r = luma_plane(big);
    double sum = 0;
    long off = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            double ref = 0;
            for (int dy = 0; dy < scale; ++dy)
                for (int dx = 0; dx < scale; ++dx) ref += r[static_cast<size_t>(y * scale + dy) * big.width + x * scale + dx];
            double d = std::fabs(l[static_cast<size_t>(y) * img.width + x] - ref / (scale * scale));
            sum += d;
            off += d > 24.0;
        }
    double n = static_cast<double>(l.size());
    e.mean = sum / n;
    e.off = off / n;
    return e;
}

// Share of pixels whose second difference in time (three frames in a row,
// each less its own mean luma) is over 32: points that blink on and off
// from one frame to the next, where motion only shifts them.
inline double sparkle_share(const rgb_image &a, const rgb_image &b, const rgb_image &c) {
    std::vector<float> la = luma_plane(a), lb = luma_plane(b), lc = luma_plane(c);
    if (la.empty() || la.size() != lb.size() || lb.size() != lc.size()) return 0.0;
    double ma = mean_of(la), mb = mean_of(lb), mc = mean_of(lc);
    long count = 0;
    for (size_t i = 0; i < la.size(); ++i) count += std::fabs((lc[i] - mc) - 2.0 * (lb[i] - mb) + (la[i] - ma)) > 32.0;
    return static_cast<double>(count) / static_cast<double>(la.size());
}

// ---- flashes, counted as WCAG 2.3.1 counts them ----

inline double srgb_to_linear(double code) {
    double c = code / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Mean relative luminance of the whole frame (region 0) and of each of its
// quarters (1-4: top left, top right, bottom left, bottom right).
inline std::vector<double> region_luminance(const rgb_image &img) {
    static std::vector<double> table;
    if (table.empty())
        for (int c = 0; c < 256; ++c) table.push_back(srgb_to_linear(c));
    std::vector<double> sum(5, 0.0);
    std::vector<long> count(5, 0);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const unsigned char *p = &img.rgb[(static_cast<size_t>(y) * img.width + x) * 3];
            double lum = 0.2126 * table[p[0]] + 0.7152 * table[p[1]] + 0.0722 * table[p[2]];
            int quarter = 1 + (2 * x >= img.width) + 2 * (2 * y >= img.height);
            sum[0] += lum;
            sum[quarter] += lum;
            ++count[0];
            ++count[quarter];
        }
    for (int r = 0; r < 5; ++r) sum[r] = count[r] ? sum[r] / count[r] : 0.0;
    return sum;
}

// The frames at which a luminance series makes a transition: a change of
// at least 0.1 against the extreme it last turned at, the darker side under
// 0.8. Two opposing transitions make one flash.
inline std::vector<int> luminance_transitions(const std::vector<double> &y) {
    std::vector<int> at;
    if (y.empty()) return at;
    int dir = 0;
    double lo = y[0], hi = y[0], peak = y[0];
    for (size_t i = 1; i < y.size(); ++i) {
        double v = y[i];
        if (dir == 0) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            if (v - lo >= 0.1 && lo < 0.8) {
                dir = 1;
                at.push_back(static_cast<int>(i));
            } else if (hi - v >= 0.1 && v < 0.8) {
                dir = -1;
                at.push_back(static_cast<int>(i));
            }
            peak = v;
        } else if ((v - peak) * dir > 0) {
            peak = v;
        } else if (std::fabs(v - peak) >= 0.1 && std::min(v, peak) < 0.8) {
            dir = -dir;
            peak = v;
            at.push_back(static_cast<int>(i));
        }
    }
    return at;
}

// The most flashes (transitions / 2) in any window of `window` frames, and
// the first frame of that window.
struct flash_peak {
    double flashes = 0;
    int from = 0;
};

inline flash_peak worst_flash_window(const std::vector<int> &transitions, int window) {
    flash_peak worst;
    for (size_t i = 0, j = 0; i < transitions.size(); ++i) {
        while (transitions[i] - transitions[j] >= window) ++j;
        double flashes = 0.5 * static_cast<double>(i - j + 1);
        if (flashes > worst.flashes) worst = {flashes, transitions[j]};
    }
    return worst;
}

}  // namespace measures

#endif
