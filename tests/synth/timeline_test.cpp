// The timeline contract: the shader's constants, docs/timeline.md and the
// score all agree with song.h.
#include "song.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::map<std::string, double> glsl_float_constants(const std::string& source) {
    std::map<std::string, double> out;
    const std::regex constant(R"(const\s+float\s+(\w+)\s*=\s*([-+]?[0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\s*;)");
    for (auto it = std::sregex_iterator(source.begin(), source.end(), constant); it != std::sregex_iterator(); ++it)
        out[(*it)[1]] = std::stod((*it)[2]);
    return out;
}

bool any_note(const song::score& s, int track, double from_s, double to_s) {
    for (const song::note& n : s.notes) {
        const double t = n.step * song::step_seconds;
        if ((track < 0 || n.track == track) && t >= from_s - 1e-9 && t < to_s - 1e-9) return true;
    }
    return false;
}

}  // namespace

TEST(Timeline, ShaderConstantsMatchTheSong) {
    const std::string source = read_text(TESSARY_SHADER);
    ASSERT_FALSE(source.empty()) << "cannot read " << TESSARY_SHADER;
    const std::map<std::string, double> found = glsl_float_constants(source);
    const std::map<std::string, double> expected = {
        {"BPM", song::bpm},           {"BAR", song::bar_seconds},   {"T_INTRO", song::t_intro},
        {"T_BUILD", song::t_build},   {"T_THEME", song::t_theme},   {"T_BREAK", song::t_break},
        {"T_CLIMAX", song::t_climax}, {"T_OUTRO", song::t_outro},   {"T_END", song::t_end},
    };
    for (const auto& [name, value] : expected) {
        const auto it = found.find(name);
        ASSERT_NE(it, found.end()) << "const float " << name << " missing from the shader";
        EXPECT_DOUBLE_EQ(it->second, value) << name;
    }
}

TEST(Timeline, ShaderConstantParserReadsGlsl) {
    const auto c = glsl_float_constants("const float A = 1.5;\nconst  float B=-2.0 ;\n// const float C = x;\nconst float D = .25;");
    EXPECT_EQ(c.size(), 3u);
    EXPECT_DOUBLE_EQ(c.at("A"), 1.5);
    EXPECT_DOUBLE_EQ(c.at("B"), -2.0);
    EXPECT_DOUBLE_EQ(c.at("D"), 0.25);
}

TEST(Timeline, DocumentListsEverySection) {
    // docs/timeline.md is the picture's reference: each section row must
    // carry the right bars and seconds.
    const std::string doc = read_text(TESSARY_TIMELINE_DOC);
    ASSERT_FALSE(doc.empty()) << "cannot read " << TESSARY_TIMELINE_DOC;
    const size_t count = std::size(song::sections);
    for (size_t i = 0; i < count; ++i) {
        const song::section& s = song::sections[i];
        const int last_bar = (i + 1 < count ? song::sections[i + 1].first_bar : song::bar_end) - 1;
        std::ostringstream row;
        row << "| " << s.name << " | " << s.first_bar << "-" << last_bar << " | " << song::seconds_at_bar(s.first_bar) << " - "
            << song::seconds_at_bar(last_bar + 1) << " |";
        EXPECT_NE(doc.find(row.str()), std::string::npos) << "missing row: " << row.str();
    }
}

TEST(Timeline, HitsLandWhereTheDocumentSays) {
    const song::score s = song::build_score();
    // Drums start with the build-up, not before.
    EXPECT_FALSE(any_note(s, song::kick, 0.0, song::t_build));
    EXPECT_TRUE(any_note(s, song::kick, song::t_build, song::t_build + 0.01));
    // Both drops hit on their downbeat with kick, crash and impact.
    for (double drop : {song::t_theme, song::t_climax}) {
        for (int t : {song::kick, song::crash, song::impact}) EXPECT_TRUE(any_note(s, t, drop, drop + 0.01)) << drop;
        EXPECT_TRUE(any_note(s, song::lead, drop, drop + 0.01)) << "the hook starts on the drop";
    }
    // The breakdown has no kick for its first six bars.
    EXPECT_FALSE(any_note(s, song::kick, song::t_break, song::t_break + 6 * song::bar_seconds));
    // The last beat before the climax is silent.
    EXPECT_FALSE(any_note(s, -1, song::t_climax - song::beat_seconds, song::t_climax));
    // The final hit is the last thing that starts (its held lead note aside).
    EXPECT_TRUE(any_note(s, song::kick, song::t_final_hit, song::t_final_hit + 0.01));
    for (const song::note& n : s.notes) {
        if (n.step * song::step_seconds > song::t_final_hit + 1e-9) {
            EXPECT_TRUE(n.legato) << song::track_name(n.track);
        }
    }
}

TEST(Score, ArrangementHasTheVoicesAndStaysInTime) {
    const song::score s = song::build_score();
    ASSERT_EQ(s.chords.size(), static_cast<size_t>(song::bar_end));
    bool playing[song::track_count] = {};
    for (const song::note& n : s.notes) {
        EXPECT_GE(n.step, 0);
        EXPECT_LE(n.step + n.length, song::bar_end * song::steps_per_bar) << song::track_name(n.track);
        if (song::is_pitched(n.track)) {
            EXPECT_GE(n.pitch, 24);
            EXPECT_LE(n.pitch, 108);
        }
        if (n.step >= song::bar_climax * song::steps_per_bar && n.step < song::bar_outro * song::steps_per_bar) playing[n.track] = true;
    }
    int climax_tracks = 0;
    for (bool p : playing) climax_tracks += p;
    EXPECT_GE(climax_tracks, 10) << "the climax plays (nearly) everything";
}

TEST(Score, NoteNames) {
    EXPECT_EQ(song::parse_note("A4"), 69);
    EXPECT_EQ(song::parse_note("C4"), 60);
    EXPECT_EQ(song::parse_note("C#5"), 73);
    EXPECT_EQ(song::parse_note("Bb3"), 58);
    EXPECT_EQ(song::parse_note("E1"), 28);
    for (const char* bad : {"", "H4", "A", "A#", "Cx4", "C4.5", "G99"}) EXPECT_THROW(song::parse_note(bad), std::runtime_error) << bad;
}
