// Bakes the atlas with the build's settings into a scratch directory and
// checks it against FreeType's own rendering of the same font.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <jpeglib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int SIZE = 1024;
constexpr int CELL = 64;

std::string read_file(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string quote(const std::string &s) { return "'" + s + "'"; }

struct run_result {
    int status = -1;
    std::string err;
};

run_result run_baker(const std::string &args, const fs::path &scratch) {
    fs::path err_file = scratch / "stderr.txt";
    std::string cmd = quote(ATLAS_BAKER) + " " + args + " >/dev/null 2>" + quote(err_file.string());
    int raw = std::system(cmd.c_str());
    run_result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = read_file(err_file);
    fs::remove(err_file);
    return r;
}

struct decoded {
    int width = 0, height = 0, components = 0;
    bool one_to_one_sampling = true, progressive = false;
    int max_quant = 0;
    std::vector<unsigned char> rgb;
};

decoded decode_jpeg(const std::string &bytes) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    decoded d;
    d.components = cinfo.num_components;
    d.progressive = cinfo.progressive_mode;
    for (int c = 0; c < cinfo.num_components; c++)
        if (cinfo.comp_info[c].h_samp_factor != 1 || cinfo.comp_info[c].v_samp_factor != 1) d.one_to_one_sampling = false;
    for (JQUANT_TBL *t : cinfo.quant_tbl_ptrs)
        if (t)
            for (UINT16 q : t->quantval) d.max_quant = std::max(d.max_quant, static_cast<int>(q));
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    d.width = static_cast<int>(cinfo.output_width);
    d.height = static_cast<int>(cinfo.output_height);
    d.rgb.resize(static_cast<size_t>(d.width) * d.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = d.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * d.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return d;
}

// Scalar constants and the two per-glyph arrays of the GLSL snippet.
struct metrics {
    std::map<std::string, double> value;
    std::vector<double> advance, bearing;
};

std::vector<double> parse_array(const std::string &glsl, const std::string &name) {
    std::vector<double> out;
    size_t at = glsl.find("const float " + name + "[95] = float[95](");
    if (at == std::string::npos) return out;
    at = glsl.find('(', at) + 1;
    std::istringstream in(glsl.substr(at, glsl.find(')', at) - at));
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(std::stod(item));
    return out;
}

metrics parse_metrics(const std::string &glsl) {
    metrics m;
    std::istringstream in(glsl);
    std::string line;
    while (std::getline(in, line)) {
        char name[64];
        double v;
        if (std::sscanf(line.c_str(), "const float %63[A-Z_] = %lf;", name, &v) == 2) m.value[name] = v;
    }
    m.advance = parse_array(glsl, "GLYPH_ADVANCE");
    m.bearing = parse_array(glsl, "GLYPH_BEARING");
    return m;
}

class AtlasBake : public ::testing::Test {
protected:
    static inline fs::path scratch;
    static inline run_result bake;
    static inline std::string jpeg_bytes, glsl, table;
    static inline decoded image;
    static inline metrics m;

    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/tessary-atlas-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        scratch = tmpl;
        bake = run_baker(std::string("--font ") + quote(ATLAS_FONT) + " -o " + quote((scratch / "a.jpg").string()) +
                             " --glsl " + quote((scratch / "a.glsl").string()) + " --table " +
                             quote((scratch / "a.md").string()) + " " + ATLAS_SETTINGS,
                         scratch);
        if (bake.status != 0) return;
        jpeg_bytes = read_file(scratch / "a.jpg");
        glsl = read_file(scratch / "a.glsl");
        table = read_file(scratch / "a.md");
        image = decode_jpeg(jpeg_bytes);
        m = parse_metrics(glsl);
    }
    static void TearDownTestSuite() { fs::remove_all(scratch); }

    void SetUp() override {
        ASSERT_EQ(bake.status, 0) << bake.err;
        ASSERT_EQ(image.width, SIZE);
        ASSERT_EQ(image.height, SIZE);
        ASSERT_EQ(m.advance.size(), 95u);
        ASSERT_EQ(m.bearing.size(), 95u);
        for (const char *k : {"ATLAS_CELL", "ATLAS_PIXEL_SIZE", "ATLAS_SPREAD", "ATLAS_PEN_X", "ATLAS_BASELINE",
                              "ATLAS_CAP_HEIGHT"})
            ASSERT_EQ(m.value.count(k), 1u) << k;
    }

    // Red channel of texel (x, y) inside the cell of `code`.
    static int texel(int code, int x, int y) {
        int ix = (code % 16) * CELL + x, iy = (code / 16) * CELL + y;
        return image.rgb[(static_cast<size_t>(iy) * SIZE + ix) * 3];
    }
};

