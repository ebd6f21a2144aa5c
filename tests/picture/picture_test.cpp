// The picture, data/tessary.glsl: its text against the atlas snippet and the
// shared timeline, and stills rendered by tessary-capture at low resolution.
#include <gtest/gtest.h>

#include "picture_measures.h"
#include "scratch_dir.h"
#include "song.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cctype>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string capture_tool = CAPTURE_TOOL;
const std::string data_dir = DATA_DIR;
const std::string source_dir = SOURCE_DIR;

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string shader_text() { return read_file(data_dir + "/tessary.glsl"); }

struct image : measures::rgb_image {
    const unsigned char *at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

image read_png(const std::string &path) {
    image img;
    if (!measures::read_png(path, img)) img = image();
    return img;
}

// Runs tessary-capture on the demo's data; on failure the tool's own output
// becomes the test's failure message.
bool run_capture(const scratch_dir &dir, const std::string &args, const std::string &data = data_dir) {
    std::string log = dir.path + "/capture.log";
    std::string command = "'" + capture_tool + "' --data '" + data + "' -q " + args + " >'" + log + "' 2>&1";
    int status = std::system(command.c_str());
    if (status != 0) ADD_FAILURE() << command << " failed (" << status << "):\n" << read_file(log);
    return status == 0;
}

image render_still(double t, const std::string &size, const std::string &data = data_dir) {
    scratch_dir dir;
    std::string file = dir.path + "/still.png";
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", t);
    if (!run_capture(dir, "--still " + std::string(time) + " --size " + size + " -o '" + file + "'", data)) return image();
    image img = read_png(file);
    if (img.rgb.empty()) ADD_FAILURE() << "no readable PNG for T = " << t;
    return img;
}

// Mean absolute difference per channel, 0..1.
double mean_difference(const image &a, const image &b) {
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
    return sum / (255.0 * static_cast<double>(a.rgb.size()));
}

double mean_level(const image &img) {
    double sum = 0;
    for (unsigned char v : img.rgb) sum += v;
    return sum / (255.0 * static_cast<double>(img.rgb.size()));
}

// Rec. 709 luma of a pixel, 0..255.
double luma(const image &img, int x, int y) {
    const unsigned char *p = img.at(x, y);
    return 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
}

// Pixels in rows [y0, y1) darker by more than `margin` levels than every
// one of their eight neighbours: the dotted seams a ray that slips through
// an edge leaves.
int isolated_dark_pixels(const image &img, int y0, int y1, double margin) {
    int count = 0;
    for (int y = std::max(y0, 1); y < std::min(y1, img.height - 1); ++y)
        for (int x = 1; x + 1 < img.width; ++x) {
            double darkest_around = 255.0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (dx || dy) darkest_around = std::min(darkest_around, luma(img, x + dx, y + dy));
            count += luma(img, x, y) < darkest_around - margin;
        }
    return count;
}

// One block of the text schedule, as declared in the shader:
// vec4(first second, last second, band bottom, band top), the band in
// fractions of the screen height from the bottom.
struct text_block {
    std::string name;
    double start, end, bottom, top;
};

std::vector<text_block> text_schedule() {
    static const std::regex declaration(
        R"(const\s+vec4\s+TEXT_(\w+)\s*=\s*vec4\(\s*([-0-9.]+)\s*,\s*([-0-9.]+)\s*,\s*([-0-9.]+)\s*,\s*([-0-9.]+)\s*\)\s*;)");
    std::string text = shader_text();
    std::vector<text_block> blocks;
    for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it) {
        const std::smatch &m = *it;
        blocks.push_back({m[1], std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), std::stod(m[5])});
    }
    return blocks;
}

bool text_on_at(const std::vector<text_block> &blocks, double t) {
    for (const text_block &b : blocks)
        if (t >= b.start - 0.25 && t <= b.end + 0.25) return true;
    return false;
}

