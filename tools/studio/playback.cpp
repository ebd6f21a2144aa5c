#include "playback.h"

#include <cstring>

// A short buffer: pausing and jumping are heard within about this long.
static const Uint16 BUFFER_FRAMES = 1024;

static double seconds_between(Uint64 from, Uint64 to)
{
    return (double)(Sint64)(to - from) / (double)SDL_GetPerformanceFrequency();
}

static Uint64 counter_after(Uint64 from, double seconds)
{
    return from + (Uint64)(Sint64)(seconds * (double)SDL_GetPerformanceFrequency());
}

// The device thread: copies music from the position on, or silence.
static void SDLCALL fill_buffer(void *data, Uint8 *stream, int length)
{
    t_playback *pb = (t_playback *)data;
    Uint64 now = SDL_GetPerformanceCounter();
    memset(stream, pb->have.silence, (size_t)length);
    if (!pb->sounding)
        return;
    Uint32 frames = (Uint32)length / (Uint32)pb->frame_bytes;
    Uint32 available = pb->music_bytes / (Uint32)pb->frame_bytes;
    if (pb->position < available) {
        Uint32 n = available - pb->position < frames ? available - pb->position : frames;
        memcpy(stream, pb->music + (size_t)pb->position * (size_t)pb->frame_bytes, (size_t)n * (size_t)pb->frame_bytes);
    }
    pb->heard_frame = pb->position;
    pb->heard_at = counter_after(now, pb->latency);
    pb->position += frames;
}

// Loads a WAV and converts it to the device's format. The result is SDL's to free.
static bool load_music(const std::string &path, const SDL_AudioSpec *device, SDL_AudioSpec *file_spec, Uint8 **data,
                       Uint32 *bytes, std::string *error)
{
    Uint8 *raw = nullptr;
    Uint32 raw_bytes = 0;
    if (SDL_LoadWAV(path.c_str(), file_spec, &raw, &raw_bytes) == nullptr) {
        *error = path + ": " + SDL_GetError();
        return false;
    }
    if (device == nullptr) {
        *data = raw;
        *bytes = raw_bytes;
        return true;
    }
    SDL_AudioCVT cvt;
    int needed = SDL_BuildAudioCVT(&cvt, file_spec->format, file_spec->channels, file_spec->freq, device->format,
                                   device->channels, device->freq);
    if (needed < 0) {
        *error = path + ": " + SDL_GetError();
        SDL_FreeWAV(raw);
        return false;
    }
    if (needed == 0) {
        *data = raw;
        *bytes = raw_bytes;
        return true;
    }
    cvt.len = (int)raw_bytes;
    cvt.buf = (Uint8 *)SDL_malloc((size_t)raw_bytes * (size_t)cvt.len_mult);
    if (cvt.buf == nullptr) {
        *error = path + ": out of memory";
        SDL_FreeWAV(raw);
        return false;
    }
    memcpy(cvt.buf, raw, raw_bytes);
    SDL_FreeWAV(raw);
    if (SDL_ConvertAudio(&cvt) != 0) {
        *error = path + ": " + SDL_GetError();
        SDL_free(cvt.buf);
        return false;
    }
    *data = cvt.buf;
    *bytes = (Uint32)cvt.len_cvt;
    return true;
}

bool playback_open(t_playback *pb, const std::string &music_path, bool mute, std::string *error)
{
    *pb = t_playback();
    pb->anchor_at = SDL_GetPerformanceCounter();
    if (mute)
        return true;
    SDL_AudioSpec file_spec;
    if (!load_music(music_path, nullptr, &file_spec, &pb->music, &pb->music_bytes, error))
        return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        *error = std::string("no audio (") + SDL_GetError() + ")";
        return false;
    }
    SDL_AudioSpec want = file_spec;
    want.samples = BUFFER_FRAMES;
    want.callback = fill_buffer;
    want.userdata = pb;
    // The device takes the file's format, or SDL converts on its way out.
    pb->device = SDL_OpenAudioDevice(nullptr, 0, &want, &pb->have, 0);
    if (pb->device == 0) {
        *error = std::string("no audio device (") + SDL_GetError() + ")";
        return false;
    }
    pb->frame_bytes = (int)(SDL_AUDIO_BITSIZE(pb->have.format) / 8) * pb->have.channels;
    // The buffer being written waits behind one that is playing.
    pb->latency = 2.0 * (double)pb->have.samples / (double)pb->have.freq;
    SDL_PauseAudioDevice(pb->device, 0);
    return true;
}

