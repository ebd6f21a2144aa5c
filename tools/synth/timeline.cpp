#include "timeline.h"

#include <cstdio>
#include <sstream>

namespace song {

const char* const timeline_begin =
    "// ---- song timeline: made by `tessary-synth --timeline-glsl`; edit the song, not this block ----";
const char* const timeline_end = "// ---- end of song timeline ----";

namespace {

// Seconds as GLSL wants a float literal: "16.0", "31.75", "79.125".
std::string seconds_literal(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", t);
    std::string s = text;
    while (s.back() == '0' && s[s.size() - 2] != '.') s.pop_back();
    return s;
}

template <typename T, typename F>
std::string list(const std::vector<T>& values, F format) {
    std::string s;
    for (size_t i = 0; i < values.size(); ++i) s += (i ? ", " : "") + format(values[i]);
    return s;
}

}  // namespace

std::string timeline_glsl(const score& s) {
    const events e = song_events(s);
    auto number = [](int v) { return std::to_string(v); };
    auto constant = [](const char* name, double value) {
        char line[80];
        std::snprintf(line, sizeof line, "const float %-8s = %s;\n", name, seconds_literal(value).c_str());
        return std::string(line);
    };
    std::ostringstream out;
    out << timeline_begin << "\n";
    out << constant("BPM", bpm) << constant("BAR", bar_seconds);
    out << constant("T_INTRO", t_intro) << constant("T_BUILD", t_build) << constant("T_THEME", t_theme)
        << constant("T_BREAK", t_break) << constant("T_CLIMAX", t_climax) << constant("T_OUTRO", t_outro)
        << constant("T_END", t_end);
    out << "// one mask per bar: bit s is set when a kick starts on the bar's 16th s\n";
    out << "const int KICK_STEPS[" << bar_end << "] = int[" << bar_end << "](" << list(e.kick_steps, number) << ");\n";
    out << "// the same for claps and backbeat snares\n";
    out << "const int CLAP_STEPS[" << bar_end << "] = int[" << bar_end << "](" << list(e.clap_steps, number) << ");\n";
    for (int kind = 1; kind <= hit_kind_count; ++kind) {
        out << "const int " << hit_name(kind) << " = " << kind << ";";
        out << (kind == 5 || kind == hit_kind_count ? "\n" : " ");
    }
    const size_t n = e.hits.size();
    out << "const int HIT_COUNT = " << n << ";\n";
    out << "const float HIT_TIME[" << n << "] = float[" << n << "]("
        << list(e.hits, [](const hit& h) { return seconds_literal(h.seconds); }) << ");   // seconds, ascending\n";
    out << "const int HIT_KIND[" << n << "] = int[" << n << "](" << list(e.hits, [](const hit& h) { return std::string(hit_name(h.kind)); })
        << ");\n";
    out << timeline_end << "\n";
    return out.str();
}

std::string replace_timeline(const std::string& source, const std::string& block) {
    const size_t begin = source.find(std::string(timeline_begin) + "\n");
    const size_t end_marker = source.find(std::string(timeline_end) + "\n", begin == std::string::npos ? 0 : begin);
    if (begin == std::string::npos || end_marker == std::string::npos) return "";
    const size_t end = end_marker + std::string(timeline_end).size() + 1;
    return source.substr(0, begin) + block + source.substr(end);
}

}  // namespace song