// Share of a band's pixels that are white letter fill right beside a dark
// outline, the signature of the SDF text: the scenes' highlights are never
// that white next to that dark.
double glyph_edge_share(const image &img, double bottom, double top) {
    int y0 = std::max(0, static_cast<int>(std::floor((1.0 - top) * img.height)));
    int y1 = std::min(img.height, static_cast<int>(std::ceil((1.0 - bottom) * img.height)));
    auto white = [&](int x, int y) {
        const unsigned char *p = img.at(x, y);
        return std::min({p[0], p[1], p[2]}) >= 235;
    };
    auto dark = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= img.width || y >= img.height) return false;
        const unsigned char *p = img.at(x, y);
        return std::max({p[0], p[1], p[2]}) <= 45;
    };
    long edges = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < img.width; ++x) {
            if (!white(x, y)) continue;
            bool beside_dark = false;
            for (int d = 1; d <= 3 && !beside_dark; ++d)
                beside_dark = dark(x - d, y) || dark(x + d, y) || dark(x, y - d) || dark(x, y + d);
            edges += beside_dark;
        }
    long area = static_cast<long>(y1 - y0) * img.width;
    return area > 0 ? static_cast<double>(edges) / static_cast<double>(area) : 0.0;
}

// ---- the song's table in the shader ----

int shader_int(const std::string &name) {
    std::string text = shader_text();
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(R"(const\s+int\s+)" + name + R"(\s*=\s*(-?[0-9]+)\s*;)"))) return -1;
    return std::stoi(m[1]);
}

// The values of `const TYPE NAME[...] = TYPE[...](...);` in the shader.
std::vector<double> shader_array(const std::string &name) {
    std::string text = shader_text();
    std::smatch m;
    std::regex declaration(R"(const\s+\w+\s+)" + name + R"(\s*\[[^\]]*\]\s*=\s*\w+\s*\[[^\]]*\]\s*\(([^)]*)\)\s*;)");
    if (!std::regex_search(text, m, declaration)) return {};
    std::string body = m[1];
    std::replace(body.begin(), body.end(), ',', ' ');
    std::istringstream in(body);
    std::vector<double> values;
    // entries are numbers or the names of int constants
    for (std::string word; in >> word;) values.push_back(std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '-' ? std::stod(word) : shader_int(word));
    return values;
}

struct hit {
    double time;
    int kind;
};

std::vector<hit> shader_hits() {
    std::vector<double> times = shader_array("HIT_TIME"), kinds = shader_array("HIT_KIND");
    std::vector<hit> hits;
    for (size_t i = 0; i < std::min(times.size(), kinds.size()); ++i) hits.push_back({times[i], static_cast<int>(kinds[i])});
    return hits;
}

// Times of the steps set in a per-bar 16-step mask table.
std::vector<double> step_times(const std::vector<double> &masks) {
    std::vector<double> times;
    for (size_t bar = 0; bar < masks.size(); ++bar)
        for (int s = 0; s < 16; ++s)
            if ((static_cast<long>(masks[bar]) >> s) & 1) times.push_back(bar * song::bar_seconds + s * song::step_seconds);
    return times;
}

// ---- frames at the show's frame rate ----

const double frame_step = 1.0 / 60.0;

// `count` frames from `from`, one 60th of a second apart, at a small size.
std::vector<image> render_frames(double from, int count, const std::string &size = "160x90") {
    scratch_dir dir;
    char range[96];
    std::snprintf(range, sizeof range, "%.6f:%.6f:%.12f", from, from + (count - 0.5) * frame_step, frame_step);
    std::vector<image> frames;
    if (!run_capture(dir, "--frames " + std::string(range) + " --size " + size + " -o '" + dir.path + "/f'")) return frames;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/f/frame_%05d.png", i);
        frames.push_back(read_png(dir.path + name));
        if (frames.back().rgb.empty()) ADD_FAILURE() << "frame " << i << " from T = " << from << " is missing";
    }
    return frames;
}

double mean_luma(const image &img) {
    double sum = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) sum += luma(img, x, y);
    return img.width ? sum / (static_cast<double>(img.width) * img.height) : 0.0;
}

// Mean absolute luma difference of two frames, 0..255.
double luma_mad(const image &a, const image &b) {
    double sum = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) sum += std::abs(luma(a, x, y) - luma(b, x, y));
    return a.width ? sum / (static_cast<double>(a.width) * a.height) : 0.0;
}

