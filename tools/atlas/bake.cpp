#include "bake.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H
#include FT_OUTLINE_H

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

// Unhinted outlines: a distance field is scaled in the shader, so grid fitting
// for this one pixel size would only distort it.
constexpr FT_Int32 LOAD_FLAGS = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;
constexpr int MIN_SIZE = 8;

[[noreturn]] void fail(const std::string &message) { throw std::runtime_error(message); }

struct ft_library {
    FT_Library lib = nullptr;
    ft_library() {
        if (FT_Init_FreeType(&lib) != 0) fail("cannot initialise FreeType");
    }
    ~ft_library() { FT_Done_FreeType(lib); }
};

struct ft_face {
    FT_Face face = nullptr;
    ~ft_face() {
        if (face) FT_Done_Face(face);
    }
};

// FreeType's own messages for a missing file or a directory are vague, so
// look at the path first.
void check_font_file(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        fail("cannot open font '" + path + "': " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) fail("cannot open font '" + path + "': it is a directory");
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) fail("cannot open font '" + path + "': " + std::strerror(errno));
    std::fclose(f);
}

struct sdf_bitmap {
    int left = 0, top = 0, w = 0, h = 0;   // left/top as FreeType reports them (y up)
    std::vector<unsigned char> data;
};

struct size_try {
    std::array<sdf_bitmap, GLYPH_COUNT> bitmaps;
    int pen_x = 0, baseline = 0;
    bool fits = false;
};

std::string char_name(int code) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "'%c' (%d)", static_cast<char>(code), code);
    return buf;
}

// Row y of a FreeType bitmap, counted from the top; a negative pitch means
// the rows are stored bottom-up.
const unsigned char *bitmap_row(const FT_Bitmap &bm, int y) {
    int rows = static_cast<int>(bm.rows);
    return bm.pitch >= 0 ? bm.buffer + y * bm.pitch : bm.buffer + (rows - 1 - y) * -bm.pitch;
}

// An all-zero bitmap with the rendered glyph's size and placement.
sdf_bitmap blank_like(FT_GlyphSlot glyph) {
    sdf_bitmap out;
    out.left = glyph->bitmap_left;
    out.top = glyph->bitmap_top;
    out.w = static_cast<int>(glyph->bitmap.width);
    out.h = static_cast<int>(glyph->bitmap.rows);
    out.data.resize(static_cast<size_t>(out.w) * out.h);
    return out;
}

void load_glyph(FT_Face face, int code) {
    FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(code));
    if (index == 0) fail("the font has no glyph for " + char_name(code));
    if (FT_Load_Glyph(face, index, LOAD_FLAGS) != 0) fail("cannot load the glyph for " + char_name(code));
    if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
        fail("the glyph for " + char_name(code) + " is not an outline");
}

// Which texel centres lie inside the outline, from FreeType's monochrome
// scan converter, in the same coordinates as an sdf_bitmap.
sdf_bitmap render_centres(FT_Face face, int code) {
    load_glyph(face, code);
    face->glyph->outline.flags |= FT_OUTLINE_IGNORE_DROPOUTS;
    if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) != 0) fail("FreeType cannot render " + char_name(code));
    const FT_Bitmap &bm = face->glyph->bitmap;
    sdf_bitmap out = blank_like(face->glyph);
    for (int y = 0; y < out.h; y++) {
        const unsigned char *row = bitmap_row(bm, y);
        for (int x = 0; x < out.w; x++) out.data[static_cast<size_t>(y) * out.w + x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
    return out;
}

// FreeType truncates distances towards zero, so 128 stands for both sides of
// the outline within 1/16 px (at spread 8). Settle those texels by whether
// their centre is inside, so thresholding at 128 gives the glyph's shape.
void settle_edge_texels(sdf_bitmap &sdf, const sdf_bitmap &centres) {
    for (int y = 0; y < sdf.h; y++)
        for (int x = 0; x < sdf.w; x++) {
            unsigned char &v = sdf.data[static_cast<size_t>(y) * sdf.w + x];
            if (v != 127 && v != 128) continue;
            int cx = x + sdf.left - centres.left, cy = y - (sdf.top - centres.top);
            bool inside = cx >= 0 && cy >= 0 && cx < centres.w && cy < centres.h &&
                          centres.data[static_cast<size_t>(cy) * centres.w + cx] != 0;
            v = inside ? 128 : 127;
        }
}

sdf_bitmap render_sdf(FT_Face face, int code) {
    load_glyph(face, code);
    sdf_bitmap out;
    if (face->glyph->outline.n_points == 0) return out;   // no ink, e.g. space
    if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_SDF) != 0)
        fail("FreeType cannot render a distance field for " + char_name(code));
    const FT_Bitmap &bm = face->glyph->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY) fail("unexpected distance field format for " + char_name(code));
    out = blank_like(face->glyph);
    for (int y = 0; y < out.h; y++) {
        const unsigned char *row = bitmap_row(bm, y);
        std::copy(row, row + out.w, out.data.begin() + static_cast<size_t>(y) * out.w);
    }
    return out;
}

// The bitmap's corner is at least the spread away from any ink, so it tells
// which end of the range FreeType used for the outside.
void make_inside_bright(std::array<sdf_bitmap, GLYPH_COUNT> &bitmaps) {
    for (const sdf_bitmap &b : bitmaps) {
        if (b.w == 0) continue;
        if (b.data[0] < 128) return;
        break;
    }
    for (sdf_bitmap &b : bitmaps)
        for (unsigned char &v : b.data) v = static_cast<unsigned char>(255 - v);
}

