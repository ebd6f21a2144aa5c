// tessary-atlas: bakes the demo's font atlas (a signed distance field JPEG)
// and the GLSL constants that describe it.
#include "bake.h"
#include "output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

const char *const USAGE =
    "usage: tessary-atlas --font PATH -o OUT.jpg [--glsl OUT.glsl] [--table OUT.md]\n"
    "                     [--size N] [--spread N]\n"
    "Bakes printable ASCII into a 1024x1024 grid of 64x64 signed distance field cells.\n"
    "  --font PATH     outline font (TrueType/OpenType)\n"
    "  -o OUT.jpg      atlas image: grey JPEG, 128 on the outline, inside brighter\n"
    "  --glsl OUT      GLSL 1.30 metrics constants and helpers\n"
    "  --table OUT     Markdown table of advance widths and bearings\n"
    "  --size N        largest pixel size to try, 8..64 (default 48); smaller ones\n"
    "                  are tried until every glyph fits its cell\n"
    "  --spread N      distance field spread in pixels, 2..32 (default 8)\n";

struct options {
    std::string font, out, glsl, table;
    int size = 48;
    int spread = 8;
};

[[noreturn]] void usage_error(const std::string &message) {
    std::fprintf(stderr, "tessary-atlas: %s (try --help)\n", message.c_str());
    std::exit(2);
}

int parse_int(const std::string &option, const char *text, int lo, int hi) {
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < lo || v > hi)
        usage_error(option + " wants a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
    return static_cast<int>(v);
}

options parse(int argc, char **argv) {
    options o;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) usage_error("unknown option or missing value: " + arg);
        const char *value = argv[++i];
        if (arg == "--font") o.font = value;
        else if (arg == "-o" || arg == "--output") o.out = value;
        else if (arg == "--glsl") o.glsl = value;
        else if (arg == "--table") o.table = value;
        else if (arg == "--size") o.size = parse_int(arg, value, 8, 64);
        else if (arg == "--spread") o.spread = parse_int(arg, value, 2, 32);
        else usage_error("unknown option: " + arg);
    }
    if (o.font.empty()) usage_error("--font is required");
    if (o.out.empty()) usage_error("-o is required");
    return o;
}

}  // namespace

int main(int argc, char **argv) {
    options o = parse(argc, argv);
    try {
        // Everything is produced in memory first, so a failure writes nothing.
        atlas a = bake_atlas(o.font, o.size, o.spread);
        std::vector<unsigned char> jpeg = encode_jpeg(a.pixels, ATLAS_SIZE, ATLAS_SIZE, 100);
        std::string glsl = glsl_snippet(a);
        std::string table = metrics_table(a);

        if (!o.glsl.empty()) write_file_atomic(o.glsl, glsl.data(), glsl.size());
        if (!o.table.empty()) write_file_atomic(o.table, table.data(), table.size());
        write_file_atomic(o.out, jpeg.data(), jpeg.size());
        std::printf("tessary-atlas: %s at %d px (tried %d..%d), spread %d, baseline %d, pen x %d -> %s\n",
                    a.font_name.c_str(), a.pixel_size, o.size, a.pixel_size, a.spread, a.baseline, a.pen_x,
                    o.out.c_str());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tessary-atlas: %s\n", e.what());
        return 1;
    }
    return 0;
}