struct section {
    const char *name;
    double start, end;
};

const section sections[] = {
    {"intro", 0, 16}, {"build-up", 16, 32}, {"main theme", 32, 64},
    {"breakdown", 64, 80}, {"climax", 80, 112}, {"outro", 112, 128},
};

}  // namespace

TEST(shader_text, starts_with_the_version_and_declares_the_contract) {
    std::string text = shader_text();
    ASSERT_FALSE(text.empty()) << "data/tessary.glsl is missing or empty";
    EXPECT_EQ(text.rfind("#version 130\n", 0), 0u) << "the first line must be #version 130";
    EXPECT_NE(text.find("in vec4 v_color;"), std::string::npos);
    EXPECT_NE(text.find("uniform vec2 u_res;"), std::string::npos);
    EXPECT_NE(text.find("uniform float T;"), std::string::npos);
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(uniform\s+sampler2D\s+\w+\s*;)")));
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(\bout\s+vec4\s+\w+\s*;)")));
    // the vertex colours must reach the picture, not just be declared
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(v_color\.)"))) << "v_color is declared but never read";
}

TEST(shader_text, carries_the_atlas_metrics_snippet_verbatim) {
    std::string snippet = read_file(source_dir + "/docs/atlas_metrics.glsl");
    ASSERT_FALSE(snippet.empty()) << "docs/atlas_metrics.glsl is missing";
    EXPECT_NE(shader_text().find(snippet), std::string::npos)
        << "paste docs/atlas_metrics.glsl into data/tessary.glsl again: it has changed";
}

TEST(shader_text, carries_the_shared_timeline) {
    const std::pair<const char *, const char *> constants[] = {
        {"BPM", "120.0"}, {"BAR", "2.0"}, {"T_INTRO", "0.0"}, {"T_BUILD", "16.0"}, {"T_THEME", "32.0"},
        {"T_BREAK", "64.0"}, {"T_CLIMAX", "80.0"}, {"T_OUTRO", "112.0"}, {"T_END", "128.0"},
    };
    std::string text = shader_text();
    for (const auto &[name, value] : constants) {
        std::regex declaration(std::string(R"(const\s+float\s+)") + name + R"(\s*=\s*)" + value + R"(\s*;)");
        EXPECT_TRUE(std::regex_search(text, declaration)) << "const float " << name << " = " << value << ";";
    }
}

TEST(shader_text, line_widths_are_the_sums_of_their_glyphs) {
    // LINE_WIDTH centres the lines; it must follow the text and the atlas.
    std::vector<double> advance = shader_array("GLYPH_ADVANCE"), chars = shader_array("TEXT_CHARS"), start = shader_array("LINE_START"),
                        length = shader_array("LINE_LENGTH"), width = shader_array("LINE_WIDTH");
    const int most = shader_int("MAX_LINE_CHARS");
    ASSERT_EQ(width.size(), start.size());
    ASSERT_EQ(length.size(), start.size());
    ASSERT_EQ(advance.size(), 95u);
    for (size_t line = 0; line < start.size(); ++line) {
        double sum = 0;
        for (int i = 0; i < std::min(static_cast<int>(length[line]), most); ++i) sum += advance[static_cast<size_t>(chars[static_cast<size_t>(start[line]) + i]) - 32];
        EXPECT_NEAR(width[line], sum, 0.01) << "line " << line;
    }
}

