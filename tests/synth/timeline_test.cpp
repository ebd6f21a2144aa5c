// The timeline contract: the shader's constants, docs/timeline.md and the
// score all agree with song.h, and the accents the picture lands on are the
// ones the notes make.
#include "song.h"
#include "timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The values of `const <type> NAME[N] = <type>[N](...);`, as text.
std::vector<std::string> glsl_array(const std::string& source, const std::string& name) {
    const std::regex array("const\\s+\\w+\\s+" + name + "\\[(\\d+)\\]\\s*=\\s*\\w+\\[\\d+\\]\\(([^)]*)\\);");
    std::smatch m;
    std::vector<std::string> values;
    if (!std::regex_search(source, m, array)) return values;
    std::istringstream items(m[2].str());
    for (std::string item; std::getline(items, item, ',');) {
        item.erase(0, item.find_first_not_of(' '));
        values.push_back(item);
    }
    EXPECT_EQ(values.size(), std::stoul(m[1].str())) << name << ": the size does not match the values";
    return values;
}

// Kick and clap masks straight from the notes.
std::vector<int> step_masks(const song::score& s, int track) {
    std::vector<int> masks(song::bar_end, 0);
    for (const song::note& n : s.notes)
        if (n.track == track) masks[n.step / song::steps_per_bar] |= 1 << (n.step % song::steps_per_bar);
    return masks;
}

// The rows of the markdown table that follows `heading`, cells trimmed and
// stripped of backticks and bold marks; the header and rule rows left out.
std::vector<std::vector<std::string>> table_after(const std::string& doc, const std::string& heading) {
    std::vector<std::vector<std::string>> rows;
    const size_t at = doc.find(heading);
    if (at == std::string::npos) return rows;
    std::istringstream lines(doc.substr(at + heading.size()));
    std::string line;
    bool in_table = false;
    int row = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("|", 0) != 0) {
            if (in_table) break;
            continue;
        }
        in_table = true;
        if (row++ < 2) continue;
        std::vector<std::string> cells;
        std::istringstream parts(line.substr(1));
        for (std::string cell; std::getline(parts, cell, '|');) {
            std::string clean;
            for (char c : cell)
                if (c != '`' && c != '*') clean += c;
            clean.erase(0, clean.find_first_not_of(' '));
            clean.erase(clean.find_last_not_of(' ') + 1);
            cells.push_back(clean);
        }
        rows.push_back(cells);
    }
    return rows;
}