// The distance bitmap is the outline's pixel box grown by the spread on each
// side; estimating it from the outline skips rendering sizes that can't fit.
sdf_bitmap estimate_sdf_box(FT_Face face, int code, int spread) {
    load_glyph(face, code);
    sdf_bitmap out;
    if (face->glyph->outline.n_points == 0) return out;
    FT_BBox box;
    FT_Outline_Get_CBox(&face->glyph->outline, &box);
    auto floor_px = [](FT_Pos v) { return static_cast<int>(v >= 0 ? v / 64 : -((-v + 63) / 64)); };
    auto ceil_px = [&](FT_Pos v) { return -floor_px(-v); };
    out.left = floor_px(box.xMin) - spread;
    out.top = ceil_px(box.yMax) + spread;
    out.w = ceil_px(box.xMax) + spread - out.left;
    out.h = out.top - (floor_px(box.yMin) - spread);
    return out;
}

size_try try_size(FT_Face face, int pixel_size, int spread, bool render) {
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixel_size)) != 0)
        fail("cannot set the pixel size " + std::to_string(pixel_size));
    size_try t;
    for (int i = 0; i < GLYPH_COUNT; i++)
        t.bitmaps[i] = render ? render_sdf(face, FIRST_CODE + i) : estimate_sdf_box(face, FIRST_CODE + i, spread);
    if (render) {
        make_inside_bright(t.bitmaps);
        for (int i = 0; i < GLYPH_COUNT; i++)
            if (t.bitmaps[i].w != 0) settle_edge_texels(t.bitmaps[i], render_centres(face, FIRST_CODE + i));
    }

    // One outside texel on every side of every bitmap, so linear filtering at
    // a cell's border never picks up the neighbour.
    int pen_lo = 1 - ATLAS_CELL, base_lo = 1 - ATLAS_CELL, base_hi = 2 * ATLAS_CELL;
    for (const sdf_bitmap &b : t.bitmaps) {
        if (b.w == 0) continue;
        pen_lo = std::max(pen_lo, 1 - b.left);
        base_lo = std::max(base_lo, 1 + b.top);
        base_hi = std::min(base_hi, ATLAS_CELL - 1 - (b.h - b.top));
    }
    t.pen_x = pen_lo;
    t.baseline = base_lo + (base_hi - base_lo) / 2;
    t.fits = base_lo <= base_hi;
    for (const sdf_bitmap &b : t.bitmaps)
        if (b.w != 0 && t.pen_x + b.left + b.w > ATLAS_CELL - 1) t.fits = false;
    return t;
}

}  // namespace

atlas bake_atlas(const std::string &font_path, int max_size, int spread) {
    check_font_file(font_path);
    ft_library ft;
    FT_Int spread_value = spread;
    if (FT_Property_Set(ft.lib, "sdf", "spread", &spread_value) != 0)
        fail("FreeType refuses the spread " + std::to_string(spread));

    ft_face f;
    FT_Error err = FT_New_Face(ft.lib, font_path.c_str(), 0, &f.face);
    if (err != 0) {
        // Distributions often build FreeType without its error strings.
        const char *why = FT_Error_String(err);
        if (!why && (err == FT_Err_Unknown_File_Format || err == FT_Err_Invalid_File_Format)) why = "not a font file";
        fail("cannot read font '" + font_path + "': " + (why ? why : "FreeType error") + " (" + std::to_string(err) + ")");
    }
    if (!FT_IS_SCALABLE(f.face)) fail("font '" + font_path + "' has no outlines");

    atlas a;
    a.font_name = f.face->family_name ? f.face->family_name : "unnamed";
    if (f.face->style_name && std::strcmp(f.face->style_name, "Regular") != 0)
        a.font_name += std::string(" ") + f.face->style_name;
    a.spread = spread;

    size_try t;
    int size = max_size;
    for (; size >= MIN_SIZE; size--) {
        if (!try_size(f.face, size, spread, false).fits) continue;
        t = try_size(f.face, size, spread, true);
        if (t.fits) break;
    }
    if (size < MIN_SIZE)
        fail("the glyphs do not fit " + std::to_string(ATLAS_CELL) + " px cells even at " + std::to_string(MIN_SIZE) +
             " px with spread " + std::to_string(spread));

    a.pixel_size = size;
    a.pen_x = t.pen_x;
    a.baseline = t.baseline;
    float em = static_cast<float>(f.face->units_per_EM);
    a.ascender = static_cast<float>(f.face->ascender) * size / em;
    a.descender = static_cast<float>(-f.face->descender) * size / em;

    a.pixels.assign(static_cast<size_t>(ATLAS_SIZE) * ATLAS_SIZE, 0);
    for (int i = 0; i < GLYPH_COUNT; i++) {
        int code = FIRST_CODE + i;
        load_glyph(f.face, code);
        glyph_info &g = a.glyphs[i];
        g.advance = static_cast<float>(f.face->glyph->linearHoriAdvance) / 65536.0f;
        g.bearing = static_cast<float>(f.face->glyph->metrics.horiBearingX) / 64.0f;
        if (code == 'H') a.cap_height = static_cast<float>(f.face->glyph->metrics.horiBearingY) / 64.0f;

        const sdf_bitmap &b = t.bitmaps[i];
        if (b.w == 0) continue;
        g.x = a.pen_x + b.left;
        g.y = a.baseline - b.top;
        g.w = b.w;
        g.h = b.h;
        int cell_x = (code % 16) * ATLAS_CELL, cell_y = (code / 16) * ATLAS_CELL;
        for (int y = 0; y < b.h; y++)
            std::copy(b.data.begin() + static_cast<size_t>(y) * b.w, b.data.begin() + static_cast<size_t>(y + 1) * b.w,
                      a.pixels.begin() + static_cast<size_t>(cell_y + g.y + y) * ATLAS_SIZE + cell_x + g.x);
    }
    return a;
}
