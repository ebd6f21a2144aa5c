// picture_review: measures how the picture looks, section by section, on
// frames rendered by tessary-capture. scripts/picture_review.sh drives it;
// the measures themselves are bench/picture_measures.h, which the picture
// tests share.
//
//   picture_review look DIR FIRST_T STEP
//       one line per frame DIR/frame_NNNNN.png: "t contrast dark black edges
//       colourfulness flat r g b" (r g b: the frame's mean code values).
//   picture_review motion DIR FIRST_T STEP [PREVIOUS.png]
//       one line per frame: "t mad Y Y1 Y2 Y3 Y4", the mean absolute luma
//       difference from the frame before (-1 for the first without
//       PREVIOUS.png), then the mean relative luminance of the frame and of
//       its quarters.
//   picture_review pair BEFORE.png AFTER.png
//       "ratio rising": how AFTER answers a kick against BEFORE.
//   picture_review alias SMALL.png BIG.png
//       "mean off": SMALL against BIG box-filtered down to its size.
//   picture_review sparkle DIR
//       "share t_index": the largest sparkle share over three frames in a
//       row, and the index of the middle one.
//   picture_review report LOOK MOTION KICKS ALIAS SPARKLE COST OUT.md
//       the measured tables and the targets, as markdown. KICKS lines are
//       "t ratio rising", ALIAS lines "t mean off", SPARKLE "from to share",
//       COST lines "section median_ms" with a "flat median_ms" line.
#include "picture_measures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using measures::read_png;
using measures::rgb_image;

[[noreturn]] void die(const std::string &message) {
    std::fprintf(stderr, "picture_review: %s\n", message.c_str());
    std::exit(1);
}

rgb_image must_read(const std::string &path) {
    rgb_image img;
    if (!read_png(path, img)) die("cannot read " + path);
    return img;
}

std::string frame_path(const std::string &dir, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%05d.png", i);
    return dir + name;
}

int look(const std::string &dir, double first, double step) {
    rgb_image img;
    for (int i = 0; read_png(frame_path(dir, i), img); ++i) {
        measures::look m = measures::measure_look(img);
        double mean[3] = {0, 0, 0};
        for (size_t k = 0; k < img.rgb.size(); ++k) mean[k % 3] += img.rgb[k];
        double n = static_cast<double>(img.rgb.size() / 3);
        std::printf("%.4f %.2f %.4f %.4f %.2f %.2f %.4f %.1f %.1f %.1f\n", first + i * step, m.contrast, m.dark, m.black, m.edges,
                    m.colourfulness, m.flat, mean[0] / n, mean[1] / n, mean[2] / n);
    }
    return 0;
}

int motion(const std::string &dir, double first, double step, const char *previous) {
    rgb_image img;
    std::vector<float> before;
    if (previous && read_png(previous, img)) before = measures::luma_plane(img);
    for (int i = 0; read_png(frame_path(dir, i), img); ++i) {
        std::vector<float> l = measures::luma_plane(img);
        double mad = -1;
        if (before.size() == l.size()) {
            mad = 0;
            for (size_t k = 0; k < l.size(); ++k) mad += std::fabs(l[k] - before[k]);
            mad /= static_cast<double>(l.size());
        }
        std::vector<double> y = measures::region_luminance(img);
        std::printf("%.5f %.3f %.5f %.5f %.5f %.5f %.5f\n", first + i * step, mad, y[0], y[1], y[2], y[3], y[4]);
        before = std::move(l);
    }
    return 0;
}

int sparkle(const std::string &dir) {
    std::vector<rgb_image> frames;
    for (rgb_image img; read_png(frame_path(dir, static_cast<int>(frames.size())), img);) frames.push_back(img);
    double worst = 0;
    int at = 0;
    for (size_t i = 1; i + 1 < frames.size(); ++i) {
        double s = measures::sparkle_share(frames[i - 1], frames[i], frames[i + 1]);
        if (s > worst) {
            worst = s;
            at = static_cast<int>(i);
        }
    }
    std::printf("%.5f %d\n", worst, at);
    return 0;
}

// ---- report ----

