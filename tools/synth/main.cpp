// tessary-synth: renders the soundtrack to a 48 kHz 16-bit stereo WAV.
#include "dsp.h"
#include "master.h"
#include "render.h"
#include "song.h"
#include "timeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

// The temporary file, removed if we are interrupted before the rename.
char temp_path[4096];

void on_signal(int sig) {
    if (temp_path[0]) unlink(temp_path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// A track's name on the command line: "open hat" is open-hat.
std::string track_arg(int t) {
    std::string name = song::track_name(t);
    std::replace(name.begin(), name.end(), ' ', '-');
    return name;
}

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: tessary-synth -o OUT.wav [--length SECONDS] [--solo TRACK] [--levels] [--quiet]\n"
                 "       tessary-synth --timeline-glsl\n"
                 "       tessary-synth --update-shader SHADER.glsl\n"
                 "Renders the tessary soundtrack: 48 kHz, 16-bit stereo PCM, %.1f s,\n"
                 "mastered to -14 LUFS with true peaks under -1 dBTP.\n"
                 "  -o, --output FILE       where to write the WAV (written to a temporary file, then renamed)\n"
                 "  --length SECONDS        render only the song's first SECONDS (mastered on their own)\n"
                 "  --solo TRACK            write one track alone, mastered as the mix is (the same gain and limiter)\n"
                 "  --levels                print each track's level per section (for balancing the mix)\n"
                 "  --quiet                 no progress output\n"
                 "  --timeline-glsl         print the song's timeline (sections, kicks, claps, accents) as GLSL\n"
                 "  --update-shader FILE    replace the timeline block in FILE with the song's\n"
                 "  -h, --help              this text\n"
                 "Tracks:",
                 song::file_seconds);
    for (int t = 0; t < song::track_count; ++t) std::fprintf(to, " %s", track_arg(t).c_str());
    std::fprintf(to, "\n");
}

// One row per track, one column per section; "-" where a track is silent.
template <typename F>
void print_table(const char* unit, int decimals, F value) {
    std::printf("%-9s", unit);
    for (const song::section& s : song::sections) std::printf(" %10.10s", s.name);
    std::printf("\n");
    for (int t = 0; t < song::track_count; ++t) {
        std::printf("%-9s", song::track_name(t));
        for (size_t s = 0; s < std::size(song::sections); ++s) {
            const double v = value(t, s);
            if (std::isfinite(v)) std::printf(" %10.*f", decimals, v);
            else std::printf(" %10s", "-");
        }
        std::printf("\n");
    }
}

void print_levels(const synth::track_levels& levels) {
    print_table("dBFS", 1, [&](int t, size_t s) {
        const double ms = levels.mean_square(t, s);
        return ms > 1e-12 ? 10.0 * std::log10(ms) : -HUGE_VAL;
    });
    std::printf("\n");
    print_table("LUFS", 1, [&](int t, size_t s) { return levels.lufs[t][s]; });
    std::printf("\n");
    print_table("L/R corr", 2, [&](int t, size_t s) { return levels.sum_ll[t][s] > 0.0 ? levels.correlation(t, s) : -HUGE_VAL; });
}

