// bench/picture_arc.cpp, the picture arc's measuring tool, on frames and a
// song block made here, whose right answers are known.
#include <gtest/gtest.h>
#include <png.h>

#include "scratch_dir.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string arc_tool = ARC_TOOL;

// A grey frame of `level`, with the top-left quarter at `corner`.
void write_frame(const std::string &path, int level, int corner) {
    const int w = 8, h = 8;
    std::vector<unsigned char> rgb(w * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) rgb[(y * w + x) * 3 + c] = static_cast<unsigned char>(x < w / 2 && y < h / 2 ? corner : level);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = w;
    png.height = h;
    png.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr)) << path;
}

std::string frame_name(const std::string &dir, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%05d.png", i);
    return dir + name;
}

std::string run(const std::string &args) {
    std::string command = "'" + arc_tool + "' " + args + " 2>&1";
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

std::vector<std::vector<double>> rows(const std::string &text) {
    std::vector<std::vector<double>> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream s(line);
        std::vector<double> row;
        for (double v; s >> v;) row.push_back(v);
        if (!row.empty()) out.push_back(row);
    }
    return out;
}

}  // namespace

TEST(arc_tool, stats_measure_luma_change_centre_and_black) {
    scratch_dir dir;
    write_frame(frame_name(dir.path, 0), 100, 100);
    write_frame(frame_name(dir.path, 1), 100, 10);   // a dark corner: a quarter of the pixels change by 90
    write_frame(frame_name(dir.path, 2), 220, 220);
    auto r = rows(run("stats '" + dir.path + "' 10 0.5"));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_DOUBLE_EQ(r[0][0], 10.0);
    EXPECT_DOUBLE_EQ(r[2][0], 11.0);
    EXPECT_NEAR(r[0][1], 100.0, 0.01) << "grey 100 has luma 100";
    EXPECT_EQ(r[0][2], -1.0) << "no frame before the first";
    EXPECT_NEAR(r[1][1], 0.75 * 100 + 0.25 * 10, 0.01);
    EXPECT_NEAR(r[1][2], 0.25 * 90, 0.01);
    EXPECT_NEAR(r[1][4], 0.25, 1e-6) << "the dark corner is the near-black share";
    EXPECT_NEAR(r[2][3], 220.0, 0.01) << "centre luma";
    EXPECT_NEAR(r[2][2], 0.75 * 120 + 0.25 * 210, 0.01);
}

TEST(arc_tool, compare_counts_pixels_off_by_more_than_16_levels_in_the_rows_asked) {
    scratch_dir a, b;
    write_frame(frame_name(a.path, 0), 50, 50);
    write_frame(frame_name(b.path, 0), 50, 67);   // the top-left quarter is off by 17
    write_frame(frame_name(a.path, 1), 50, 50);
    write_frame(frame_name(b.path, 1), 50, 66);   // off by 16: not counted
    auto top = rows(run("compare '" + a.path + "' '" + b.path + "' 32 0.5 0 0.5"));
    ASSERT_EQ(top.size(), 2u);
    EXPECT_NEAR(top[0][1], 0.5, 1e-6) << "half of the top half";
    EXPECT_NEAR(top[1][1], 0.0, 1e-6);
    auto bottom = rows(run("compare '" + a.path + "' '" + b.path + "' 32 0.5 0.5 1"));
    ASSERT_EQ(bottom.size(), 2u);
    EXPECT_NEAR(bottom[0][1], 0.0, 1e-6);
}

TEST(arc_tool, report_reads_hit_kinds_by_name_and_lands_them_by_time) {
    // A two-second song: a kick on the downbeat at 0.5 s, then at 1.0 s a
    // crash and a fill together, the silence at 1.5 s and the fade at 1.75 s.
    scratch_dir dir;
    std::ofstream(dir.path + "/song.glsl") << R"(const float BAR = 2.0;
const float T_INTRO = 0.0; const float T_BUILD = 0.25; const float T_THEME = 0.5; const float T_BREAK = 0.75;
const float T_CLIMAX = 1.0; const float T_OUTRO = 1.25; const float T_END = 2.0;
const int KICK_STEPS[1] = int[1](16);
const int CLAP_STEPS[1] = int[1](0);
const int HIT_CRASH = 1; const int HIT_IMPACT = 2; const int HIT_FILL = 3; const int HIT_ROLL = 4; const int HIT_STOP = 5;
const int HIT_SILENCE = 6; const int HIT_NEW = 7; const int HIT_FINAL = 8; const int HIT_FADE = 9;
const int HIT_COUNT = 4;
const float HIT_TIME[4] = float[4](1.0, 1.0, 1.5, 1.75);
const int HIT_KIND[4] = int[4](HIT_CRASH, HIT_FILL, HIT_SILENCE, HIT_FADE);
)";
    // frames every 0.25 s: the light doubles at 1.0 s, then holds still
    std::ofstream(dir.path + "/frames.txt") << "0 40 -1 40 0\n0.25 40 0 40 0\n0.5 40 0 40 0\n0.75 40 0 40 0\n"
                                               "1 90 50 90 0\n1.25 90 0 90 0\n1.5 90 0 90 0\n1.75 90 0 90 0\n";
    // a silent WAV header with no samples
    std::ofstream wav(dir.path + "/music.wav", std::ios::binary);
    const unsigned char header[44] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                                      0x80, 0xbb, 0, 0, 0, 0xee, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    wav.write(reinterpret_cast<const char *>(header), sizeof header);
    wav.close();
    for (const char *name : {"city.txt", "band.txt", "tunnel.txt"}) std::ofstream(dir.path + "/" + name) << "";
    std::string out = run("report '" + dir.path + "/frames.txt' '" + dir.path + "/song.glsl' '" + dir.path + "/music.wav' '" + dir.path +
                          "/city.txt' '" + dir.path + "/band.txt' '" + dir.path + "/tunnel.txt' '" + dir.path + "/out.md' '" + dir.path +
                          "/out.mvg'");
    std::ifstream md_in(dir.path + "/out.md");
    std::stringstream md;
    md << md_in.rdbuf();
    std::string text = md.str();
    ASSERT_FALSE(text.empty()) << out;
    // the crash and the fill share one row, and it lands (2.25x, MAD 50)
    EXPECT_NE(text.find("| 1.000 | CRASH, FILL | 2.25x | 50.0 | yes |"), std::string::npos) << text;
    // the silence and the fade are no hits to land, but the silence is held
    EXPECT_EQ(text.find("| 1.750 |"), std::string::npos) << text;
    EXPECT_NE(text.find("silent beat 1.50-1.75 s: MAD under 5 from its second frame on | largest 0.00 | yes"), std::string::npos) << text;
    // the kick at 0.5 s shows no pulse at all
    EXPECT_NE(text.find("| main theme | 0.0 | 40.0 | 1.00 |"), std::string::npos) << text;
    std::ifstream mvg(dir.path + "/out.mvg");
    EXPECT_TRUE(mvg.good()) << "no plot written";
}
