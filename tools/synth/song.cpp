// The song itself: chords, patterns, melodies and arrangement, in A minor.
#include "song.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>

namespace song {

namespace {

// ---------------------------------------------------------------------------
// Harmony: one chord per bar ("Am", "F", "Esus4"...).
// ---------------------------------------------------------------------------
const char* const chord_chart[] = {
    /* intro      0- 7 */ "Am F C G Am F Dm E",
    /* build-up   8-15 */ "Am Am F F C C G E",
    /* main theme 16-31 */ "Am F C G Am F Dm E Am F C G F G Esus4 E",
    /* breakdown 32-39 */ "F G Em Am F G C E",
    /* climax    40-55 */ "Am F C G Am F Dm E F G Em Am F G Am E",
    /* outro     56-63 */ "Am F C G F G Am Am",
};

// ---------------------------------------------------------------------------
// Patterns, one character per 16th, repeated over their lane.
//   drums:   X accent, x hit, o ghost
//   bass:    r root, o root an octave up, 5 fifth (the impact: r or 5)
//   pad:     c the chord
//   arp:     a digit picks a chord tone, counting up from the track's base
//   any:     - holds the note before, . rest
// ---------------------------------------------------------------------------
const char* const four_floor = "x...x...x...x...";
const char* const backbeat = "....x.......x...";
const char* const hats_off = "..x...x...x...x.";
const char* const hats_16 = "xoxoxoxoxoxoxoxo";
const char* const hats_groove = "xo.oxo.oxo.oxo.o";
const char* const shaker = "o.x.o.x.o.x.o.x.";
const char* const open_off = "..x...x...x...x.";
const char* const ride_8 = "X.x.X.x.X.x.X.x.";
const char* const roll_4 = "x...x...x...x...";
const char* const roll_8 = "x.x.x.x.x.x.x.x.";
const char* const roll_16 = "xxxxxxxxxxxxxxxx";
const char* const outro_roll = "x...x...x.x.xx..";  // stops short of the final hit
const char* const once = "X...............";
const char* const boom_root = "r...............";   // an impact on the chord's root
const char* const boom_fifth = "5...............";  // on its fifth: where the drone holds the root

// Fills: the last bar of a phrase breaks the groove, a different way each
// time, and the snare always has a say: it is what makes a fill heard.
struct fill {
    const char* kick;
    const char* clap;
    const char* snare;
};
const fill fill_last_beat = {four_floor, backbeat, "............xoxx"};                   // snare 16ths on the last beat
const fill fill_pickup = {"x...x...x...x.x.", backbeat, "..............XX"};             // a kick and the snare push into the next bar
const fill fill_claps = {four_floor, "....x.......x.xx", "..............XX"};            // claps and snare tumble at the end
const fill fill_to_gap = {"x...x...x.......", "....x...........", "........oxox...."};  // the snare takes over, then nothing
const fill fill_stutter = {"x...x..xx...x...", "....x.......x..x", "..........o.x.xx"};  // syncopated
const fill fill_big = {"x...x...x...x.x.", "....x.......x...", "........o.oxoxxx"};      // into the next section

const char* const drone_bar = "r---------------";
const char* const bass_offbeat = "..r-..r-..r-..r-";
const char* const bass_roll = ".rrr.rrr.rrr.rro";
const char* const bass_roll_high = ".rro.rro.rr5.roo";
const char* const bass_gallop = ".oro.oro.oro.o5o";  // the climax's second half leans on the octave

const char* const pad_bar = "c---------------";

const char* const arp_soft = "0.2.1.3.0.2.1.3.";
const char* const arp_wave = "0242135302421353";
const char* const arp_climb = "0123234534564543";
const char* const arp_fall = "5432432132102134";
const char* const arp_skip = "0.3.1.4.2.5.3.1.";
const char* const arp_slow = "5..3..4..2..3.1.";
const char* const sparkle_fall = "7.5.6.4.5.3.4.2.";

// One note held for `steps` 16ths, then `rest` 16ths of silence.
std::string held(int steps, int rest = 0, char hit = 'x') {
    return hit + std::string(steps - 1, '-') + std::string(rest, '.');
}

struct lane {
    track t;
    int from_bar, to_bar;  // [from, to)
    std::string pattern;
    float velocity_from, velocity_to;
};

// ---------------------------------------------------------------------------
// Arrangement.
// ---------------------------------------------------------------------------
const lane lanes[] = {
    // intro: the pad opens, a soft arp and a shaker from bar 2 give it some
    // air, the drone joins halfway, a riser leads into the beat
    {pad, 0, 8, pad_bar, 0.5f, 0.6f},
    {arp, 2, 8, arp_soft, 0.3f, 0.5f},
    {hat, 2, 8, shaker, 0.5f, 0.65f},
    {drone, 4, 8, drone_bar, 0.6f, 0.7f},
    {riser, 6, 8, held(32), 0.25f, 0.25f},

    // build-up: the beat arrives softly and grows, the arp filter sweeps
    // open, a snare roll rises from bar 12 into the drop
    {crash, 8, 9, once, 0.4f, 0.4f},
    {kick, 8, 15, four_floor, 0.45f, 0.9f},
    {bass, 8, 15, bass_offbeat, 0.4f, 0.85f},
    {hat, 8, 12, hats_off, 0.35f, 0.5f},
    {hat, 12, 15, hats_16, 0.35f, 0.55f},
    {clap, 12, 14, backbeat, 0.6f, 0.75f},
    {snare, 12, 13, roll_4, 0.08f, 0.1f},
    {snare, 13, 14, roll_8, 0.1f, 0.13f},
    {snare, 14, 15, roll_16, 0.13f, 0.15f},
    {snare, 15, 16, roll_16, 0.12f, 0.17f},
    {arp, 8, 16, arp_wave, 0.5f, 0.85f},
    {pad, 8, 16, pad_bar, 0.6f, 0.6f},
    {riser, 12, 16, held(64), 0.65f, 0.65f},

    // main theme: full beat, rolling bass, the hook; a fill closes every
    // four bars
    {crash, 16, 17, once, 1.0f, 1.0f},
    {impact, 16, 17, boom_root, 1.0f, 1.0f},
    {crash, 24, 25, once, 0.8f, 0.8f},
    {kick, 16, 32, four_floor, 1.0f, 1.0f},
    {clap, 16, 32, backbeat, 0.8f, 0.8f},
    {hat, 16, 32, hats_groove, 0.5f, 0.5f},
    {open_hat, 16, 24, open_off, 0.4f, 0.4f},
    {open_hat, 24, 32, open_off, 0.45f, 0.55f},
    {bass, 16, 32, bass_roll, 0.85f, 0.85f},
    {pad, 16, 32, pad_bar, 0.8f, 0.8f},
    {arp, 16, 24, arp_wave, 0.55f, 0.55f},
    {arp, 24, 32, arp_climb, 0.55f, 0.6f},

    // breakdown: drums out, a held drone and a slow arp, the melody returns
    // softly, then a roll into the silent beat before the climax
    {crash, 32, 33, once, 0.6f, 0.6f},
    {impact, 32, 33, boom_fifth, 0.5f, 0.5f},
    {pad, 32, 40, pad_bar, 0.75f, 0.75f},
    {drone, 32, 38, drone_bar, 0.8f, 0.8f},  // it leaves the low end to the returning kick
    {arp, 32, 40, arp_slow, 0.5f, 0.7f},
    {hat, 36, 38, hats_off, 0.15f, 0.3f},
    {hat, 38, 39, hats_16, 0.3f, 0.45f},
    {kick, 38, 39, four_floor, 0.6f, 0.8f},
    {snare, 38, 39, roll_8, 0.07f, 0.12f},
    {snare, 39, 40, roll_16, 0.12f, 0.21f},
    {riser, 36, 40, held(64), 0.8f, 0.8f},

    // climax: everything, a crash every four bars, a counter-melody that
    // changes with them, the harmony from bar 44; after the silent beat at
    // the end of bar 47 the second half lifts: the lead doubled an octave
    // up, a ride, the sparkle and a bass that leans on the octave
    {crash, 40, 41, once, 1.0f, 1.0f},
    {impact, 40, 41, boom_root, 1.0f, 1.0f},
    {crash, 44, 45, once, 0.85f, 0.85f},
    {crash, 48, 49, once, 1.0f, 1.0f},
    {impact, 48, 49, boom_root, 1.0f, 1.0f},
    {crash, 52, 53, once, 0.9f, 0.9f},
    {kick, 40, 56, four_floor, 1.0f, 1.0f},
    {clap, 40, 56, backbeat, 0.9f, 0.9f},
    {hat, 40, 56, hats_16, 0.5f, 0.55f},
    {open_hat, 40, 56, open_off, 0.6f, 0.6f},
    {ride, 40, 48, ride_8, 0.75f, 0.75f},
    {ride, 48, 56, ride_8, 0.9f, 0.9f},
    {bass, 40, 48, bass_roll_high, 0.95f, 0.95f},
    {bass, 48, 56, bass_gallop, 1.0f, 1.0f},
    {pad, 40, 56, pad_bar, 0.9f, 0.9f},
    {arp, 40, 48, arp_fall, 0.6f, 0.6f},
    {arp, 48, 56, arp_skip, 0.65f, 0.7f},
    {sparkle, 48, 56, sparkle_fall, 0.7f, 0.8f},

    // outro: the beat thins out, a last roll, the final hit rings out
    {crash, 56, 57, once, 0.8f, 0.8f},
    {kick, 56, 60, four_floor, 0.9f, 0.8f},
    {clap, 56, 60, backbeat, 0.7f, 0.6f},
    {hat, 56, 61, hats_off, 0.5f, 0.3f},
    {bass, 56, 60, bass_offbeat, 0.8f, 0.7f},
    {pad, 56, 62, pad_bar, 0.8f, 0.7f},
    {arp, 56, 62, arp_wave, 0.6f, 0.35f},
    {snare, 61, 62, outro_roll, 0.08f, 0.21f},
    // The final hit's boom is the drone itself, falling an octave onto the
    // low A: an impact beside it would ring on the same 55 Hz and cancel.
    {kick, 62, 63, once, 1.0f, 1.0f},
    {crash, 62, 63, once, 1.0f, 1.0f},
    {drone, 62, 64, "or" + std::string(30, '-'), 1.0f, 1.0f},
    {pad, 62, 64, held(32, 0, 'c'), 0.9f, 0.9f},
    {sparkle, 62, 63, "3...............", 0.6f, 0.6f},
};

// Groove bars that a fill replaces: (bar, fill). The lanes above play the
// groove; these bars swap its kick, clap and snare for the fill's.
const std::pair<int, const fill*> fills[] = {
    {19, &fill_last_beat}, {23, &fill_pickup}, {27, &fill_claps}, {31, &fill_big},
    {43, &fill_stutter},   {47, &fill_to_gap}, {51, &fill_claps}, {55, &fill_big},
};

// Beats of silence, as (bar, beat): every note is cut where one begins, so
// the drop after it lands out of nothing.
const std::pair<int, int> silent_beats[] = {{39, 3}, {47, 3}};

// ---------------------------------------------------------------------------
// Melodies: one string per bar, "NOTE/16ths" (default an 8th), "r" rests,
// a leading "~" glides into the note from the one before. The lines push
// against the beat: dotted 8ths (3 + 3 + 2) and notes tied over it.
// ---------------------------------------------------------------------------
const std::vector<std::string> hook = {
    "E5/3 A5/3 G5/2 E5/3 D5/3 E5/2",       // Am
    "C5/3 A4/3 C5/2 F5/4 E5/2 C5/2",       // F
    "G5/3 E5/3 C5/2 E5/2 G5/2 C6/4",       // C
    "B5/3 A5/3 G5/2 D5/8",                 // G
    "E5/3 A5/3 C6/4 B5/2 A5/2 E5/2",       // Am
    "C6/2 A5/2 F5/1 A5/3 C6/4 D6/2 C6/2",  // F
    "D6/3 A5/3 F5/2 A5/3 D6/3 F6/2",       // Dm
    "E6/3 D6/3 B5/2 G#5/6 r/2",            // E
};
const std::vector<std::string> hook_answer = {
    "E5/3 A5/3 G5/2 E5/3 D5/3 E5/2",        // Am
    "C5/3 A4/3 C5/2 F5/4 E5/2 C5/2",        // F
    "G5/3 E5/3 C5/2 E5/2 G5/2 C6/4",        // C
    "B5/3 C6/3 D6/2 G5/8",                  // G
    "A5/3 C6/3 F6/4 E6/2 C6/2 A5/2",        // F
    "B5/2 D6/2 r/1 G6/3 F6/2 D6/2 B5/4",    // G
    "A5/3 B5/3 E6/2 A5/4 B5/4",             // Esus4
    "G#5/3 B5/3 E6/10",                     // E
};
const std::vector<std::string> break_line = {
    "C6/6 A5/3 F5/7",        // F
    "D6/6 B5/3 G5/7",        // G
    "E6/6 D6/2 C6/3 G5/5",   // C
    "B5/6 G#5/3 E5/3 r/4",   // E: the last beat is silent
};
// The climax: the hook turned upward, then higher over the theme's second
// chords, then a new hook over new chords, then the top of the song.
const std::vector<std::string> climax_head = {
    "A5/3 E6/3 D6/2 C6/3 B5/3 A5/2",   // Am
    "A5/3 F5/3 A5/2 C6/4 A5/2 F5/2",   // F
    "G5/3 C6/3 E6/2 G6/4 E6/2 C6/2",   // C
    "D6/3 B5/3 G5/2 D6/6 r/2",         // G
};
const std::vector<std::string> climax_rise = {
    "E6/4 C6/2 B5/2 A5/3 E5/3 A5/2",   // Am
    "F6/3 C6/3 A5/2 C6/4 F6/4",        // F
    "D6/3 F6/3 A6/2 F6/3 D6/3 A5/2",   // Dm
    "B5/3 E6/3 G#6/2 E6/4 r/4",        // E: the silent beat before the lift
};
const std::vector<std::string> climax_hook = {
    "C6/3 A5/3 C6/2 F6/6 E6/2",   // F
    "D6/3 B5/3 D6/2 G6/6 F6/2",   // G
    "E6/3 B5/3 G5/2 B5/4 E6/4",   // Em
    "A5/6 C6/4 E6/4 r/2",         // Am: the fill has the last 8th
};
const std::vector<std::string> climax_top = {
    "F6/4 E6/2 C6/2 A5/3 C6/3 F6/2",   // F
    "G6/4 F6/2 D6/2 B5/3 D6/3 G6/2",   // G
    "A6/6 ~G6/2 E6/3 C6/5",            // Am
    "B5/3 G#5/3 E5/2 B5/8",            // E
};
// The counter-melody sits under the lead, a new rhythm every four bars.
const std::vector<std::string> counter_dotted = {
    "A4/6 C5/2 E5/4 C5/4",  // Am
    "F4/6 A4/2 C5/4 A4/4",  // F
    "G4/6 C5/2 E5/4 C5/4",  // C
    "B4/6 D5/2 G4/8",       // G
};
const std::vector<std::string> counter_offbeat = {
    "r/2 E5/2 r/2 C5/2 r/2 E5/2 r/2 A4/2",  // Am
    "r/2 F5/2 r/2 C5/2 r/2 F5/2 r/2 A4/2",  // F
    "r/2 F5/2 r/2 D5/2 r/2 F5/2 r/2 A4/2",  // Dm
    "r/2 E5/2 r/2 B4/2 r/2 G#4/2 r/4",      // E
};
const std::vector<std::string> counter_eighths = {
    "A4/2 C5/2 F5/2 C5/2 A4/2 C5/2 F5/4",  // F
    "B4/2 D5/2 G5/2 D5/2 B4/2 D5/2 G5/4",  // G
    "B4/2 E5/2 G5/2 E5/2 B4/2 E5/2 G5/4",  // Em
    "C5/2 E5/2 A5/2 E5/2 C5/2 E5/2 A5/4",  // Am
};
const std::vector<std::string> counter_tresillo = {
    "F5/3 C5/3 A4/2 F5/3 C5/3 A4/2",    // F
    "G5/3 D5/3 B4/2 G5/3 D5/3 B4/2",    // G
    "A5/3 E5/3 C5/2 A5/3 E5/3 C5/2",    // Am
    "G#5/3 E5/3 B4/2 E5/8",             // E
};
// The outro: the hook's first two bars, then the lead waits for the final
// hit and holds its last A.
const std::vector<std::string> farewell = {
    "E5/3 A5/3 G5/2 E5/3 D5/3 E5/2",  // Am
    "C5/3 A4/3 C5/2 F5/4 E5/2 C5/2",  // F
    "r/16", "r/16", "r/16", "r/16",
    "A5/16", "~A5/16",
};

// A second voice over or under a phrase, on the harmony track.
enum class second_line { none, chord_tones_below, octave_above };

struct phrase {
    int bar;
    track t;
    const std::vector<std::string>* bars;
    float velocity;
    second_line second = second_line::none;
};

const phrase phrases[] = {
    {16, lead, &hook, 0.85f},
    {24, lead, &hook_answer, 0.9f},
    {36, lead, &break_line, 0.6f},
    {40, lead, &climax_head, 0.95f},
    {40, counter, &counter_dotted, 0.8f},
    {44, lead, &climax_rise, 1.0f, second_line::chord_tones_below},
    {44, counter, &counter_offbeat, 0.8f},
    {48, lead, &climax_hook, 1.0f, second_line::octave_above},
    {48, counter, &counter_eighths, 0.75f},
    {52, lead, &climax_top, 1.0f, second_line::octave_above},
    {52, counter, &counter_tresillo, 0.85f},
    {56, lead, &farewell, 0.7f},
};

// ---------------------------------------------------------------------------
// Automation: filter cutoffs in Hz, master gain linear, stereo width as the
// side signal's gain.
// ---------------------------------------------------------------------------
const keyframe pad_cutoff_keys[] = {
    {0, 400},    {8, 2000},  {14, 2500}, {16, 600}, {16, 2200}, {24, 2200}, {32, 3400}, {32, 2500},
    {36, 700},   {40, 700},  {40, 9000}, {56, 9000}, {60, 3000}, {64, 500},
};
const keyframe arp_cutoff_keys[] = {
    {0, 1500}, {8, 700}, {15.75, 4500}, {16, 1800}, {32, 1800}, {40, 6000}, {56, 6000}, {62, 500},
};
const keyframe bass_cutoff_keys[] = {
    {0, 150}, {8, 220}, {15, 700}, {16, 700}, {16, 500}, {32, 500}, {32, 220}, {40, 220}, {40, 600}, {48, 600}, {48, 800}, {56, 800}, {60, 500}, {62, 400},
};
// The climax rides above the rest, and its second half a step higher.
const keyframe master_gain_keys[] = {
    {0, 1.0f}, {40, 1.0f}, {40, 1.06f}, {48, 1.06f}, {48, 1.3f}, {56, 1.3f}, {57, 1.0f}, {63, 1.0f}, {t_silent / bar_seconds, 0.0f},
};
const keyframe width_keys[] = {
    {0, 1.0f}, {16, 1.0f}, {16, 1.35f}, {32, 1.35f}, {32, 1.0f}, {40, 1.0f}, {40, 1.45f}, {56, 1.45f}, {60, 1.0f},
};

// ---------------------------------------------------------------------------
// Turning the data into notes.
// ---------------------------------------------------------------------------
struct chord {
    int root;    // pitch class
    int middle;  // semitones from the root to the middle tone: 4 major, 3 minor, 5 or 2 suspended
};

chord parse_chord(const std::string& symbol) {
    if (symbol.empty()) throw std::runtime_error("empty chord symbol");
    const size_t letter = symbol.size() > 1 && (symbol[1] == '#' || symbol[1] == 'b') ? 2 : 1;
    const int root = parse_note(symbol.substr(0, letter) + "4") % 12;
    const std::string quality = symbol.substr(letter);
    static const std::map<std::string, int> middles = {{"", 4}, {"m", 3}, {"sus4", 5}, {"sus2", 2}};
    const auto it = middles.find(quality);
    if (it == middles.end()) throw std::runtime_error("unknown chord '" + symbol + "'");
    return {root, it->second};
}

std::vector<int> chord_tones(const chord& c) { return {c.root, (c.root + c.middle) % 12, (c.root + 7) % 12}; }

// Lowest pitch >= `low` with pitch class `pc`.
int place(int pc, int low) { return low + ((pc - low) % 12 + 12) % 12; }

// Chord tones counted upward from `base`.
int ladder(const chord& c, int base, int index) {
    std::vector<int> pitches;
    for (int p = base; static_cast<int>(pitches.size()) <= index; ++p)
        for (int pc : chord_tones(c))
            if (p % 12 == pc) pitches.push_back(p);
    return pitches[index];
}

// The harmony under a line: the highest chord tone at least a minor third
// below the note, so it never rubs against the chord.
int chord_tone_below(const chord& c, int pitch) {
    const std::vector<int> tones = chord_tones(c);
    for (int p = pitch - 3;; --p)
        if (std::find(tones.begin(), tones.end(), p % 12) != tones.end()) return p;
}

float default_gate(track t) {
    switch (t) {
    case bass: return 0.8f;
    case arp: return 0.5f;
    case sparkle: return 0.4f;
    case counter: return 0.7f;
    case lead:
    case harmony: return 0.9f;
    default: return 1.0f;  // drums, pad, and the drone, which holds to the next note
    }
}

// Bass and drone roots: E2 to D#3, so the sub an octave below them stays
// between 41 and 78 Hz, above what a PA can play; the impacts an octave lower.
constexpr int bass_floor = 40;
constexpr int impact_floor = bass_floor - 12;

float accent(char c) {
    switch (c) {
    case 'X': return 1.0f;
    case 'x': return 0.8f;
    case 'o': return 0.5f;
    }
    throw std::runtime_error(std::string("unknown drum step '") + c + "'");
}

void expand_lane(const lane& ln, const std::vector<chord>& chords, std::vector<note>& out) {
    const int first = ln.from_bar * steps_per_bar, last = ln.to_bar * steps_per_bar;
    const int period = static_cast<int>(ln.pattern.size());
    if (period == 0 || ln.to_bar <= ln.from_bar || ln.to_bar > bar_end)
        throw std::runtime_error(std::string("bad lane for ") + track_name(ln.t));
    for (int step = first; step < last; ++step) {
        const char c = ln.pattern[(step - first) % period];
        if (c == '.' || c == '-') continue;
        int length = 1;
        while (step + length < last && ln.pattern[(step + length - first) % period] == '-') ++length;
        const float along = static_cast<float>(step - first) / (last - first);
        const float velocity = ln.velocity_from + (ln.velocity_to - ln.velocity_from) * along;
        const chord& ch = chords[step / steps_per_bar];
        note n{ln.t, step, length, 0, velocity, default_gate(ln.t), false};
        switch (ln.t) {
        case drone:
            if (c != 'r' && c != 'o') throw std::runtime_error(std::string("unknown drone step '") + c + "'");
            n.pitch = place(ch.root, bass_floor) + (c == 'o' ? 12 : 0);
            n.legato = true;  // glides when it follows a note, starts fresh after a rest
            out.push_back(n);
            break;
        case bass: {
            const int root = place(ch.root, bass_floor);
            if (c == 'r') n.pitch = root;
            else if (c == 'o') n.pitch = root + 12;
            else if (c == '5') n.pitch = root + 7;
            else throw std::runtime_error(std::string("unknown bass step '") + c + "'");
            out.push_back(n);
            break;
        }
        case pad: {
            // Close voicing around middle C plus the root on top: the chords
            // move by small steps.
            for (int pc : chord_tones(ch)) {
                n.pitch = place(pc, 55);
                out.push_back(n);
            }
            n.pitch = place(ch.root, 67);
            out.push_back(n);
            break;
        }
        case arp:
        case sparkle: {
            if (c < '0' || c > '9') throw std::runtime_error(std::string("unknown arp step '") + c + "'");
            n.pitch = ladder(ch, ln.t == arp ? 57 : 76, c - '0');
            out.push_back(n);
            break;
        }
        case riser: out.push_back(n); break;
        case impact:
            // The boom rings low, E1 to D#2.
            if (c != 'r' && c != '5') throw std::runtime_error(std::string("unknown impact step '") + c + "'");
            n.pitch = place((ch.root + (c == '5' ? 7 : 0)) % 12, impact_floor);
            out.push_back(n);
            break;
        default:
            n.velocity *= accent(c);
            out.push_back(n);
            break;
        }
    }
}

void expand_phrase(const phrase& ph, const std::vector<chord>& chords, std::vector<note>& out, std::vector<entry>& starts) {
    std::vector<note> line;
    int step = ph.bar * steps_per_bar;
    for (const std::string& bar_text : *ph.bars) {
        const int bar_start = step;
        std::istringstream tokens(bar_text);
        std::string token;
        while (tokens >> token) {
            bool legato = false;
            if (token[0] == '~') {
                legato = true;
                token = token.substr(1);
            }
            int length = 2;
            const size_t slash = token.find('/');
            if (slash != std::string::npos) {
                length = std::stoi(token.substr(slash + 1));
                token = token.substr(0, slash);
            }
            if (length <= 0) throw std::runtime_error("bad note length in '" + bar_text + "'");
            if (token != "r") {
                if (legato && !line.empty() && line.back().step + line.back().length == step) line.back().gate = 1.0f;
                line.push_back({ph.t, step, length, parse_note(token), ph.velocity, default_gate(ph.t), legato});
            }
            step += length;
        }
        if (step - bar_start != steps_per_bar)
            throw std::runtime_error("bar '" + bar_text + "' is " + std::to_string(step - bar_start) + " 16ths long");
    }
    starts.push_back({ph.bar * steps_per_bar, ph.t});
    if (ph.second != second_line::none) starts.push_back({ph.bar * steps_per_bar, harmony});
    for (const note& n : line) {
        out.push_back(n);
        if (ph.second == second_line::none) continue;
        note h = n;
        h.track = harmony;
        const bool octave = ph.second == second_line::octave_above;
        h.pitch = octave ? n.pitch + 12 : chord_tone_below(chords[n.step / steps_per_bar], n.pitch);
        h.velocity *= octave ? 0.7f : 0.9f;  // an octave up sits over the lead, not beside it
        out.push_back(h);
    }
}

// Swaps the groove's kick, clap and snare in a bar for a fill, at the
// groove's own velocities; the fill's snare swells.
void apply_fill(int bar, const fill& f, std::vector<note>& notes) {
    float velocity[track_count] = {};
    const auto in_bar = [&](const note& n) {
        return n.step / steps_per_bar == bar && (n.track == kick || n.track == clap || n.track == snare);
    };
    for (const note& n : notes)
        if (in_bar(n) && velocity[n.track] == 0.0f) velocity[n.track] = n.velocity;
    notes.erase(std::remove_if(notes.begin(), notes.end(), in_bar), notes.end());
    if (velocity[kick] == 0.0f || velocity[clap] == 0.0f) throw std::runtime_error("a fill in bar " + std::to_string(bar) + " has no groove to break");
    velocity[snare] = velocity[clap];
    const std::pair<track, const char*> parts[] = {{kick, f.kick}, {clap, f.clap}, {snare, f.snare}};
    for (const auto& [t, pattern] : parts) {
        if (std::strlen(pattern) != steps_per_bar) throw std::runtime_error(std::string("a fill pattern is not a bar: ") + pattern);
        for (int step = 0; step < steps_per_bar; ++step) {
            if (pattern[step] == '.') continue;
            const float swell = t == snare ? 0.8f + 0.2f * step / steps_per_bar : 1.0f;
            notes.push_back({t, bar * steps_per_bar + step, 1, 0, velocity[t] * swell * accent(pattern[step]) / accent('x'), 1.0f, false});
        }
    }
}

// Cuts every note that sounds in [step, step + length): those that start
// there go, those that reach into it end where it begins.
void silence(int step, int length, std::vector<note>& notes) {
    notes.erase(std::remove_if(notes.begin(), notes.end(), [&](const note& n) { return n.step >= step && n.step < step + length; }),
                notes.end());
    for (note& n : notes)
        if (n.step < step && n.step + n.length > step) n.length = step - n.step;
}

// Stretches of at least a beat where no note is held, between the first
// note and the end of the last.
std::vector<gap> find_gaps(const std::vector<note>& notes) {
    std::vector<bool> sounding(bar_end * steps_per_bar, false);
    for (const note& n : notes)
        for (int i = n.step; i < n.step + n.length && i < static_cast<int>(sounding.size()); ++i) sounding[i] = true;
    std::vector<gap> gaps;
    const auto first = std::find(sounding.begin(), sounding.end(), true);
    const int begin = static_cast<int>(first - sounding.begin());
    const int end = static_cast<int>(sounding.size() - (std::find(sounding.rbegin(), sounding.rend(), true) - sounding.rbegin()));
    for (int i = begin; i < end;) {
        int j = i;
        while (j < end && !sounding[j]) ++j;
        if (j - i >= steps_per_beat) gaps.push_back({i, j - i});
        i = j > i ? j : i + 1;
    }
    return gaps;
}

template <size_t N>
std::vector<keyframe> keys(const keyframe (&k)[N]) {
    return std::vector<keyframe>(k, k + N);
}

}  // namespace

const char* track_name(int t) {
    static const char* const names[] = {"kick", "clap",  "snare", "hat", "open hat", "crash",   "ride",   "riser", "impact",
                                        "bass", "drone", "pad",   "arp", "sparkle",  "lead",    "harmony", "counter"};
    return t >= 0 && t < track_count ? names[t] : "?";
}

bool is_pitched(int t) {
    return t == bass || t == drone || t == pad || t == arp || t == sparkle || t == lead || t == harmony || t == counter;
}

int parse_note(const std::string& name) {
    static const int pcs[] = {9, 11, 0, 2, 4, 5, 7};  // A..G
    if (name.size() < 2 || name[0] < 'A' || name[0] > 'G') throw std::runtime_error("bad note '" + name + "'");
    int pc = pcs[name[0] - 'A'];
    size_t i = 1;
    if (name[i] == '#') pc += 1, ++i;
    else if (name[i] == 'b') pc -= 1, ++i;
    if (i >= name.size() || name.find_first_not_of("0123456789", i) != std::string::npos)
        throw std::runtime_error("bad note '" + name + "'");
    const int octave = std::stoi(name.substr(i));
    const int midi = (octave + 1) * 12 + pc;
    if (midi < 0 || midi > 127) throw std::runtime_error("note out of range '" + name + "'");
    return midi;
}

score build_score() {
    score s;
    std::vector<chord> chords;
    for (const char* section_chords : chord_chart) {
        std::istringstream tokens(section_chords);
        std::string symbol;
        while (tokens >> symbol) {
            chords.push_back(parse_chord(symbol));
            s.chords.push_back(symbol);
        }
    }
    if (static_cast<int>(chords.size()) != bar_end)
        throw std::runtime_error("chord chart has " + std::to_string(chords.size()) + " bars");

    for (const lane& ln : lanes) expand_lane(ln, chords, s.notes);
    for (const auto& [bar, f] : fills) apply_fill(bar, *f, s.notes);
    for (const phrase& ph : phrases) expand_phrase(ph, chords, s.notes, s.phrase_starts);
    for (const auto& [bar, beat] : silent_beats) silence(bar * steps_per_bar + beat * steps_per_beat, steps_per_beat, s.notes);
    std::stable_sort(s.notes.begin(), s.notes.end(), [](const note& a, const note& b) { return a.step < b.step; });
    s.gaps = find_gaps(s.notes);

    s.automation[pad_cutoff] = keys(pad_cutoff_keys);
    s.automation[arp_cutoff] = keys(arp_cutoff_keys);
    s.automation[bass_cutoff] = keys(bass_cutoff_keys);
    s.automation[master_gain] = keys(master_gain_keys);
    s.automation[width] = keys(width_keys);
    return s;
}

float automation_at(const score& s, param p, double bar) {
    const std::vector<keyframe>& k = s.automation[p];
    if (k.empty()) return 0.0f;
    if (bar <= k.front().bar) return k.front().value;
    for (size_t i = 1; i < k.size(); ++i) {
        if (bar < k[i].bar) {
            const double along = (bar - k[i - 1].bar) / (k[i].bar - k[i - 1].bar);
            if (p == master_gain) return static_cast<float>(k[i - 1].value + (k[i].value - k[i - 1].value) * along);
            return static_cast<float>(k[i - 1].value * std::pow(k[i].value / k[i - 1].value, along));
        }
    }
    return k.back().value;
}


// ---------------------------------------------------------------------------
// Events: what the picture lands on, read back from the notes.
// ---------------------------------------------------------------------------
namespace {

bool melodic(int t) { return t == lead || t == harmony || t == counter; }

// Snare rolls: runs of at least six hits, each at most a beat after the one
// before, that last three beats or more. Returns [first, last] steps.
std::vector<std::pair<int, int>> snare_rolls(const std::vector<note>& notes) {
    std::vector<int> hits;
    for (const note& n : notes)
        if (n.track == snare) hits.push_back(n.step);
    std::vector<std::pair<int, int>> rolls;
    for (size_t i = 0; i < hits.size();) {
        size_t j = i + 1;
        while (j < hits.size() && hits[j] - hits[j - 1] <= steps_per_beat) ++j;
        if (j - i >= 6 && hits[j - 1] - hits[i] >= 3 * steps_per_beat) rolls.push_back({hits[i], hits[j - 1]});
        i = j;
    }
    return rolls;
}

bool in_roll(const std::vector<std::pair<int, int>>& rolls, int step) {
    for (const auto& r : rolls)
        if (step >= r.first && step <= r.second) return true;
    return false;
}

// The drums of one bar: a 16-bit step mask each for kick, clap and the
// snare hits that are not part of a roll.
using drum_bar = std::array<int, 3>;

std::vector<drum_bar> drum_bars(const std::vector<note>& notes, const std::vector<std::pair<int, int>>& rolls) {
    std::vector<drum_bar> bars(bar_end, drum_bar{0, 0, 0});
    for (const note& n : notes) {
        const int slot = n.track == kick ? 0 : n.track == clap ? 1 : n.track == snare && !in_roll(rolls, n.step) ? 2 : -1;
        if (slot >= 0) bars[n.step / steps_per_bar][slot] |= 1 << (n.step % steps_per_bar);
    }
    return bars;
}

// A section's groove is the drum bar it plays more often than not. A fill is
// a single bar that adds hits to the groove, between groove bars (or at the
// section's end); it starts at the first step that differs. Layers that join
// for longer, and bars that only leave hits out, are not fills.
void find_fills(const std::vector<drum_bar>& bars, std::vector<hit>& out) {
    for (size_t i = 0; i < std::size(sections); ++i) {
        const int first = sections[i].first_bar;
        const int last = i + 1 < std::size(sections) ? sections[i + 1].first_bar : bar_end;
        std::map<drum_bar, int> count;
        for (int b = first; b < last; ++b) ++count[bars[b]];
        const auto most = std::max_element(count.begin(), count.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        const drum_bar groove = most->first;
        if (groove == drum_bar{0, 0, 0} || 2 * most->second <= last - first) continue;
        for (int b = first + 1; b < last; ++b) {
            int added = 0, differs = 0;
            for (int k = 0; k < 3; ++k) {
                added |= bars[b][k] & ~groove[k];
                differs |= bars[b][k] ^ groove[k];
            }
            if (added == 0 || bars[b - 1] != groove || (b + 1 < last && bars[b + 1] != groove)) continue;
            int step = 0;
            while (!(differs & (1 << step))) ++step;
            out.push_back({(b * steps_per_bar + step) * step_seconds, hit_fill});
        }
    }
}

// The beat stops where a run of four or more kicks, each at most a beat
// apart, is followed by more than a bar without one; the stop is the next
// beat after the run's last kick.
void find_stops(const std::vector<note>& notes, std::vector<hit>& out) {
    std::vector<int> kicks;
    for (const note& n : notes)
        if (n.track == kick) kicks.push_back(n.step);
    for (size_t i = 0; i < kicks.size();) {
        size_t j = i + 1;
        while (j < kicks.size() && kicks[j] - kicks[j - 1] <= steps_per_beat) ++j;
        const bool long_rest = j == kicks.size() || kicks[j] - kicks[j - 1] > steps_per_bar;
        if (j - i >= 4 && long_rest) {
            const int stop = (kicks[j - 1] / steps_per_beat + 1) * steps_per_beat;
            out.push_back({stop * step_seconds, hit_stop});
        }
        i = j;
    }
}

// One bar of one melodic track, relative to the bar: what a listener would
// recognise as heard before.
using melody_bar = std::vector<std::array<int, 3>>;

melody_bar melody_in_bar(const std::vector<note>& notes, int track, int bar) {
    melody_bar m;
    for (const note& n : notes)
        if (n.track == track && n.step / steps_per_bar == bar) m.push_back({n.step % steps_per_bar, n.length, n.pitch});
    std::sort(m.begin(), m.end());
    return m;
}

// A phrase brings something new when its first bar was never played before,
// on any melodic track.
void find_new_material(const score& s, std::vector<hit>& out) {
    for (const entry& start : s.phrase_starts) {
        const int bar = start.step / steps_per_bar;
        const melody_bar opening = melody_in_bar(s.notes, start.track, bar);
        bool heard = false;
        for (int b = 0; b < bar && !heard; ++b)
            for (int t = 0; t < track_count && !heard; ++t)
                if (melodic(t)) heard = melody_in_bar(s.notes, t, b) == opening;
        if (!heard) out.push_back({start.step * step_seconds, hit_new});
    }
}

}  // namespace

const char* hit_name(int kind) {
    static const char* const names[] = {"HIT_CRASH", "HIT_IMPACT", "HIT_FILL",  "HIT_ROLL", "HIT_STOP",
                                        "HIT_SILENCE", "HIT_NEW", "HIT_FINAL", "HIT_FADE"};
    return kind >= 1 && kind <= hit_kind_count ? names[kind - 1] : "?";
}

events song_events(const score& s) {
    events e;
    e.kick_steps.assign(bar_end, 0);
    e.clap_steps.assign(bar_end, 0);
    for (const note& n : s.notes) {
        const int bit = 1 << (n.step % steps_per_bar);
        if (n.track == kick) e.kick_steps[n.step / steps_per_bar] |= bit;
        if (n.track == clap) e.clap_steps[n.step / steps_per_bar] |= bit;
        if (n.track == crash) e.hits.push_back({n.step * step_seconds, hit_crash});
        if (n.track == impact) e.hits.push_back({n.step * step_seconds, hit_impact});
    }
    const std::vector<std::pair<int, int>> rolls = snare_rolls(s.notes);
    for (const auto& r : rolls) e.hits.push_back({r.first * step_seconds, hit_roll});
    const std::vector<drum_bar> drums = drum_bars(s.notes, rolls);
    // A snare that plays only on beats 2 and 4 of its bar is a backbeat and
    // counts with the claps; snares in fills and rolls do not.
    const int backbeat_steps = 1 << steps_per_beat | 1 << (3 * steps_per_beat);
    for (int bar = 0; bar < bar_end; ++bar)
        if ((drums[bar][2] & ~backbeat_steps) == 0) e.clap_steps[bar] |= drums[bar][2];
    find_fills(drums, e.hits);
    find_stops(s.notes, e.hits);
    for (const gap& g : s.gaps) e.hits.push_back({g.step * step_seconds, hit_silence});
    find_new_material(s, e.hits);
    for (auto n = s.notes.rbegin(); n != s.notes.rend(); ++n) {
        if (n->track == kick) {
            e.hits.push_back({n->step * step_seconds, hit_final});
            break;
        }
    }
    // The fade starts at the last keyframe before the master gain reaches zero.
    const std::vector<keyframe>& gain = s.automation[master_gain];
    for (size_t i = 1; i < gain.size(); ++i)
        if (gain[i].value == 0.0f && gain[i - 1].value > 0.0f) e.hits.push_back({gain[i - 1].bar * bar_seconds, hit_fade});

    std::sort(e.hits.begin(), e.hits.end(), [](const hit& a, const hit& b) { return a.seconds < b.seconds || (a.seconds == b.seconds && a.kind < b.kind); });
    e.hits.erase(std::unique(e.hits.begin(), e.hits.end(), [](const hit& a, const hit& b) { return a.seconds == b.seconds && a.kind == b.kind; }),
                 e.hits.end());
    return e;
}

}  // namespace song