// Rewrites the timeline block of a shader in place; the shader keeps
// everything else byte for byte.
int update_shader(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "tessary-synth: cannot read '%s': %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    std::string source;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) source.append(chunk, got);
    std::fclose(in);
    const std::string updated = song::replace_timeline(source, song::timeline_glsl(song::build_score()));
    if (updated.empty()) {
        std::fprintf(stderr, "tessary-synth: no timeline block in '%s' (the lines \"%s\" ... \"%s\")\n", path.c_str(),
                     song::timeline_begin, song::timeline_end);
        return 1;
    }
    if (updated == source) return 0;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || std::fwrite(updated.data(), 1, updated.size(), out) != updated.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "tessary-synth: cannot write '%s': %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("tessary-synth: updated the timeline in %s\n", path.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string output;
    bool quiet = false, show_levels = false;
    int solo = -1;
    double length_limit = song::file_seconds;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if ((arg == "-o" || arg == "--output") && i + 1 < argc) {
            output = argv[++i];
        } else if (arg == "--length" && i + 1 < argc) {
            char* end = nullptr;
            length_limit = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(length_limit > 0.0 && length_limit <= song::file_seconds)) {
                std::fprintf(stderr, "tessary-synth: --length wants seconds in (0, %.1f], not '%s'\n", song::file_seconds, argv[i]);
                return 2;
            }
        } else if (arg == "--solo" && i + 1 < argc) {
            const std::string name = argv[++i];
            for (int t = 0; t < song::track_count; ++t)
                if (name == track_arg(t)) solo = t;
            if (solo < 0) {
                std::fprintf(stderr, "tessary-synth: no track '%s'\n", name.c_str());
                usage(stderr);
                return 2;
            }
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--levels") {
            show_levels = true;
        } else if (arg == "--timeline-glsl") {
            try {
                std::fputs(song::timeline_glsl(song::build_score()).c_str(), stdout);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "tessary-synth: %s\n", e.what());
                return 1;
            }
            return 0;
        } else if (arg == "--update-shader" && i + 1 < argc) {
            try {
                return update_shader(argv[++i]);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "tessary-synth: %s\n", e.what());
                return 1;
            }
        } else {
            std::fprintf(stderr, "tessary-synth: unexpected argument '%s'\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (output.empty()) {
        std::fprintf(stderr, "tessary-synth: no output file given\n");
        usage(stderr);
        return 2;
    }

    // Open the temporary file first, so an unwritable destination fails at once.
    if (output.size() + 8 >= sizeof(temp_path)) {
        std::fprintf(stderr, "tessary-synth: output path too long\n");
        return 1;
    }
    std::snprintf(temp_path, sizeof(temp_path), "%s.XXXXXX", output.c_str());
    const int fd = mkstemp(temp_path);
    if (fd < 0) {
        std::fprintf(stderr, "tessary-synth: cannot write '%s': %s\n", output.c_str(), std::strerror(errno));
        temp_path[0] = '\0';
        return 1;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "tessary-synth: %s\n", why.c_str());
        unlink(temp_path);
        return 1;
    };

    const auto start = std::chrono::steady_clock::now();
    synth::master_result mastered;
    std::vector<int16_t> stem;
    synth::track_levels levels;
    double synthesis_seconds = 0.0;
    try {
        const song::score score = song::build_score();
        if (!quiet) std::printf("tessary-synth: rendering %.1f s\n", length_limit);
        int shown = -1;
        std::vector<synth::stereo_buffer> stems;
        const synth::stereo_buffer mix = synth::render_score(
            score,
            [&](double done) {
                const int percent = static_cast<int>(done * 100.0 + 0.5);
                if (quiet || percent / 10 == shown) return;
                shown = percent / 10;
                std::printf(" %d%%", shown * 10);
                std::fflush(stdout);
            },
            show_levels ? &levels : nullptr, length_limit, solo >= 0 ? std::vector<int>{solo} : std::vector<int>{}, &stems);
        synthesis_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!quiet) std::printf("\ntessary-synth: mastering\n");
        mastered = synth::master(mix, synth::master_settings{});
        if (solo >= 0) stem = synth::master_stem(stems[0], mastered);
    } catch (const std::exception& e) {
        close(fd);
        return fail(e.what());
    }

    std::FILE* f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        return fail("cannot write '" + output + "': " + std::strerror(errno));
    }
    const std::vector<int16_t>& pcm = solo >= 0 ? stem : mastered.pcm;
    const bool written = synth::write_wav(f, pcm, 2, synth::sample_rate);
    const bool flushed = std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    if (std::fclose(f) != 0 || !written || !flushed) return fail("cannot write '" + output + "': " + std::strerror(errno));
    // mkstemp makes the file private; a rendered asset is for everyone to read.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temp_path, 0666 & ~mask);
    if (std::rename(temp_path, output.c_str()) != 0)
        return fail("cannot rename to '" + output + "': " + std::strerror(errno));
    temp_path[0] = '\0';

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double length = static_cast<double>(pcm.size() / 2) / synth::sample_rate;
    if (show_levels) print_levels(levels);
    // What was written: the mix, or the solo track at the mix's gain.
    const synth::loudness written_loudness = solo >= 0 ? synth::measure(stem, synth::sample_rate) : mastered.final;
    const std::string what = solo >= 0 ? std::string(" (the ") + song::track_name(solo) + " alone)" : "";
    std::printf("tessary-synth: wrote %s%s: %.2f s, %d Hz, 16-bit stereo, %.2f LUFS integrated, true peak %.2f dBTP "
                "(%d mastering pass%s)\n",
                output.c_str(), what.c_str(), length,
                synth::sample_rate, written_loudness.integrated_lufs, written_loudness.true_peak_db, mastered.passes,
                mastered.passes == 1 ? "" : "es");
    std::printf("tessary-synth: render time %.2f s (synthesis %.2f s, mastering %.2f s), %.1fx real time\n", seconds,
                synthesis_seconds, seconds - synthesis_seconds, length / seconds);
    return 0;
}
