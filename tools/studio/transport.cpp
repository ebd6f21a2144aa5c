#include "transport.h"

#include "frame_loop.h"
#include "song.h"

#include <cmath>
#include <cstdio>
#include <iterator>

const double SHOW_END = END_TIME;

static const int SECTION_COUNT = (int)std::size(song::sections);

// Section ends are the next one's start; the last ends with the song, and
// the show's few seconds after it belong to no loop.
static t_section make_section(int i)
{
    int next_bar = i + 1 < SECTION_COUNT ? song::sections[i + 1].first_bar : song::bar_end;
    return {song::sections[i].name, song::seconds_at_bar(song::sections[i].first_bar), song::seconds_at_bar(next_bar)};
}

static const t_section g_sections[] = {
    make_section(0), make_section(1), make_section(2), make_section(3), make_section(4), make_section(5),
};
static_assert(std::size(g_sections) == std::size(song::sections), "one entry per section of the song");

int section_count(void)
{
    return SECTION_COUNT;
}

const t_section &section(int index)
{
    return g_sections[index];
}

int section_at(double t)
{
    int found = 0;
    for (int i = 0; i < SECTION_COUNT; i++)
        if (t >= g_sections[i].start)
            found = i;
    return found;
}

static double clamp_time(double t)
{
    return t < 0.0 ? 0.0 : t > SHOW_END ? SHOW_END : t;
}

// The latest section start before t; a play head just past a start counts as
// on it, so pressing Page Up twice walks back two sections.
static double previous_start(double t)
{
    double found = 0.0;
    for (int i = 0; i < SECTION_COUNT; i++)
        if (g_sections[i].start < t - 1e-6)
            found = g_sections[i].start;
    return found;
}

static double next_start(double t)
{
    for (int i = 0; i < SECTION_COUNT; i++)
        if (g_sections[i].start > t + 1e-6)
            return g_sections[i].start;
    return t;
}

void transport_seek(t_transport *transport, double t)
{
    transport->time = clamp_time(t);
}

bool transport_apply(t_transport *transport, t_action action)
{
    double t = transport->time;
    switch (action) {
    case action_play_pause:
        // Play at the very end starts over, as a player does.
        if (!transport->playing && t >= SHOW_END) {
            transport->time = 0.0;
            transport->playing = true;
            return true;
        }
        transport->playing = !transport->playing;
        return false;
    case action_loop:
        transport->looping = !transport->looping;
        return false;
    case action_bar_back: transport_seek(transport, t - song::bar_seconds); return true;
    case action_bar_forward: transport_seek(transport, t + song::bar_seconds); return true;
    case action_beat_back: transport_seek(transport, t - song::beat_seconds); return true;
    case action_beat_forward: transport_seek(transport, t + song::beat_seconds); return true;
    case action_home: transport_seek(transport, 0.0); return true;
    case action_previous_section: transport_seek(transport, previous_start(t)); return true;
    case action_next_section: transport_seek(transport, next_start(t)); return true;
    case action_none: break;
    }
    return false;
}

bool transport_follow(t_transport *transport, double now)
{
    if (transport->looping) {
        const t_section &s = g_sections[section_at(transport->time)];
        if (transport->time < s.end && now >= s.end) {
            transport->time = s.start;
            return true;
        }
    }
    if (now >= SHOW_END) {
        transport->time = SHOW_END;
        transport->playing = false;
        return false;
    }
    transport->time = now < 0.0 ? 0.0 : now;
    return false;
}

void bar_beat_text(double t, char *text, size_t size)
{
    // A hair of slack keeps 64.0 on bar 32, beat 1 whatever the rounding.
    double beats = std::floor(t / song::beat_seconds + 1e-9);
    long bar = (long)(beats / song::beats_per_bar);
    long beat = (long)beats - bar * song::beats_per_bar + 1;
    snprintf(text, size, "%ld:%ld", bar, beat);
}