TEST(shader_text, smoothstep_edges_rise) {
    // GLSL leaves smoothstep undefined when the first edge is not below the
    // second; drivers differ there. Every call with literal edges is checked.
    static const std::regex call(R"(smoothstep\(\s*(-?[0-9]*\.?[0-9]+)\s*,\s*(-?[0-9]*\.?[0-9]+)\s*,)");
    std::string text = shader_text();
    int checked = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
        EXPECT_LT(std::stod((*it)[1]), std::stod((*it)[2])) << (*it)[0];
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(shader_text, text_schedule_is_well_formed) {
    std::vector<text_block> blocks = text_schedule();
    ASSERT_GE(blocks.size(), 3u) << "title, credits and greetings";
    for (size_t i = 0; i < blocks.size(); ++i) {
        const text_block &b = blocks[i];
        SCOPED_TRACE(b.name);
        EXPECT_LT(b.start, b.end);
        EXPECT_GE(b.start, 0.0);
        EXPECT_LE(b.end, 128.0);
        EXPECT_LT(b.bottom, b.top);
        EXPECT_GE(b.bottom, 0.0);
        EXPECT_LE(b.top, 1.0);
        // the shader shows one block at a time
        for (size_t j = i + 1; j < blocks.size(); ++j) {
            EXPECT_TRUE(b.end <= blocks[j].start || blocks[j].end <= b.start) << "overlaps " << blocks[j].name;
        }
    }
}

TEST(stills, section_middles_differ_from_each_other_and_from_the_clear_colour) {
    std::vector<image> stills;
    for (const section &s : sections) {
        stills.push_back(render_still(0.5 * (s.start + s.end) + 0.2, "320x180"));
        ASSERT_FALSE(stills.back().rgb.empty()) << s.name;
    }
    image clear = stills[0];
    for (size_t i = 0; i < clear.rgb.size(); i += 3) {
        clear.rgb[i] = 128;
        clear.rgb[i + 1] = 0;
        clear.rgb[i + 2] = 0;
    }
    for (size_t i = 0; i < stills.size(); ++i) {
        EXPECT_GT(mean_difference(stills[i], clear), 0.15) << sections[i].name << " looks like the clear colour";
        EXPECT_GT(mean_level(stills[i]), 0.04) << sections[i].name << " is (nearly) black";
        for (size_t j = i + 1; j < stills.size(); ++j) {
            EXPECT_GT(mean_difference(stills[i], stills[j]), 0.06)
                << sections[i].name << " and " << sections[j].name << " look alike";
        }
    }
}

TEST(stills, text_shows_exactly_in_its_scheduled_windows) {
    std::vector<text_block> blocks = text_schedule();
    ASSERT_FALSE(blocks.empty());
    // Inside each window its band holds glyph edges.
    for (const text_block &b : blocks) {
        double t = b.start + 0.6 * (b.end - b.start);
        image img = render_still(t, "480x270");
        ASSERT_FALSE(img.rgb.empty());
        EXPECT_GT(glyph_edge_share(img, b.bottom, b.top), 0.01) << b.name << " is not legible at T = " << t;
    }
    // Outside every window, no band has them: the middle of each section
    // without text and the moments just before and after each window.
    std::vector<double> quiet;
    for (const section &s : sections) quiet.push_back(0.5 * (s.start + s.end) + 0.2);
    for (const text_block &b : blocks) {
        quiet.push_back(b.start - 0.75);
        quiet.push_back(b.end + 0.75);
    }
    int checked = 0;
    for (double t : quiet) {
        if (t < 3.0 || t > 125.0 || text_on_at(blocks, t)) continue;
        image img = render_still(t, "480x270");
        ASSERT_FALSE(img.rgb.empty());
        for (const text_block &b : blocks) {
            EXPECT_LT(glyph_edge_share(img, b.bottom, b.top), 0.002)
                << "text-like edges in the " << b.name << " band at T = " << t;
        }
        ++checked;
    }
    EXPECT_GE(checked, 4);
}

TEST(stills, sweep_has_no_broken_pixels_and_no_black_outside_the_fades) {
    scratch_dir dir;
    const double step = 2.0;
    ASSERT_TRUE(run_capture(dir, "--frames 0:130:2 --size 320x180 -o '" + dir.path + "/sweep'"));
    int frames = 0;
    for (int i = 0;; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/sweep/frame_%05d.png", i);
        if (!std::filesystem::exists(dir.path + name)) break;
        image img = read_png(dir.path + name);
        ASSERT_FALSE(img.rgb.empty()) << name;
        double t = i * step;
        ++frames;
        if (t >= 3.0 && t <= 125.0) {
            EXPECT_GT(mean_level(img), 0.03) << "black frame at T = " << t;
        }
        // A NaN or Inf lands as a black pixel: look for black pixels with no
        // dark neighbour at all.
        int isolated = 0;
        for (int y = 1; y + 1 < img.height; ++y)
            for (int x = 1; x + 1 < img.width; ++x) {
                const unsigned char *p = img.at(x, y);
                if (p[0] | p[1] | p[2]) continue;
                bool lit_around = true;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const unsigned char *q = img.at(x + dx, y + dy);
                        if ((dx || dy) && std::max({q[0], q[1], q[2]}) < 24) lit_around = false;
                    }
                isolated += lit_around;
            }
        EXPECT_EQ(isolated, 0) << "isolated black pixels at T = " << t;
        if (t == 0.0 || t >= 130.0) {
            unsigned char brightest = *std::max_element(img.rgb.begin(), img.rgb.end());
            EXPECT_EQ(brightest, 0) << "not black at T = " << t;
        }
    }
    EXPECT_EQ(frames, 66);
}