bool playback_reload(t_playback *pb, const std::string &music_path, std::string *error)
{
    if (pb->device == 0)
        return true;
    SDL_AudioSpec file_spec;
    Uint8 *data = nullptr;
    Uint32 bytes = 0;
    if (!load_music(music_path, &pb->have, &file_spec, &data, &bytes, error))
        return false;
    SDL_LockAudioDevice(pb->device);
    Uint8 *old = pb->music;
    pb->music = data;
    pb->music_bytes = bytes;
    SDL_UnlockAudioDevice(pb->device);
    SDL_free(old);
    return true;
}

static double frames_to_seconds(const t_playback *pb, Uint32 frames)
{
    return (double)frames / (double)pb->have.freq;
}

// The sound's time now, from the last buffer written; the caller holds the lock.
static double heard_now(const t_playback *pb, Uint64 now)
{
    return frames_to_seconds(pb, pb->heard_frame) + seconds_between(pb->heard_at, now);
}

// Moves the device to `t` and restarts the clock there. Sound already handed
// to the device still plays first: a jump while playing skips that much
// further, so what is heard after it is in step with the picture again.
static void jump(t_playback *pb, double t, bool running)
{
    Uint64 now = SDL_GetPerformanceCounter();
    bool was_running = pb->running;
    pb->anchor = t;
    pb->anchor_at = now;
    pb->running = running;
    if (pb->device == 0)
        return;
    SDL_LockAudioDevice(pb->device);
    double queued = 0.0;
    if (was_running && running) {
        queued = frames_to_seconds(pb, pb->position) - heard_now(pb, now);
        queued = queued < 0.0 ? 0.0 : queued > 4.0 * pb->latency ? 4.0 * pb->latency : queued;
    }
    pb->position = (Uint32)((t + queued) * (double)pb->have.freq + 0.5);
    pb->sounding = running;
    pb->heard_frame = pb->position;
    pb->heard_at = counter_after(now, running && !was_running ? pb->latency : queued);
    SDL_UnlockAudioDevice(pb->device);
}

void playback_play(t_playback *pb, double t)
{
    jump(pb, t, true);
}

double playback_pause(t_playback *pb, double t)
{
    if (pb->device != 0 && pb->running) {
        SDL_LockAudioDevice(pb->device);
        double written = frames_to_seconds(pb, pb->position);
        SDL_UnlockAudioDevice(pb->device);
        // Past the music's end the position runs on over silence.
        if (written > t)
            t = written;
    }
    jump(pb, t, false);
    return t;
}

void playback_seek(t_playback *pb, double t)
{
    jump(pb, t, pb->running);
}

double playback_time(t_playback *pb)
{
    if (!pb->running)
        return pb->anchor;
    Uint64 now = SDL_GetPerformanceCounter();
    if (pb->device == 0)
        return pb->anchor + seconds_between(pb->anchor_at, now);
    SDL_LockAudioDevice(pb->device);
    double t = heard_now(pb, now);
    // Not past what has been handed to the device.
    double written = frames_to_seconds(pb, pb->position);
    SDL_UnlockAudioDevice(pb->device);
    if (t > written)
        t = written;
    return t > pb->anchor ? t : pb->anchor;
}

void playback_close(t_playback *pb)
{
    if (pb->device != 0)
        SDL_CloseAudioDevice(pb->device);
    pb->device = 0;
    SDL_free(pb->music);
    pb->music = nullptr;
}