TEST_F(AtlasBake, ImageIsFullResolutionGreyJpeg) {
    EXPECT_EQ(image.components, 3);
    EXPECT_TRUE(image.one_to_one_sampling);
    EXPECT_FALSE(image.progressive);
    EXPECT_LE(image.max_quant, 12) << "quantisation coarser than quality 95";
    EXPECT_EQ(m.value["ATLAS_CELL"], CELL);
    EXPECT_EQ(m.value["ATLAS_SIZE"], SIZE);
    int worst = 0;
    for (size_t i = 0; i < image.rgb.size(); i += 3) {
        worst = std::max(worst, std::abs(image.rgb[i] - image.rgb[i + 1]));
        worst = std::max(worst, std::abs(image.rgb[i + 1] - image.rgb[i + 2]));
    }
    EXPECT_LE(worst, 2) << "R, G and B differ";
}

// Thresholding each cell at the outline value must give back the shape
// FreeType's coverage renderer draws at the documented pen and baseline.
TEST_F(AtlasBake, GlyphsMatchFreetypeCoverage) {
    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    FT_Face face;
    ASSERT_EQ(FT_New_Face(lib, ATLAS_FONT, 0, &face), 0);
    ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(m.value["ATLAS_PIXEL_SIZE"])), 0);
    int pen_x = static_cast<int>(m.value["ATLAS_PEN_X"]), baseline = static_cast<int>(m.value["ATLAS_BASELINE"]);

    for (int code = 33; code <= 126; code++) {
        SCOPED_TRACE(std::string("glyph '") + static_cast<char>(code) + "'");
        ASSERT_EQ(FT_Load_Char(face, code, FT_LOAD_NO_HINTING), 0);
        EXPECT_NEAR(m.advance[code - 32], face->glyph->linearHoriAdvance / 65536.0, 0.002);
        EXPECT_NEAR(m.bearing[code - 32], face->glyph->metrics.horiBearingX / 64.0, 0.002);
        ASSERT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL), 0);
        const FT_Bitmap &bm = face->glyph->bitmap;
        std::vector<bool> ink(CELL * CELL, false);
        for (int y = 0; y < static_cast<int>(bm.rows); y++)
            for (int x = 0; x < static_cast<int>(bm.width); x++) {
                if (bm.buffer[y * bm.pitch + x] < 128) continue;
                int cx = pen_x + face->glyph->bitmap_left + x, cy = baseline - face->glyph->bitmap_top + y;
                ASSERT_TRUE(cx > 0 && cx < CELL - 1 && cy > 0 && cy < CELL - 1) << "ink outside the cell";
                ink[cy * CELL + cx] = true;
            }
        int both = 0, either = 0;
        for (int y = 0; y < CELL; y++)
            for (int x = 0; x < CELL; x++) {
                bool a = texel(code, x, y) >= 128, b = ink[y * CELL + x];
                both += a && b;
                either += a || b;
            }
        ASSERT_GT(either, 0);
        EXPECT_GE(static_cast<double>(both) / either, 0.95);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
}

TEST_F(AtlasBake, EmptyCellsAndCellBordersAreOutside) {
    for (int code = 0; code < 256; code++) {
        bool empty = code <= 32 || code >= 127;
        for (int y = 0; y < CELL; y++)
            for (int x = 0; x < CELL; x++) {
                bool border = x == 0 || y == 0 || x == CELL - 1 || y == CELL - 1;
                if (empty || border) {
                    ASSERT_LE(texel(code, x, y), 8) << "code " << code << " at " << x << "," << y;
                }
            }
    }
}

// The documented spread and cap height must describe the image: across the
// straight left stem of 'H' the value falls by 128 over ATLAS_SPREAD texels.
TEST_F(AtlasBake, DistanceScaleAndCapHeightMatchTheImage) {
    int baseline = static_cast<int>(m.value["ATLAS_BASELINE"]);
    double spread = m.value["ATLAS_SPREAD"], cap = m.value["ATLAS_CAP_HEIGHT"];
    int row = baseline - static_cast<int>(cap / 2);
    int edge = 0;
    while (edge < CELL - 1 && texel('H', edge + 1, row) < 128) edge++;
    ASSERT_LT(edge, CELL - 1);
    // Texel edge+1 is the first inside one; half a spread further out the value is about 64.
    int probe = edge - static_cast<int>(spread / 2);
    ASSERT_GE(probe, 0);
    EXPECT_NEAR(texel('H', probe, row), 128 - 128.0 * (edge + 0.5 - probe) / spread, 12);

    int top = 0;
    while (top < CELL && texel('H', edge + 3, top) < 128) top++;
    EXPECT_NEAR(baseline - top, cap, 1.0);
}

TEST_F(AtlasBake, SameInputsGiveSameBytes) {
    run_result again = run_baker(std::string("--font ") + quote(ATLAS_FONT) + " -o " +
                                     quote((scratch / "b.jpg").string()) + " --glsl " +
                                     quote((scratch / "b.glsl").string()) + " " + ATLAS_SETTINGS,
                                 scratch);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(read_file(scratch / "b.jpg") == jpeg_bytes);
    EXPECT_EQ(read_file(scratch / "b.glsl"), glsl);
}

