// The soundtrack through SDL's audio device, and the clock the picture runs
// on. While sound plays, the clock is the position the device has reached, so
// picture and sound cannot drift apart; without a device (or with --mute) it
// is the wall clock.
#pragma once

#include <SDL.h>

#include <string>

struct t_playback {
    SDL_AudioDeviceID device = 0; // 0: silent
    SDL_AudioSpec have = {};      // what the device takes
    int frame_bytes = 4;
    double latency = 0.0; // seconds from the callback's write to the speaker, estimated

    // The music in the device's format; the callback reads it under the device lock.
    Uint8 *music = nullptr;
    Uint32 music_bytes = 0;

    // Shared with the callback (under the device lock).
    Uint32 position = 0;     // next frame the callback writes
    bool sounding = false;   // playing, not paused
    Uint32 heard_frame = 0;  // the first frame of the last buffer written ...
    Uint64 heard_at = 0;     // ... reaches the speaker at this counter value

    // The clock: `anchor` seconds at counter `anchor_at`, and never earlier than
    // `anchor` until the next jump.
    double anchor = 0.0;
    Uint64 anchor_at = 0;
    bool running = false;
};

// Opens the default device for `music_path` (a WAV file); on failure the
// playback is silent and `*error` says why (the caller says so once).
// `mute` skips the device altogether.
bool playback_open(t_playback *pb, const std::string &music_path, bool mute, std::string *error);

// Replaces the music with a changed file, keeping the position; on failure the
// old music stays and `*error` says why.
bool playback_reload(t_playback *pb, const std::string &music_path, std::string *error);

// Starts at `t` seconds, or jumps there keeping the state.
void playback_play(t_playback *pb, double t);
void playback_seek(t_playback *pb, double t);

// Stops. The sound already handed to the device still plays out, so the
// music stops a little after `t`: returns that time, where play resumes.
double playback_pause(t_playback *pb, double t);

// Where the sound is now, in seconds (the paused time while paused).
double playback_time(t_playback *pb);

void playback_close(t_playback *pb);