std::vector<std::vector<double>> read_columns(const std::string &path) {
    std::ifstream in(path);
    if (!in) die("cannot read " + path);
    std::vector<std::vector<double>> rows;
    for (std::string line; std::getline(in, line);) {
        std::istringstream s(line);
        std::vector<double> row;
        for (double v; s >> v;) row.push_back(v);
        if (!row.empty()) rows.push_back(row);
    }
    return rows;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

struct section {
    const char *name;
    double start, end;
};

const section sections[] = {
    {"intro", 0, 16}, {"build-up", 16, 32}, {"main theme", 32, 64}, {"breakdown", 64, 80}, {"climax", 80, 112}, {"outro", 112, 128},
};

struct verdicts {
    int missed = 0;
    const char *mark(bool ok) {
        missed += !ok;
        return ok ? "yes" : "**no**";
    }
};

int report(char **argv) {
    auto looks = read_columns(argv[0]);
    auto motion = read_columns(argv[1]);
    auto kicks = read_columns(argv[2]);
    auto alias = read_columns(argv[3]);
    auto sparkles = read_columns(argv[4]);
    auto cost = read_columns(argv[5]);
    std::ofstream md(argv[6]);
    verdicts v;
    char row[512];

    // per section: medians of the look, mean MAD at 60 fps, cost
    const int look_columns = 6;
    std::vector<std::vector<double>> med(6, std::vector<double>(look_columns));
    std::vector<double> mad(6), section_cost(6);
    for (int s = 0; s < 6; ++s) {
        for (int c = 0; c < look_columns; ++c) {
            std::vector<double> values;
            for (const auto &r : looks)
                if (r.size() > 6 && r[0] >= sections[s].start && r[0] < sections[s].end) values.push_back(r[1 + c]);
            med[s][c] = median(values);
        }
        double sum = 0;
        long n = 0;
        for (const auto &r : motion)
            if (r.size() > 1 && r[1] >= 0 && r[0] >= sections[s].start && r[0] < sections[s].end) {
                sum += r[1];
                ++n;
            }
        mad[s] = n ? sum / n : 0.0;
        section_cost[s] = s < static_cast<int>(cost.size()) && cost[s].size() > 1 ? cost[s][1] : 0.0;
    }
    double flat_cost = cost.size() > 6 && cost[6].size() > 1 ? cost[6][1] : 0.0;

    md << "| section | luma contrast p95-p5 | dark (luma <= 48) | black (<= 16) | edge density (mean Sobel) | colourfulness | flat 16x16 blocks | mean MAD at 60 fps | cost (median ms) |\n";
    md << "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (int s = 0; s < 6; ++s) {
        std::snprintf(row, sizeof row, "| %s | %.0f | %.1f %% | %.1f %% | %.0f | %.0f | %.0f %% | %.1f | %.1f |\n", sections[s].name, med[s][0],
                      100 * med[s][1], 100 * med[s][2], med[s][3], med[s][4], 100 * med[s][5], mad[s], section_cost[s]);
        md << row;
    }

    md << "\n| target | measured | met |\n|---|---|---|\n";
    bool highest = true;
    for (int s = 0; s < 6; ++s) highest = highest && (s == 4 || med[s][0] < med[4][0]);
    std::snprintf(row, sizeof row, "| climax: contrast >= 170 and the highest | %.0f (next %.0f) | %s |\n", med[4][0],
                  std::max({med[0][0], med[1][0], med[2][0], med[3][0], med[5][0]}), v.mark(med[4][0] >= 170 && highest));
    md << row;
    std::snprintf(row, sizeof row, "| climax: dark >= 15 %%, edges >= 30, colourfulness >= the theme's (%.0f) | %.0f %%, %.0f, %.0f | %s |\n",
                  med[2][4], 100 * med[4][1], med[4][3], med[4][4], v.mark(med[4][1] >= 0.15 && med[4][3] >= 30 && med[4][4] >= med[2][4]));
    md << row;
    std::snprintf(row, sizeof row, "| flat blocks <= 20 %% in the theme and the climax | %.0f %%, %.0f %% | %s |\n", 100 * med[2][5],
                  100 * med[4][5], v.mark(med[2][5] <= 0.2 && med[4][5] <= 0.2));
    md << row;
    std::snprintf(row, sizeof row, "| the drops move at least as much as the build-up (mean MAD, %.1f) | theme %.1f, climax %.1f | %s |\n", mad[1],
                  mad[2], mad[4], v.mark(mad[2] >= mad[1] && mad[4] >= mad[1]));
    md << row;

    // kicks
    double ratio_lo = 1e9, ratio_hi = 0, rise_lo = 1e9, rise_hi = 0;
    for (const auto &r : kicks) {
        if (r.size() < 3) continue;
        ratio_lo = std::min(ratio_lo, r[1]);
        ratio_hi = std::max(ratio_hi, r[1]);
        rise_lo = std::min(rise_lo, r[2]);
        rise_hi = std::max(rise_hi, r[2]);
    }
    std::snprintf(row, sizeof row, "| kicks in 32.5-40 and 80.5-88 s: frame-mean ratio 1.2-1.4 | %.2f-%.2f (%zu kicks) | %s |\n", ratio_lo,
                  ratio_hi, kicks.size(), v.mark(!kicks.empty() && ratio_lo >= 1.2 && ratio_hi <= 1.4));
    md << row;
    std::snprintf(row, sizeof row, "| kicks: 5-40 %% of pixels rise by more than 30 levels | %.0f-%.0f %% | %s |\n", 100 * rise_lo, 100 * rise_hi,
                  v.mark(!kicks.empty() && rise_lo >= 0.05 && rise_hi <= 0.4));
    md << row;

    // aliasing
    for (const auto &r : alias) {
        if (r.size() < 3) continue;
        std::snprintf(row, sizeof row, "| city at %.1f s against 4x4 supersampling: mean error <= 3.0, <= 3 %% off by > 24 | %.2f, %.1f %% | %s |\n",
                      r[0], r[1], 100 * r[2], v.mark(r[1] <= 3.0 && r[2] <= 0.03));
        md << row;
    }

    // flashes: frame and quarters, sliding one-second windows
    double step = motion.size() > 1 ? motion[1][0] - motion[0][0] : 1.0 / 60;
    int window = static_cast<int>(std::lround(1.0 / step));
    const char *regions[] = {"frame", "top left", "top right", "bottom left", "bottom right"};
    double worst = 0;
    std::string worst_where;
    for (int r = 0; r < 5; ++r) {
        std::vector<double> y;
        for (const auto &m : motion)
            if (m.size() > static_cast<size_t>(2 + r)) y.push_back(m[2 + r]);
        measures::flash_peak p = measures::worst_flash_window(measures::luminance_transitions(y), window);
        if (p.flashes > worst || worst_where.empty()) {
            worst = p.flashes;
            char where[96];
            std::snprintf(where, sizeof where, "%s, from %.2f s", regions[r], motion.empty() ? 0.0 : motion[0][0] + p.from * step);
            worst_where = where;
        }
    }
    std::snprintf(row, sizeof row, "| at most 3 flashes in any one-second window, frame and quarters (aim: 2) | %.1f (%s) | %s |\n", worst,
                  worst_where.c_str(), v.mark(worst <= 3.0));
    md << row;

    for (const auto &r : sparkles) {
        if (r.size() < 3) continue;
        std::snprintf(row, sizeof row, "| sparkle at %.0f-%.0f s: <= 0.5 %% of pixels | %.2f %% | %s |\n", r[0], r[1], 100 * r[2], v.mark(r[2] <= 0.005));
        md << row;
    }

    // cost
    std::vector<double> costs(section_cost.begin(), section_cost.end());
    double median_section = median(costs);
    double top = *std::max_element(costs.begin(), costs.end());
    int top_at = static_cast<int>(std::max_element(costs.begin(), costs.end()) - costs.begin());
    std::snprintf(row, sizeof row, "| no section costs over 1.15x the median section (%.1f ms) | %s %.2fx | %s |\n", median_section,
                  sections[top_at].name, median_section > 0 ? top / median_section : 0.0, v.mark(median_section > 0 && top <= 1.15 * median_section));
    md << row;
    if (flat_cost > 0) {
        std::snprintf(row, sizeof row, "| sections against a flat shader (%.2f ms) | %.0fx (median section), %.0fx (highest) | - |\n", flat_cost,
                      median_section / flat_cost, top / flat_cost);
        md << row;
    }
    md << "\n" << (v.missed ? std::to_string(v.missed) + " target(s) missed." : std::string("Every target met.")) << "\n";
    std::printf("picture_review: %s\n", v.missed ? (std::to_string(v.missed) + " target(s) missed").c_str() : "every target met");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "look" && argc == 5) return look(argv[2], std::atof(argv[3]), std::atof(argv[4]));
    if (mode == "motion" && (argc == 5 || argc == 6)) return motion(argv[2], std::atof(argv[3]), std::atof(argv[4]), argc == 6 ? argv[5] : nullptr);
    if (mode == "pair" && argc == 4) {
        measures::kick_answer k = measures::measure_kick(must_read(argv[2]), must_read(argv[3]));
        std::printf("%.4f %.4f\n", k.ratio, k.rising);
        return 0;
    }
    if (mode == "alias" && argc == 4) {
        rgb_image small = must_read(argv[2]), big = must_read(argv[3]);
        if (small.width == 0 || big.width % small.width) die("BIG must be a whole multiple of SMALL");
        measures::alias_error e = measures::measure_aliasing(small, big, big.width / small.width);
        std::printf("%.3f %.5f\n", e.mean, e.off);
        return 0;
    }
    if (mode == "sparkle" && argc == 3) return sparkle(argv[2]);
    if (mode == "report" && argc == 9) return report(argv + 2);
    std::fprintf(stderr,
                 "usage: picture_review look DIR FIRST_T STEP\n"
                 "       picture_review motion DIR FIRST_T STEP [PREVIOUS.png]\n"
                 "       picture_review pair BEFORE.png AFTER.png\n"
                 "       picture_review alias SMALL.png BIG.png\n"
                 "       picture_review sparkle DIR\n"
                 "       picture_review report LOOK MOTION KICKS ALIAS SPARKLE COST OUT.md\n");
    return 2;
}