std::string step_list(int mask) {
    std::string s;
    for (int step = 0; step < song::steps_per_bar; ++step)
        if (mask & (1 << step)) s += (s.empty() ? "" : " ") + std::to_string(step);
    return s.empty() ? "-" : s;
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

TEST(Timeline, ShaderCarriesTheSongsBlock) {
    // The block is generated; the shader must hold exactly what the song
    // makes now, byte for byte (cmake --build <tree> --target timeline-glsl).
    const std::string source = read_text(TESSARY_SHADER);
    const std::string block = song::timeline_glsl(song::build_score());
    const size_t begin = source.find(song::timeline_begin);
    ASSERT_NE(begin, std::string::npos) << "no timeline block in " << TESSARY_SHADER;
    const size_t end = source.find(song::timeline_end, begin);
    ASSERT_NE(end, std::string::npos) << "the timeline block in " << TESSARY_SHADER << " is not closed";
    EXPECT_EQ(source.substr(begin, end - begin + std::string(song::timeline_end).size() + 1), block)
        << "rebuild the block: cmake --build <tree> --target timeline-glsl";
    EXPECT_EQ(source.find(song::timeline_begin, begin + 1), std::string::npos) << "two timeline blocks";
    // Replacing the block touches nothing around it.
    EXPECT_EQ(song::replace_timeline("before\n" + block + "after\n", "X\n"), "before\nX\nafter\n");
    EXPECT_EQ(song::replace_timeline("no block here\n", block), "");
}

TEST(Timeline, BlockHoldsTheNotesKicksClapsAndAccents) {
    const song::score s = song::build_score();
    const std::string block = song::timeline_glsl(s);
    for (const auto& [name, track] : {std::pair<std::string, int>{"KICK_STEPS", song::kick}, {"CLAP_STEPS", song::clap}}) {
        const std::vector<std::string> values = glsl_array(block, name);
        const std::vector<int> expected = step_masks(s, track);
        ASSERT_EQ(values.size(), expected.size()) << name;
        for (size_t bar = 0; bar < values.size(); ++bar) EXPECT_EQ(std::stoi(values[bar]), expected[bar]) << name << " bar " << bar;
    }

    const std::vector<std::string> times = glsl_array(block, "HIT_TIME"), kinds = glsl_array(block, "HIT_KIND");
    ASSERT_EQ(times.size(), kinds.size());
    ASSERT_FALSE(times.empty());
    std::smatch count;
    ASSERT_TRUE(std::regex_search(block, count, std::regex(R"(const int HIT_COUNT = (\d+);)")));
    EXPECT_EQ(std::stoul(count[1].str()), times.size());
    std::multimap<std::string, double> hits;
    for (size_t i = 0; i < times.size(); ++i) {
        hits.insert({kinds[i], std::stod(times[i])});
        if (i > 0) {
            EXPECT_LE(std::stod(times[i - 1]), std::stod(times[i])) << "HIT_TIME must ascend";
        }
        EXPECT_NE(block.find("const int " + kinds[i] + " = "), std::string::npos) << kinds[i] << " is not defined";
    }
    auto times_of = [&](const std::string& kind) {
        std::vector<double> t;
        for (auto [it, end] = hits.equal_range(kind); it != end; ++it) t.push_back(it->second);
        std::sort(t.begin(), t.end());
        return t;
    };
    auto note_times = [&](int track) {
        std::vector<double> t;
        for (const song::note& n : s.notes)
            if (n.track == track) t.push_back(n.step * song::step_seconds);
        return t;
    };
    // Every crash and impact, each once.
    EXPECT_EQ(times_of("HIT_CRASH"), note_times(song::crash));
    EXPECT_EQ(times_of("HIT_IMPACT"), note_times(song::impact));
    // The final hit is the last kick; the fade starts where the master gain starts its last fall.
    ASSERT_EQ(times_of("HIT_FINAL").size(), 1u);
    EXPECT_DOUBLE_EQ(times_of("HIT_FINAL")[0], note_times(song::kick).back());
    ASSERT_EQ(times_of("HIT_FADE").size(), 1u);
    const double fade = times_of("HIT_FADE")[0];
    EXPECT_EQ(song::automation_at(s, song::master_gain, fade / song::bar_seconds), 1.0f);
    EXPECT_LT(song::automation_at(s, song::master_gain, fade / song::bar_seconds + 0.25), 1.0f);
    // A silence starts where nothing is held, and nothing starts for a beat.
    ASSERT_FALSE(times_of("HIT_SILENCE").empty());
    for (double t : times_of("HIT_SILENCE")) {
        for (const song::note& n : s.notes) {
            const double from = n.step * song::step_seconds, to = (n.step + n.length) * song::step_seconds;
            EXPECT_FALSE(from < t + song::beat_seconds - 1e-9 && to > t + 1e-9) << song::track_name(n.track) << " sounds in the silence at " << t;
        }
    }
    // The beat stops after a kick, and no kick follows for a bar.
    for (double t : times_of("HIT_STOP")) {
        EXPECT_TRUE(any_note(s, song::kick, t - song::beat_seconds, t)) << t;
        EXPECT_FALSE(any_note(s, song::kick, t, t + song::bar_seconds)) << t;
    }
    // Rolls start on a snare, fills on a drum hit.
    for (double t : times_of("HIT_ROLL")) EXPECT_TRUE(any_note(s, song::snare, t, t + 0.01)) << "roll at " << t;
    for (double t : times_of("HIT_FILL")) {
        EXPECT_TRUE(any_note(s, song::snare, t, t + 0.01) || any_note(s, song::kick, t, t + 0.01) || any_note(s, song::clap, t, t + 0.01))
            << "fill at " << t;
    }
}

namespace {

song::note drum(int track, int bar, int step) { return {track, bar * song::steps_per_bar + step, 1, 0, 1.0f, 1.0f, false}; }

// Four on the floor with claps on 2 and 4 in bars [from, to).
void groove(song::score& s, int from, int to) {
    for (int bar = from; bar < to; ++bar) {
        for (int step : {0, 4, 8, 12}) s.notes.push_back(drum(song::kick, bar, step));
        for (int step : {4, 12}) s.notes.push_back(drum(song::clap, bar, step));
    }
}

std::vector<double> event_times(const song::score& s, song::hit_kind kind) {
    std::vector<double> t;
    for (const song::hit& h : song::song_events(s).hits)
        if (h.kind == kind) t.push_back(h.seconds);
    return t;
}

void sort_notes(song::score& s) {
    std::stable_sort(s.notes.begin(), s.notes.end(), [](const song::note& a, const song::note& b) { return a.step < b.step; });
}

}  // namespace

TEST(Timeline, FillsRollsStopsAndBackbeatsAreReadFromTheDrums) {
    const double bar = song::bar_seconds, step = song::step_seconds;
    {
        // A drop with a snare fill in its fourth bar and an extra kick in its
        // last: two fills, each from its first extra hit.
        song::score s;
        groove(s, song::bar_theme, song::bar_break);
        for (int st : {8, 10, 12, 13, 14, 15}) s.notes.push_back(drum(song::snare, song::bar_theme + 3, st));
        s.notes.push_back(drum(song::kick, song::bar_break - 1, 14));
        sort_notes(s);
        EXPECT_EQ(event_times(s, song::hit_fill),
                  (std::vector<double>{song::t_theme + 3 * bar + 8 * step, song::t_break - bar + 14 * step}));
        EXPECT_TRUE(event_times(s, song::hit_roll).empty()) << "half a bar of snare is a fill, not a roll";
        // The drums run on into the breakdown's first beat, then stop.
        EXPECT_EQ(event_times(s, song::hit_stop), (std::vector<double>{song::t_break}));
    }
    {
        // Claps that join for two bars, and a bar that only drops the kick,
        // are no fills; a snare run over a whole bar is a roll.
        song::score s;
        groove(s, song::bar_theme, song::bar_break);
        s.notes.erase(std::remove_if(s.notes.begin(), s.notes.end(),
                                     [](const song::note& n) {
                                         const int b = n.step / song::steps_per_bar;
                                         return (n.track == song::clap && b < song::bar_theme + 12) ||
                                                (n.track == song::kick && b == song::bar_theme + 6);
                                     }),
                      s.notes.end());
        for (int st = 0; st < 16; st += 2) s.notes.push_back(drum(song::snare, song::bar_theme + 8, st));
        sort_notes(s);
        EXPECT_TRUE(event_times(s, song::hit_fill).empty());
        EXPECT_EQ(event_times(s, song::hit_roll), (std::vector<double>{song::t_theme + 8 * bar}));
    }
    {
        // A snare on beats 2 and 4 counts with the claps; a fill's snare on
        // beat 4 and a roll's do not.
        song::score s;
        for (int bar = song::bar_theme; bar < song::bar_break; ++bar)
            for (int st : {0, 4, 8, 12}) s.notes.push_back(drum(song::kick, bar, st));
        for (int st : {4, 12}) s.notes.push_back(drum(song::snare, song::bar_theme + 1, st));
        for (int st : {12, 14, 15}) s.notes.push_back(drum(song::snare, song::bar_theme + 3, st));
        for (int st = 0; st < 16; st += 2) s.notes.push_back(drum(song::snare, song::bar_theme + 8, st));
        sort_notes(s);
        const song::events e = song::song_events(s);
        EXPECT_EQ(e.clap_steps[song::bar_theme + 1], 1 << 4 | 1 << 12);
        EXPECT_EQ(e.clap_steps[song::bar_theme + 3], 0) << "the fill's snares are no backbeat";
        EXPECT_EQ(e.clap_steps[song::bar_theme + 8], 0) << "the roll's snares are no backbeat";
    }
}

TEST(Timeline, DocumentListsTheSameHits) {
    // docs/timeline.md's hit table is what the picture's author reads: it
    // must hold the accents of the block, no more, no fewer, in order.
    const std::string doc = read_text(TESSARY_TIMELINE_DOC);
    const std::vector<std::vector<std::string>> rows = table_after(doc, "## Hits to land on");
    const song::events e = song::song_events(song::build_score());
    ASSERT_EQ(rows.size(), e.hits.size()) << "rows in the hit table";
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_GE(rows[i].size(), 4u) << "row " << i << ": time, bar, kind, what";
        EXPECT_DOUBLE_EQ(std::stod(rows[i][0]), e.hits[i].seconds) << "row " << i;
        EXPECT_DOUBLE_EQ(std::stod(rows[i][1]), e.hits[i].seconds / song::bar_seconds) << "row " << i << ": bar";
        EXPECT_EQ(rows[i][2], song::hit_name(e.hits[i].kind)) << "row " << i << " at " << rows[i][0] << " s";
    }
}

