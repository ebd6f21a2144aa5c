// picture_arc: measures the picture's energy arc on frames rendered by
// tessary-capture and draws it. scripts/picture_arc.sh drives it.
//
//   picture_arc stats DIR FIRST_T STEP [PREVIOUS.png]
//       one line per frame DIR/frame_NNNNN.png: "t luma mad centre black",
//       where luma is the frame's mean Rec. 709 luma (0-255), mad the mean
//       absolute luma difference from the frame before (from PREVIOUS.png
//       for the first frame, else -1), centre the mean luma of the middle
//       third of the frame and black the share of pixels below 20/255.
//   picture_arc compare DIR_A DIR_B FIRST_T STEP TOP BOTTOM
//       one line per frame pair: "t share", the share of pixels in rows
//       [TOP, BOTTOM) (fractions of the height from the top) whose largest
//       channel difference is over 16 levels.
//   picture_arc pixel DIR FIRST_T STEP
//       "t r g b": the first pixel of each frame, for probes that write a
//       number into it.
//   picture_arc report STATS SHADER MUSIC.wav CITY BAND TUNNEL OUT.md OUT.mvg
//       the targets, as a markdown section, and the plot as ImageMagick
//       vector graphics. CITY and BAND are `compare` output, TUNNEL `pixel`
//       output of the tunnel probe: the tunnel's tile coordinate along its
//       length at time t, whole tiles (mod 256) in green, the fraction in red.
//
// Kick, clap and hit times come from the song block of the shader, the same
// table the picture itself follows.
#include "picture_measures.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const std::string &message) {
    std::fprintf(stderr, "picture_arc: %s\n", message.c_str());
    std::exit(1);
}

using image = measures::rgb_image;
using measures::read_png;

std::string frame_path(const std::string &dir, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%05d.png", i);
    return dir + name;
}

int stats(const std::string &dir, double first, double step, const char *previous) {
    std::vector<float> before;
    image img;
    if (previous && read_png(previous, img)) before = measures::luma_plane(img);
    for (int i = 0; read_png(frame_path(dir, i), img); ++i) {
        std::vector<float> l = measures::luma_plane(img);
        double sum = 0, diff = 0, centre = 0;
        long black = 0, centre_n = 0;
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                size_t k = static_cast<size_t>(y) * img.width + x;
                sum += l[k];
                black += l[k] < 20.0f;
                if (!before.empty()) diff += std::fabs(l[k] - before[k]);
                if (3 * x >= img.width && 3 * x < 2 * img.width && 3 * y >= img.height && 3 * y < 2 * img.height) {
                    centre += l[k];
                    ++centre_n;
                }
            }
        double n = static_cast<double>(l.size());
        std::printf("%.5f %.3f %.3f %.3f %.5f\n", first + i * step, sum / n, before.empty() ? -1.0 : diff / n,
                    centre / std::max(centre_n, 1L), black / n);
        before = std::move(l);
    }
    return 0;
}

// The colour of the first pixel of each frame, "t r g b".
int pixel(const std::string &dir, double first, double step) {
    image img;
    for (int i = 0; read_png(frame_path(dir, i), img); ++i)
        std::printf("%.5f %d %d %d\n", first + i * step, img.rgb[0], img.rgb[1], img.rgb[2]);
    return 0;
}

int compare(const std::string &a, const std::string &b, double first, double step, double top, double bottom) {
    image ia, ib;
    for (int i = 0; read_png(frame_path(a, i), ia) && read_png(frame_path(b, i), ib); ++i) {
        if (ia.width != ib.width || ia.height != ib.height) die("frames of different sizes");
        int y0 = static_cast<int>(top * ia.height), y1 = static_cast<int>(bottom * ia.height);
        long off = 0, n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < ia.width; ++x, ++n) {
                size_t k = (static_cast<size_t>(y) * ia.width + x) * 3;
                int worst = 0;
                for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(ia.rgb[k + c] - ib.rgb[k + c]));
                off += worst > 16;
            }
        std::printf("%.5f %.6f\n", first + i * step, n ? static_cast<double>(off) / n : 0.0);
    }
    return 0;
}

// ---- report ----

struct frame {
    double t, luma, mad, centre, black;
};