TEST(stills, city_roof_edges_have_no_dotted_seams) {
    // The overhead shot, where neighbouring roofs meet along long shared
    // edges and the walls barely show (their windows would count too). The
    // far edge (the top third) is left to the full-city check.
    for (double t : {41.0, 42.2}) {
        image img = render_still(t, "960x540");
        ASSERT_FALSE(img.rgb.empty());
        EXPECT_LT(isolated_dark_pixels(img, img.height / 3, img.height, 24.0), 40) << "at T = " << t;
    }
}

TEST(song_table, no_more_hits_share_a_time_than_the_picture_reads) {
    // The shader looks at the latest hit and the two before it for others
    // at the same time; a fourth would be missed.
    std::map<double, int> at;
    for (const hit &h : shader_hits()) ++at[h.time];
    ASSERT_FALSE(at.empty());
    for (const auto &[time, count] : at) EXPECT_LE(count, 3) << "hits at " << time << " s";
}

TEST(beats, the_silent_beat_holds_still_and_the_drop_hits) {
    const int silence = shader_int("HIT_SILENCE");
    std::vector<hit> hits = shader_hits();
    int checked = 0;
    for (size_t i = 0; i + 1 < hits.size(); ++i) {
        if (hits[i].kind != silence) continue;
        double from = hits[i].time, drop = hits[i + 1].time;
        ASSERT_GT(drop, from) << "the silence must end before the next hit";
        int count = static_cast<int>(std::lround((drop - from) / frame_step)) + 2;
        std::vector<image> frames = render_frames(from - frame_step, count);
        ASSERT_EQ(frames.size(), static_cast<size_t>(count));
        // frames[1] is the first of the silence, frames[count - 1] the drop;
        // from frames[1] on nothing moves
        for (int f = 2; f + 1 < count; ++f)
            EXPECT_LT(luma_mad(frames[f], frames[f - 1]), 5.0) << "the picture moves at T = " << from + (f - 1) * frame_step;
        double before = mean_luma(frames[count - 2]), after = mean_luma(frames[count - 1]);
        EXPECT_GE(after, 2.0 * before) << "the drop at " << drop << " s does not hit (" << before << " -> " << after << ")";
        ++checked;
    }
    EXPECT_GE(checked, 1) << "no HIT_SILENCE in the song's table";
}

TEST(beats, every_hit_lands_within_100_ms) {
    // Several kinds can share a time: a time is a hit to land unless all
    // that happens there is the silence or the fade.
    const int silence = shader_int("HIT_SILENCE"), fade = shader_int("HIT_FADE");
    std::map<double, bool> lands;
    for (const hit &h : shader_hits()) lands[h.time] = lands[h.time] || (h.kind != silence && h.kind != fade);
    ASSERT_FALSE(lands.empty());
    for (const auto &[time, land] : lands) {
        if (!land) continue;
        const hit h{time, 0};
        // the frame before the hit, then 100 ms of frames from it
        std::vector<image> frames = render_frames(h.time - frame_step, 8);
        ASSERT_EQ(frames.size(), 8u);
        double before = mean_luma(frames[0]), ratio = 0, mad = 0;
        for (size_t f = 1; f < frames.size(); ++f) {
            ratio = std::max(ratio, mean_luma(frames[f]) / std::max(before, 1e-3));
            mad = std::max(mad, luma_mad(frames[f], frames[f - 1]));
        }
        EXPECT_TRUE(ratio >= 1.5 || mad >= 20.0) << "the hit at " << h.time << " s gets luminance x" << ratio << " and MAD " << mad;
    }
}