TEST(Timeline, DocumentShowsTheKickAndClapSteps) {
    // The table groups bars with the same kicks and claps; together its rows
    // cover every bar once.
    const std::string doc = read_text(TESSARY_TIMELINE_DOC);
    const std::vector<std::vector<std::string>> rows = table_after(doc, "## Kicks and claps");
    const song::events e = song::song_events(song::build_score());
    std::vector<int> covered(song::bar_end, 0);
    ASSERT_FALSE(rows.empty()) << "no kick and clap table";
    for (const std::vector<std::string>& row : rows) {
        ASSERT_GE(row.size(), 3u);
        const size_t dash = row[0].find('-');
        const int first = std::stoi(row[0]), last = dash == std::string::npos ? first : std::stoi(row[0].substr(dash + 1));
        ASSERT_TRUE(first >= 0 && first <= last && last < song::bar_end) << row[0];
        for (int bar = first; bar <= last; ++bar) {
            ++covered[bar];
            EXPECT_EQ(row[1], step_list(e.kick_steps[bar])) << "kicks, bar " << bar;
            EXPECT_EQ(row[2], step_list(e.clap_steps[bar])) << "claps, bar " << bar;
        }
    }
    for (int bar = 0; bar < song::bar_end; ++bar) EXPECT_EQ(covered[bar], 1) << "bar " << bar;
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