TEST_F(AtlasBake, CommittedDocsMatchTheBaker) {
    EXPECT_EQ(read_file(ATLAS_METRICS_GLSL), glsl) << "refresh with: cmake --build <dir> --target atlas_docs";
    std::string doc = read_file(ATLAS_DOC);
    std::istringstream rows(table);
    std::string row;
    int count = 0;
    while (std::getline(rows, row)) {
        EXPECT_NE(doc.find(row + "\n"), std::string::npos) << "docs/atlas.md lacks: " << row;
        count++;
    }
    EXPECT_EQ(count, 2 + 95);

    // The constants table in the prose, e.g. "| `ATLAS_BASELINE` | 43 | ...".
    std::istringstream lines(doc);
    std::string line;
    int constants = 0;
    while (std::getline(lines, line)) {
        char name[64];
        double v;
        if (std::sscanf(line.c_str(), "| `%63[A-Z_]` | %lf |", name, &v) != 2) continue;
        ASSERT_EQ(m.value.count(name), 1u) << name;
        EXPECT_NEAR(v, m.value[name], 0.0005) << name;
        constants++;
    }
    EXPECT_GE(constants, 5);
}

TEST_F(AtlasBake, SnippetCompilesInVersion130FragmentShader) {
    std::string validator = GLSLANG_VALIDATOR;
    if (validator.empty() || validator.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "glslangValidator not found";
    // The usage example in docs/atlas.md goes in too, so it can't rot.
    std::string doc = read_file(ATLAS_DOC);
    size_t from = doc.find("uniform sampler2D tex;");
    ASSERT_NE(from, std::string::npos);
    std::string example = doc.substr(from, doc.find("```", from) - from);
    fs::path shader = scratch / "wrapper.frag";
    std::ofstream(shader) << "#version 130\n"
                          << glsl << example
                          << "uniform sampler2D atlas_tex;\n"
                             "in vec4 v_color;\n"
                             "out vec4 frag;\n"
                             "void main() {\n"
                             "    int c = int(v_color.r * 94.0) + 32;\n"
                             "    vec2 p = gl_FragCoord.xy - vec2(glyph_advance(c) + GLYPH_BEARING[c - 32], 0.0);\n"
                             "    float d = glyph_distance(atlas_tex, c, p) + texture(atlas_tex, glyph_uv(c, p)).g;\n"
                             "    frag = vec4(glyph_coverage(0.5 * d) * ATLAS_CAP_HEIGHT / ATLAS_ASCENDER + text_hi(p));\n"
                             "}\n";
    std::string cmd = quote(validator) + " -S frag " + quote(shader.string()) + " > " +
                      quote((scratch / "glslang.txt").string()) + " 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << read_file(scratch / "glslang.txt");
}

class AtlasCli : public ::testing::Test {
protected:
    fs::path dir, out;   // out receives the outputs and must stay as it was
    void SetUp() override {
        char tmpl[] = "/tmp/tessary-atlas-cli-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        out = dir / "out";
        fs::create_directory(out);
    }
    void TearDown() override { fs::remove_all(dir); }

    size_t files_in(const fs::path &d) const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(d), fs::directory_iterator()));
    }

    // A failed run: non-zero status, one line naming `mentions`, nothing new in `out`.
    void expect_clean_failure(const std::string &args, const std::string &mentions) {
        SCOPED_TRACE(args);
        size_t before = files_in(out);
        run_result r = run_baker(args, dir);
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.err.rfind("tessary-atlas: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
        EXPECT_EQ(files_in(out), before);
    }
};

TEST_F(AtlasCli, BadFontsFailWithoutOutput) {
    std::string outputs = " -o " + quote((out / "a.jpg").string()) + " --glsl " + quote((out / "a.glsl").string());
    fs::path missing = dir / "missing.ttf";
    expect_clean_failure("--font " + quote(missing.string()) + outputs, missing.string());

    fs::create_directory(dir / "fonts");
    expect_clean_failure("--font " + quote((dir / "fonts").string()) + outputs, "directory");

    std::ofstream(dir / "text.ttf") << "not a font\n";
    expect_clean_failure("--font " + quote((dir / "text.ttf").string()) + outputs, "text.ttf");
}

TEST_F(AtlasCli, UnwritableOutputsFailWithoutLeftovers) {
    std::string font = std::string("--font ") + quote(ATLAS_FONT) + " --size 24";
    fs::path nowhere = out / "no" / "such" / "dir";
    expect_clean_failure(font + " -o " + quote((nowhere / "a.jpg").string()), nowhere.string());
    // The temporary file is written, then the rename onto a directory fails.
    fs::create_directory(out / "taken.jpg");
    expect_clean_failure(font + " -o " + quote((out / "taken.jpg").string()), "taken.jpg");
    // A failing snippet must not leave an image either.
    expect_clean_failure(font + " -o " + quote((out / "a.jpg").string()) + " --glsl " +
                             quote((nowhere / "a.glsl").string()),
                         "a.glsl");
}

}  // namespace