TEST(beats, kicks_light_part_of_the_frame_and_only_kicks_do) {
    std::vector<double> kicks = step_times(shader_array("KICK_STEPS"));
    std::vector<hit> hits = shader_hits();
    auto kick_at = [&](double t) {
        return std::any_of(kicks.begin(), kicks.end(), [&](double k) { return std::fabs(k - t) < 1e-6; });
    };
    // a hit on the kick or just before it: its flash is still dying away
    auto after_hit = [&](double t) {
        return std::any_of(hits.begin(), hits.end(), [&](const hit &h) { return h.time <= t + 1e-6 && h.time > t - 0.25; });
    };
    // The frame on a beat against the one before it: how much of it lights up.
    auto answer = [&](double t) {
        std::vector<image> frames = render_frames(t - frame_step, 2, "480x270");
        return frames.size() == 2u ? measures::measure_kick(frames[0], frames[1]) : measures::kick_answer{};
    };
    // From the breakdown up to the silence the kicks that come back light
    // the planet's tiles; beats without a kick light nothing (what rises
    // there is the planet turning).
    int quiet = 0, loud = 0;
    for (double t = song::t_break + song::beat_seconds; t < song::t_climax - song::beat_seconds - 1e-6; t += 2 * song::beat_seconds) {
        if (kick_at(t)) {
            EXPECT_GE(answer(t).rising, 0.005) << "nothing lights up on the kick at " << t << " s";
            ++loud;
        } else if (t > song::t_break + 4 * song::bar_seconds) {
            EXPECT_LT(answer(t).rising, 0.003) << "the picture flashes at " << t << " s, where the song has no kick";
            ++quiet;
        }
    }
    EXPECT_GE(quiet, 3);
    EXPECT_GE(loud, 1);
    // In the drops a kick lights the glowing parts, not the whole frame:
    // the frame's mean rises by 1.2-1.4 times and 5-40 % of its pixels by
    // more than 30 levels. A kick on a hit, or a quarter of a second after
    // one, is the hit's (every_hit_lands).
    int checked = 0;
    for (double drop : {song::t_theme, song::t_climax}) {
        for (double t = drop + song::beat_seconds; t < drop + 8.0; t += 1.5 * song::beat_seconds) {
            if (!kick_at(t) || after_hit(t)) continue;
            measures::kick_answer k = answer(t);
            SCOPED_TRACE(testing::Message() << "kick at " << t << " s: ratio " << k.ratio << ", rising " << k.rising);
            EXPECT_GE(k.ratio, 1.2) << "the kick at " << t << " s";
            EXPECT_LE(k.ratio, 1.4) << "the kick at " << t << " s strobes the frame";
            EXPECT_GE(k.rising, 0.05) << "the kick at " << t << " s";
            EXPECT_LE(k.rising, 0.4) << "the kick at " << t << " s lights most of the frame";
            ++checked;
        }
    }
    EXPECT_GE(checked, 6);
}

TEST(stills, each_phrase_of_the_climax_looks_new) {
    // The middles of the climax's four 8-bar phrases, between two kicks:
    // each must differ from the others by more than a change of hue.
    std::vector<image> phrases;
    for (double t = song::t_climax + 2 * song::bar_seconds + 0.25; t < song::t_outro; t += 4 * song::bar_seconds) {
        phrases.push_back(render_still(t, "160x90"));
        ASSERT_FALSE(phrases.back().rgb.empty());
    }
    ASSERT_EQ(phrases.size(), 4u);
    for (size_t i = 0; i < phrases.size(); ++i)
        for (size_t j = i + 1; j < phrases.size(); ++j) {
            EXPECT_GT(luma_mad(phrases[i], phrases[j]), 12.0) << "phrases " << i + 1 << " and " << j + 1 << " look alike";
        }
}

