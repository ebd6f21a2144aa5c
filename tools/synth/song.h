// The soundtrack's timeline and score. The constants below are the one place
// where tempo and section times live; docs/timeline.md and the picture's
// shader (data/tessary.glsl) follow them, and a test keeps the shader honest.
#pragma once

#include <string>
#include <vector>

namespace song {

constexpr double bpm = 120.0;
constexpr int beats_per_bar = 4;
constexpr int steps_per_beat = 4;  // the sequencer grid is a 16th note
constexpr int steps_per_bar = beats_per_bar * steps_per_beat;
constexpr double beat_seconds = 60.0 / bpm;
constexpr double bar_seconds = beats_per_bar * beat_seconds;
constexpr double step_seconds = beat_seconds / steps_per_beat;

// First bar of each section.
constexpr int bar_intro = 0;
constexpr int bar_build = 8;
constexpr int bar_theme = 16;
constexpr int bar_break = 32;
constexpr int bar_climax = 40;
constexpr int bar_outro = 56;
constexpr int bar_end = 64;
// The last downbeat: everything hits together and rings out.
constexpr int bar_final_hit = 62;

constexpr double seconds_at_bar(double bar) { return bar * bar_seconds; }

constexpr double t_intro = seconds_at_bar(bar_intro);
constexpr double t_build = seconds_at_bar(bar_build);
constexpr double t_theme = seconds_at_bar(bar_theme);
constexpr double t_break = seconds_at_bar(bar_break);
constexpr double t_climax = seconds_at_bar(bar_climax);
constexpr double t_outro = seconds_at_bar(bar_outro);
constexpr double t_end = seconds_at_bar(bar_end);
constexpr double t_final_hit = seconds_at_bar(bar_final_hit);

// The master fade reaches silence here; the file stops a little later.
constexpr double t_silent = 128.6;
constexpr double file_seconds = 129.0;

struct section {
    const char* name;
    int first_bar;
};
constexpr section sections[] = {
    {"intro", bar_intro},         {"build-up", bar_build},  {"main theme", bar_theme},
    {"breakdown", bar_break},     {"climax", bar_climax},   {"outro", bar_outro},
};

enum track : int {
    kick,
    clap,
    snare,
    hat,
    open_hat,
    crash,
    ride,
    riser,
    impact,
    bass,
    drone,  // held sub notes, gliding from one to the next
    pad,
    arp,
    sparkle,
    lead,
    harmony,  // a second lead voice: chord tones under the lead, or the lead an octave up
    counter,  // the climax's counter-melody
    track_count
};
const char* track_name(int t);
// Tracks played by the saw synth voices (the ones with a pitch).
bool is_pitched(int t);

struct note {
    int track;
    int step;    // start, in 16ths from the top of the song
    int length;  // in 16ths
    int pitch;   // MIDI note number (ignored by drums; an impact's is where its boom settles)
    float velocity;
    float gate;   // fraction of the length the key stays down
    bool legato;  // glide from the previous note instead of restarting
};

// Values that move over time, as (bar, value) keyframes; frequencies are
// interpolated in octaves, gains linearly. Two keyframes on the same bar
// make a step.
// `width` scales the mix's side signal above the bass.
enum param : int { pad_cutoff, arp_cutoff, bass_cutoff, master_gain, width, param_count };
struct keyframe {
    double bar;
    float value;
};

// A stretch of the song where no note sounds: the renderer cuts every tail
// there, so the silence is real.
struct gap {
    int step, length;  // in 16ths
};

// Where a melody phrase begins: its first bar line, on its track.
struct entry {
    int step, track;
};

struct score {
    std::vector<note> notes;  // sorted by step
    std::vector<keyframe> automation[param_count];
    std::vector<std::string> chords;  // chord symbol per bar
    std::vector<entry> phrase_starts;
    std::vector<gap> gaps;  // at least a beat long, between the first and the last note
};

// Builds the score from the song data; throws std::runtime_error if the data
// is malformed (bad note name, a bar that does not add up).
score build_score();

float automation_at(const score& s, param p, double bar);

// Accents the picture lands on, read from the score. The values are the
// shader's HIT_* constants.
enum hit_kind : int {
    hit_crash = 1,  // a crash cymbal
    hit_impact,     // a sub impact
    hit_fill,       // a drum fill starts: the drums leave their section's groove
    hit_roll,       // a snare roll starts
    hit_stop,       // the beat stops for at least a bar
    hit_silence,    // a gap starts
    hit_new,        // a melody phrase starts with a bar never heard before
    hit_final,      // the last kick: the final hit
    hit_fade,       // the master fade begins
};
constexpr int hit_kind_count = 9;
const char* hit_name(int kind);  // "HIT_CRASH", ...

struct hit {
    double seconds;
    hit_kind kind;
};

struct events {
    // Per bar, bit s set when a kick (or a clap, or a snare on the backbeat)
    // starts on the bar's 16th s.
    std::vector<int> kick_steps, clap_steps;
    std::vector<hit> hits;  // by time, then kind
};
events song_events(const score& s);

// Parses "A4", "C#5", "Bb3" into a MIDI note; throws on anything else.
int parse_note(const std::string& name);

}  // namespace song