std::vector<std::vector<double>> read_columns(const std::string &path) {
    std::ifstream in(path);
    if (!in) die("cannot read " + path);
    std::vector<std::vector<double>> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::vector<double> row;
        for (double v; s >> v;) row.push_back(v);
        if (!row.empty()) rows.push_back(row);
    }
    return rows;
}

std::string read_text(const std::string &path) {
    std::ifstream in(path);
    if (!in) die("cannot read " + path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

double glsl_float(const std::string &text, const std::string &name) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(R"(const\s+(?:float|int)\s+)" + name + R"(\s*=\s*([-0-9.]+)\s*;)")))
        die("no " + name + " in the shader");
    return std::stod(m[1]);
}

// The values of `const TYPE NAME[...] = TYPE[...](...)` in the shader.
std::vector<double> glsl_array(const std::string &text, const std::string &name) {
    std::smatch m;
    std::regex decl(name + R"(\s*\[[^\]]*\]\s*=\s*\w+\s*\[[^\]]*\]\s*\(([^)]*)\))");
    if (!std::regex_search(text, m, decl)) die("no " + name + " in the shader");
    std::vector<double> values;
    std::string body = m[1];
    std::replace(body.begin(), body.end(), ',', ' ');
    std::istringstream s(body);
    // entries are numbers or the names of constants
    for (std::string word; s >> word;)
        values.push_back(std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '-' ? std::stod(word) : glsl_float(text, word));
    return values;
}

struct song {
    double bar = 2.0;
    std::vector<double> section;  // starts of intro .. outro, then the end
    std::vector<double> kicks, claps;
    std::vector<double> hit_time;
    std::vector<int> hit_kind;
    std::map<std::string, int> kind;
};

song read_song(const std::string &shader) {
    std::string text = read_text(shader);
    song s;
    s.bar = glsl_float(text, "BAR");
    for (const char *name : {"T_INTRO", "T_BUILD", "T_THEME", "T_BREAK", "T_CLIMAX", "T_OUTRO", "T_END"})
        s.section.push_back(glsl_float(text, name));
    auto steps = [&](const std::string &name, std::vector<double> &out) {
        std::vector<double> masks = glsl_array(text, name);
        for (size_t b = 0; b < masks.size(); ++b)
            for (int step = 0; step < 16; ++step)
                if ((static_cast<long>(masks[b]) >> step) & 1) out.push_back(b * s.bar + step * s.bar / 16.0);
    };
    steps("KICK_STEPS", s.kicks);
    steps("CLAP_STEPS", s.claps);
    s.hit_time = glsl_array(text, "HIT_TIME");
    for (double k : glsl_array(text, "HIT_KIND")) s.hit_kind.push_back(static_cast<int>(k));
    if (s.hit_time.size() != s.hit_kind.size()) die("HIT_TIME and HIT_KIND differ in length");
    for (const char *name : {"CRASH", "IMPACT", "FILL", "ROLL", "STOP", "SILENCE", "NEW", "FINAL", "FADE"})
        s.kind[name] = static_cast<int>(glsl_float(text, std::string("HIT_") + name));
    return s;
}

std::string kind_name(const song &s, int kind) {
    for (const auto &[name, k] : s.kind)
        if (k == kind) return name;
    return "?";
}

// Frames from `from` (inclusive) to `to` (exclusive).
std::vector<const frame *> between(const std::vector<frame> &frames, double from, double to) {
    std::vector<const frame *> out;
    for (const frame &f : frames)
        if (f.t >= from - 1e-6 && f.t < to - 1e-6) out.push_back(&f);
    return out;
}

const frame *frame_before(const std::vector<frame> &frames, double t) {
    const frame *best = nullptr;
    for (const frame &f : frames)
        if (f.t < t - 1e-6) best = &f;
    return best;
}

struct response {
    double ratio = 0, mad = 0;
};

// The luminance ratio and the largest MAD over the `window` seconds from t,
// against the frame just before t.
response respond(const std::vector<frame> &frames, double t, double window) {
    response r;
    const frame *before = frame_before(frames, t);
    for (const frame *f : between(frames, t, t + window + 1e-3)) {
        if (before && before->luma > 0) r.ratio = std::max(r.ratio, f->luma / before->luma);
        r.mad = std::max(r.mad, f->mad);
    }
    return r;
}