TEST(stills, the_greetings_band_is_clear_of_the_planet) {
    // The same frames with the planet shrunk to nothing: while the greetings
    // show, nothing in their band may change.
    std::vector<text_block> blocks = text_schedule();
    auto greets = std::find_if(blocks.begin(), blocks.end(), [](const text_block &b) { return b.name == "GREETS"; });
    ASSERT_NE(greets, blocks.end());
    scratch_dir variant;
    std::string shader = std::regex_replace(shader_text(), std::regex(R"(const float PLANET_RADIUS = [0-9.]+;)"), "const float PLANET_RADIUS = 0.001;");
    ASSERT_NE(shader, shader_text()) << "no PLANET_RADIUS to shrink";
    std::ofstream(variant.path + "/tessary.glsl") << shader;
    std::filesystem::create_symlink(data_dir + "/font_subset_bw_sdf.jpg", variant.path + "/font_subset_bw_sdf.jpg");
    for (double t = greets->start; t <= greets->end; t += 3.0) {
        image with = render_still(t, "256x144"), without = render_still(t, "256x144", variant.path);
        ASSERT_FALSE(with.rgb.empty());
        ASSERT_FALSE(without.rgb.empty());
        int y0 = static_cast<int>((1.0 - greets->top) * with.height), y1 = static_cast<int>((1.0 - greets->bottom) * with.height);
        int changed = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < with.width; ++x) changed += std::abs(luma(with, x, y) - luma(without, x, y)) > 16.0;
        EXPECT_EQ(changed, 0) << "the planet reaches into the greetings' band at T = " << t;
        // and the planet is there at all, above the band
        EXPECT_GT(luma_mad(with, without), 1.0) << "no planet at T = " << t;
    }
}

// ---- the look of each section, and of the show over time ----

// Medians of the look of `count` frames spread over [from, to).
measures::look section_look(double from, double to, int count) {
    scratch_dir dir;
    double step = (to - from) / count;
    char range[96];
    // a quarter of a beat off the grid, so the kicks count as often as the frames between
    std::snprintf(range, sizeof range, "%.4f:%.4f:%.6f", from + 0.13, from + 0.13 + (count - 0.5) * step, step);
    measures::look m;
    if (!run_capture(dir, "--frames " + std::string(range) + " --size 480x270 -o '" + dir.path + "/f'")) return m;
    std::vector<double> values[6];
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/f/frame_%05d.png", i);
        image img = read_png(dir.path + name);
        if (img.rgb.empty()) {
            ADD_FAILURE() << name << " is missing";
            continue;
        }
        measures::look l = measures::measure_look(img);
        const double row[6] = {l.contrast, l.dark, l.black, l.edges, l.colourfulness, l.flat};
        for (int c = 0; c < 6; ++c) values[c].push_back(row[c]);
    }
    double *out[6] = {&m.contrast, &m.dark, &m.black, &m.edges, &m.colourfulness, &m.flat};
    for (int c = 0; c < 6; ++c) {
        std::sort(values[c].begin(), values[c].end());
        *out[c] = values[c].empty() ? 0.0 : values[c][values[c].size() / 2];
    }
    return m;
}

TEST(looks, the_climax_is_the_peak_and_the_drops_fill_the_frame) {
    measures::look looks[6];
    for (int i = 0; i < 6; ++i) looks[i] = section_look(sections[i].start, sections[i].end, 9);
    const measures::look &theme = looks[2], &climax = looks[4];
    EXPECT_GE(climax.contrast, 170.0) << "luma p95 - p5";
    for (int i = 0; i < 6; ++i) {
        if (i == 4) continue;
        EXPECT_GT(climax.contrast, looks[i].contrast) << "the " << sections[i].name << " has more contrast than the climax";
    }
    EXPECT_GE(climax.dark, 0.15) << "share of pixels with luma <= 48";
    EXPECT_GE(climax.edges, 30.0) << "mean Sobel magnitude";
    EXPECT_GE(climax.colourfulness, theme.colourfulness) << "the climax is less colourful than the main theme";
    EXPECT_LE(theme.flat, 0.2) << "share of flat 16x16 blocks in the main theme";
    EXPECT_LE(climax.flat, 0.2) << "share of flat 16x16 blocks in the climax";
}

