// The studio's timeline and transport: the song's sections, the keys'
// arithmetic on the play head, looping a section and stopping at the end.
// Plain values and functions, no SDL, no GL: the tests drive them directly.
#pragma once

#include <cstddef>

// The show's length: the demo ends here.
extern const double SHOW_END;

struct t_section {
    const char *name;
    double start, end;
};

int section_count(void);
const t_section &section(int index);
// The section holding time t (the first below 0, the last from its start on).
int section_at(double t);

enum t_action {
    action_none,
    action_play_pause,
    action_bar_back,
    action_bar_forward,
    action_beat_back,
    action_beat_forward,
    action_home,
    action_previous_section,
    action_next_section,
    action_loop,
};

struct t_transport {
    double time = 0.0; // the play head, seconds
    bool playing = false;
    bool looping = false; // loop the section under the play head
};

// Applies a transport key. Returns true when the play head jumped (the sound
// must follow); play/pause and loop change only the flags.
bool transport_apply(t_transport *transport, t_action action);

// Moves the play head to where the clock says while playing, from `now`:
// past the end of its section when looping it goes back to the section's start
// (returns true: a jump), and at the end of the show it stops there.
bool transport_follow(t_transport *transport, double now);

// Sets the play head, kept within 0..SHOW_END, as a click on the timeline does.
void transport_seek(t_transport *transport, double t);

// "BAR:BEAT" with bars counted from 0 as in docs/timeline.md and beats 1..4.
void bar_beat_text(double t, char *text, size_t size);