// Peak over trough of the mean luma around each kick: the peak in the
// 100 ms from it, the trough in the 250 ms before.
double pulse_depth(const std::vector<frame> &frames, double t) {
    double peak = 0, trough = 1e9;
    for (const frame *f : between(frames, t, t + 0.1)) peak = std::max(peak, f->luma);
    for (const frame *f : between(frames, t - 0.25, t)) trough = std::min(trough, f->luma);
    return trough > 0 && trough < 1e9 ? peak / trough : 0.0;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

double mean(const std::vector<double> &v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? 0.0 : sum / v.size();
}

// RMS level of the music per `step` seconds, dBFS, from a 16-bit PCM WAV.
std::vector<double> audio_level(const std::string &path, double step, double length) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot read " + path);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    auto u16 = [&](size_t at) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8); };
    if (bytes.size() < 44 || std::string(bytes.data(), 4) != "RIFF") die(path + " is not a WAV file");
    size_t at = 12, data = 0, data_size = 0;
    uint32_t channels = 2, rate = 48000, bits = 16;
    while (at + 8 <= bytes.size()) {
        std::string id(bytes.data() + at, 4);
        uint32_t size = u32(at + 4);
        if (id == "fmt ") {
            channels = u16(at + 10);
            rate = u32(at + 12);
            bits = u16(at + 22);
        } else if (id == "data") {
            data = at + 8;
            data_size = std::min<size_t>(size, bytes.size() - data);
            break;
        }
        at += 8 + size + (size & 1);
    }
    if (!data || bits != 16) die(path + ": expected 16-bit PCM");
    size_t frames = data_size / (2 * channels);
    std::vector<double> level;
    for (double t = 0; t < length; t += step) {
        size_t a = static_cast<size_t>(t * rate), b = std::min(frames, static_cast<size_t>((t + step) * rate));
        double sum = 0;
        for (size_t i = a; i < b; ++i)
            for (uint32_t c = 0; c < channels; ++c) {
                double v = static_cast<int16_t>(u16(data + 2 * (i * channels + c))) / 32768.0;
                sum += v * v;
            }
        double rms = b > a ? std::sqrt(sum / ((b - a) * channels)) : 0.0;
        level.push_back(20.0 * std::log10(std::max(rms, 1e-5)));
    }
    return level;
}

const char *const section_names[] = {"intro", "build-up", "main theme", "breakdown", "climax", "outro"};

struct pass_fail {
    int failed = 0;
    std::string mark(bool ok) {
        failed += !ok;
        return ok ? "yes" : "**no**";
    }
};