TEST(looks, the_city_is_close_to_its_supersampled_self) {
    // Each still against a 4x4 supersampled one: a render at four times the
    // size, box-filtered down. What differs is what the edges alias.
    for (double t : {36.1, 45.3, 57.7}) {
        image small = render_still(t, "480x270"), big = render_still(t, "1920x1080");
        ASSERT_FALSE(small.rgb.empty());
        ASSERT_FALSE(big.rgb.empty());
        measures::alias_error e = measures::measure_aliasing(small, big, 4);
        EXPECT_LE(e.mean, 3.0) << "mean luma error at T = " << t;
        EXPECT_LE(e.off, 0.03) << "share of pixels off by more than 24 levels at T = " << t;
    }
}

TEST(looks, the_planets_stars_hold_still) {
    // A star that blinks on and off from one frame to the next makes a
    // second difference in time that motion alone does not.
    std::vector<image> frames = render_frames(68.0, 61, "480x270");
    ASSERT_EQ(frames.size(), 61u);
    double worst = 0;
    for (size_t i = 1; i + 1 < frames.size(); ++i) worst = std::max(worst, measures::sparkle_share(frames[i - 1], frames[i], frames[i + 1]));
    EXPECT_LE(worst, 0.005) << "share of pixels that sparkle";
}

TEST(looks, the_whole_show_moves_with_the_drops_and_the_breakdown_and_never_flashes_more_than_three_times_a_second) {
    // Every frame of the show at 60 fps, small: enough for the mean
    // luminance of the frame and its quarters, where flashes are counted.
    scratch_dir dir;
    const int count = static_cast<int>(130.0 / frame_step);
    char range[96];
    std::snprintf(range, sizeof range, "0:%.6f:%.12f", (count - 0.5) * frame_step, frame_step);
    ASSERT_TRUE(run_capture(dir, "--frames " + std::string(range) + " --size 64x36 -o '" + dir.path + "/f'"));
    std::vector<double> lum[5];
    double mad_sum[6] = {0}, mad_n[6] = {0};
    std::vector<float> before;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/f/frame_%05d.png", i);
        image img = read_png(dir.path + name);
        ASSERT_FALSE(img.rgb.empty()) << name;
        std::vector<double> y = measures::region_luminance(img);
        for (int r = 0; r < 5; ++r) lum[r].push_back(y[r]);
        std::vector<float> l = measures::luma_plane(img);
        double t = i * frame_step;
        for (int s = 0; s < 6 && !before.empty(); ++s)
            if (t >= sections[s].start && t < sections[s].end) {
                double mad = 0;
                for (size_t k = 0; k < l.size(); ++k) mad += std::fabs(l[k] - before[k]);
                mad_sum[s] += mad / static_cast<double>(l.size());
                ++mad_n[s];
            }
        before = std::move(l);
    }
    const char *regions[] = {"the frame", "its top left quarter", "its top right quarter", "its bottom left quarter", "its bottom right quarter"};
    for (int r = 0; r < 5; ++r) {
        measures::flash_peak p = measures::worst_flash_window(measures::luminance_transitions(lum[r]), static_cast<int>(std::lround(1.0 / frame_step)));
        EXPECT_LE(p.flashes, 3.0) << regions[r] << " flashes " << p.flashes << " times in the second from " << p.from * frame_step << " s";
    }
    // the drops move at least as much as the build-up, now through motion and light
    double build = mad_sum[1] / mad_n[1];
    EXPECT_GE(mad_sum[2] / mad_n[2], build) << "the main theme moves less than the build-up";
    EXPECT_GE(mad_sum[4] / mad_n[4], build) << "the climax moves less than the build-up";
    // the breakdown is calm, but never a still: mean MAD at least 2, as the picture arc asks
    EXPECT_GE(mad_sum[3] / mad_n[3], 2.0) << "the breakdown hardly moves";
}