int report(char **argv) {
    std::vector<frame> frames;
    for (const auto &row : read_columns(argv[0]))
        if (row.size() >= 5) frames.push_back({row[0], row[1], row[2], row[3], row[4]});
    if (frames.size() < 2) die("too few frames in " + std::string(argv[0]));
    song s = read_song(argv[1]);
    double step = frames[1].t - frames[0].t;
    double length = frames.back().t + step;
    std::vector<double> level = audio_level(argv[2], step, length);
    auto city = read_columns(argv[3]);
    auto band = read_columns(argv[4]);
    auto tunnel = read_columns(argv[5]);
    std::ofstream md(argv[6]);
    pass_fail verdict;

    md << "## Picture arc\n\n";
    md << "Written by `scripts/picture_arc.sh`: the whole show captured at " << std::lround(1.0 / step)
       << " fps, measured on the frames. MAD is the mean absolute luma difference (0-255) between consecutive frames; "
          "luma is the frame's mean Rec. 709 luma. Kicks, claps and hits come from the shader's song block.\n\n";
    md << "![MAD and luminance over the show, with the sections, hits and the music's level](picture-arc.png)\n\n";

    // per section
    md << "| Section | Mean MAD | Mean luma | Kick pulse depth (median) | MAD on clap beats / on plain kicks | Near-black share |\n";
    md << "|---|---:|---:|---:|---:|---:|\n";
    std::vector<double> section_mad(6), section_depth(6);
    for (int i = 0; i < 6; ++i) {
        double a = s.section[i], b = s.section[i + 1];
        std::vector<double> mads, lumas, blacks, depths, clap_peaks, plain_peaks;
        for (const frame *f : between(frames, a, b)) {
            if (f->mad >= 0) mads.push_back(f->mad);
            lumas.push_back(f->luma);
            blacks.push_back(f->black);
        }
        for (double k : s.kicks)
            if (k >= a && k < b) {
                depths.push_back(pulse_depth(frames, k));
                bool on_clap = std::any_of(s.claps.begin(), s.claps.end(), [&](double c) { return std::fabs(c - k) < 1e-6; });
                (on_clap ? clap_peaks : plain_peaks).push_back(respond(frames, k, 0.05).mad);
            }
        section_mad[i] = mean(mads);
        section_depth[i] = median(depths);
        char row[256];
        std::snprintf(row, sizeof row, "| %s | %.1f | %.1f | %s | %s | %.0f %% |\n", section_names[i], section_mad[i], mean(lumas),
                      depths.empty() ? "-" : (std::to_string(section_depth[i]).substr(0, 4)).c_str(),
                      clap_peaks.empty() || plain_peaks.empty() ? "-" : std::to_string(median(clap_peaks) / median(plain_peaks)).substr(0, 4).c_str(),
                      100.0 * mean(blacks));
        md << row;
    }
    md << "\n| Target | Measured | Met |\n|---|---|---|\n";
    char row[512];
    // the arc peaks at the drops, through motion and light: their kicks
    // light part of the frame, they do not pump the whole of it
    for (int drop : {2, 4}) {
        std::snprintf(row, sizeof row, "| %s: mean MAD at least the build-up's (%.1f) | %.1f | %s |\n", section_names[drop], section_mad[1],
                      section_mad[drop], verdict.mark(section_mad[drop] >= section_mad[1]).c_str());
        md << row;
        double drop_t = s.section[drop];
        std::vector<double> kicks_after;
        for (double k : s.kicks)
            if (k > drop_t + 1e-6 && kicks_after.size() < 2) kicks_after.push_back(k);
        for (double k : kicks_after) {
            double r = respond(frames, k, 0.0).ratio;
            std::snprintf(row, sizeof row, "| kick at %.2f s: 1.2-1.4x the luminance of the frame before | %.2fx | %s |\n", k, r,
                          verdict.mark(r >= 1.2 && r <= 1.4).c_str());
            md << row;
        }
    }
    // white frames
    double longest = 0, run = 0, run_start = 0, longest_at = 0;
    for (const frame &f : frames) {
        if (f.centre > 200) {
            if (run == 0) run_start = f.t;
            run += step;
            if (run > longest) {
                longest = run;
                longest_at = run_start;
            }
        } else {
            run = 0;
        }
    }
    std::snprintf(row, sizeof row, "| no white frame (centre luma > 200) for more than 0.25 s | longest %.2f s%s | %s |\n", longest,
                  longest > 0 ? (" at " + std::to_string(longest_at).substr(0, 6) + " s").c_str() : "", verdict.mark(longest <= 0.25 + 1e-6).c_str());
    md << row;
    // the silent beat and the drop
    for (size_t i = 0; i < s.hit_time.size(); ++i) {
        if (s.hit_kind[i] != s.kind["SILENCE"]) continue;
        double a = s.hit_time[i], b = a + 0.5;
        for (size_t j = i + 1; j < s.hit_time.size(); ++j)
            if (s.hit_time[j] > a) {
                b = s.hit_time[j];
                break;
            }
        // the first frame of the silence still differs from the last that moved
        double worst = 0;
        for (const frame *f : between(frames, a + step, b)) worst = std::max(worst, f->mad);
        response drop = respond(frames, b, 0.0);
        std::snprintf(row, sizeof row, "| silent beat %.2f-%.2f s: MAD under 5 from its second frame on | largest %.2f | %s |\n", a, b, worst,
                      verdict.mark(worst < 5).c_str());
        md << row;
        std::snprintf(row, sizeof row, "| the drop at %.2f s: luminance ratio at least 2 | %.2fx | %s |\n", b, drop.ratio, verdict.mark(drop.ratio >= 2).c_str());
        md << row;
    }
    // every hit lands
    // several kinds can share a time: a time lands unless all there is the silence or the fade
    md << "\n| Hit | Kinds | Luminance ratio (100 ms) | Largest MAD (100 ms) | Lands |\n|---:|---|---:|---:|---|\n";
    for (size_t i = 0; i < s.hit_time.size();) {
        size_t j = i;
        std::string kinds;
        bool lands = false;
        for (; j < s.hit_time.size() && s.hit_time[j] == s.hit_time[i]; ++j) {
            kinds += (kinds.empty() ? "" : ", ") + kind_name(s, s.hit_kind[j]);
            lands = lands || (s.hit_kind[j] != s.kind["SILENCE"] && s.hit_kind[j] != s.kind["FADE"]);
        }
        if (lands) {
            response r = respond(frames, s.hit_time[i], 0.1);
            std::snprintf(row, sizeof row, "| %.3f | %s | %.2fx | %.1f | %s |\n", s.hit_time[i], kinds.c_str(), r.ratio, r.mad,
                          verdict.mark(r.ratio >= 1.5 || r.mad >= 20).c_str());
            md << row;
        }
        i = j;
    }
    // the climax, the breakdown, the tunnel, the city
    md << "\n| Target | Measured | Met |\n|---|---|---|\n";
    std::vector<double> climax_black;
    for (const frame *f : between(frames, s.section[4], s.section[5])) climax_black.push_back(f->black);
    std::snprintf(row, sizeof row, "| climax: under 35 %% near-black pixels (< 20/255) | %.1f %% | %s |\n", 100 * mean(climax_black),
                  verdict.mark(mean(climax_black) < 0.35).c_str());
    md << row;
    std::snprintf(row, sizeof row, "| breakdown: mean MAD at least 2 | %.2f | %s |\n", section_mad[3], verdict.mark(section_mad[3] >= 2).c_str());
    md << row;
    double band_worst = 0;
    for (const auto &r : band) band_worst = std::max(band_worst, r.size() > 1 ? r[1] : 0.0);
    std::snprintf(row, sizeof row, "| breakdown: the greetings' band clear of the planet (band pixels the planet changes by > 16 levels while they show) | at most %.2f %% | %s |\n",
                  100 * band_worst, verdict.mark(!band.empty() && band_worst < 0.005).c_str());
    md << row;
    double tiles_worst = 0, tiles_at = 0;
    auto tiles = [](const std::vector<double> &r) { return r.size() > 2 ? r[2] + r[1] / 255.0 : 0.0; };
    for (size_t i = 1; i < tunnel.size(); ++i) {
        double d = std::fabs(std::remainder(tiles(tunnel[i]) - tiles(tunnel[i - 1]), 256.0));
        if (d > tiles_worst) {
            tiles_worst = d;
            tiles_at = tunnel[i][0];
        }
    }
    std::snprintf(row, sizeof row, "| tunnel: at most 0.25 tiles per frame at 60 fps | at most %.3f (at %.2f s) | %s |\n", tiles_worst, tiles_at,
                  verdict.mark(!tunnel.empty() && tiles_worst <= 0.25).c_str());
    md << row;
    double city_worst = 0, city_at = 0;
    std::vector<double> city_shares;
    for (const auto &r : city) {
        if (r.size() < 2) continue;
        city_shares.push_back(r[1]);
        if (r[1] > city_worst) {
            city_worst = r[1];
            city_at = r[0];
        }
    }
    std::snprintf(row, sizeof row, "| city: under 1 %% of the top third off by > 16 levels against a high-budget render | mean %.2f %%, worst %.2f %% (at %.1f s) | %s |\n",
                  100 * mean(city_shares), 100 * city_worst, city_at, verdict.mark(!city.empty() && city_worst < 0.01).c_str());
    md << row;
    md << "\n" << (verdict.failed ? std::to_string(verdict.failed) + " target(s) missed." : std::string("Every target met.")) << "\n";

    // ---- the plot ----
    std::ofstream mvg(argv[7]);
    // H is the plot's height; the legend has a row of its own below it.
    const int W = 1800, H = 720, L = 70, R = 20, legend_row = 24;
    const double plot_w = W - L - R;
    auto x_of = [&](double t) { return L + plot_w * t / length; };
    struct panel {
        const char *name;
        int top, height;
        double lo, hi;
    };
    const panel panels[] = {{"mean luma", 40, 190, 0, 255}, {"MAD", 270, 190, 0, 60}, {"music dBFS", 500, 150, -60, 0}};
    mvg << "viewbox 0 0 " << W << " " << H + legend_row << "\n";
    mvg << "fill '#141414' rectangle 0,0 " << W << "," << H + legend_row << "\n";
    mvg << "font '/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf' font-size 14\n";
    const char *shades[] = {"#1d1d24", "#24201d"};
    for (int i = 0; i < 6; ++i) {
        mvg << "fill '" << shades[i % 2] << "' stroke none rectangle " << x_of(s.section[i]) << ",30 " << x_of(s.section[i + 1]) << "," << H - 40 << "\n";
        mvg << "fill '#bbbbbb' text " << x_of(s.section[i]) + 4 << ",24 '" << section_names[i] << "'\n";
    }
    for (const panel &p : panels) {
        mvg << "fill none stroke '#555555' stroke-width 1 rectangle " << L << "," << p.top << " " << W - R << "," << p.top + p.height << "\n";
        mvg << "stroke none fill '#cccccc' text 6," << p.top + 14 << " '" << p.name << "'\n";
        mvg << "text 6," << p.top + p.height << " '" << p.lo << "'\n";
        mvg << "text 6," << p.top + 30 << " '" << p.hi << "'\n";
    }
    auto y_of = [&](const panel &p, double v) { return p.top + p.height * (1.0 - std::clamp((v - p.lo) / (p.hi - p.lo), 0.0, 1.0)); };
    auto polyline = [&](const panel &p, const char *colour, const std::vector<std::pair<double, double>> &points) {
        mvg << "fill none stroke '" << colour << "' stroke-width 1 polyline";
        for (const auto &[t, v] : points) mvg << " " << x_of(t) << "," << y_of(p, v);
        mvg << "\n";
    };
    std::vector<std::pair<double, double>> lumas, mads, levels;
    for (const frame &f : frames) {
        lumas.push_back({f.t, f.luma});
        if (f.mad >= 0) mads.push_back({f.t, f.mad});
    }
    for (size_t i = 0; i < level.size(); ++i) levels.push_back({i * step, level[i]});
    polyline(panels[0], "#f0c040", lumas);
    polyline(panels[1], "#40c8f0", mads);
    polyline(panels[2], "#a0a0a0", levels);
    // hits: a red line through all panels and the kind's initial
    for (size_t i = 0; i < s.hit_time.size(); ++i) {
        double x = x_of(s.hit_time[i]);
        mvg << "stroke '#e04040' stroke-width 1 line " << x << ",40 " << x << "," << H - 70 << "\n";
        mvg << "stroke none fill '#e06060' text " << x - 4 << "," << H - 52 + 14 * (i % 2) << " '" << kind_name(s, s.hit_kind[i]).substr(0, 1) << "'\n";
    }
    for (int sec = 0; sec <= static_cast<int>(length); sec += 8)
        mvg << "stroke none fill '#999999' text " << x_of(sec) - 8 << "," << H - 12 << " '" << sec << " s'\n";
    mvg << "fill '#777777' text " << L << "," << H + legend_row - 8 << " 'hits: C crash, I impact, F fill/final/fade, R roll, S stop/silence, N new'\n";
    std::printf("picture_arc: %s\n", verdict.failed ? (std::to_string(verdict.failed) + " target(s) missed").c_str() : "every target met");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "stats" && (argc == 5 || argc == 6)) return stats(argv[2], std::atof(argv[3]), std::atof(argv[4]), argc == 6 ? argv[5] : nullptr);
    if (mode == "compare" && argc == 8)
        return compare(argv[2], argv[3], std::atof(argv[4]), std::atof(argv[5]), std::atof(argv[6]), std::atof(argv[7]));
    if (mode == "pixel" && argc == 5) return pixel(argv[2], std::atof(argv[3]), std::atof(argv[4]));
    if (mode == "report" && argc == 10) return report(argv + 2);
    std::fprintf(stderr,
                 "usage: picture_arc stats DIR FIRST_T STEP [PREVIOUS.png]\n"
                 "       picture_arc pixel DIR FIRST_T STEP\n"
                 "       picture_arc compare DIR_A DIR_B FIRST_T STEP TOP BOTTOM\n"
                 "       picture_arc report STATS SHADER MUSIC.wav CITY BAND TUNNEL OUT.md OUT.mvg\n");
    return 2;
}
