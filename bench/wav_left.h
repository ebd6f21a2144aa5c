/* Reading 48 kHz 16-bit stereo PCM, for the small C tools that match what a
   sink recorded against music.wav: bench/av_offset.c and the end-to-end
   tests' audio_offset.c. Header-only so that bench/run can build its tool
   with a plain cc line. */
#ifndef TESSARY_WAV_LEFT_H
#define TESSARY_WAV_LEFT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static inline uint32_t wav_le32(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}

static inline int16_t wav_le16(const unsigned char *p) { return (int16_t)(p[0] | p[1] << 8); }

/* The whole file, or NULL. Read in pieces, so a file still growing (a live
   recording) or a pipe works too. */
static inline unsigned char *wav_read_file(const char *path, size_t *size)
{
    FILE *f = fopen(path, "rb");
    if (f == NULL)
        return NULL;
    size_t capacity = 1 << 20, used = 0, got;
    unsigned char *data = malloc(capacity);
    while (data != NULL && (got = fread(data + used, 1, capacity - used, f)) > 0) {
        used += got;
        if (used == capacity) {
            unsigned char *bigger = realloc(data, capacity *= 2);
            if (bigger == NULL)
                free(data);
            data = bigger;
        }
    }
    fclose(f);
    *size = used;
    return data;
}

/* The left channel of interleaved stereo frames. */
static inline int16_t *wav_left_of_frames(const unsigned char *frames, long count)
{
    int16_t *left = malloc((size_t)count * sizeof(int16_t) + 1);
    if (left != NULL)
        for (long i = 0; i < count; i++)
            left[i] = wav_le16(frames + 4 * i);
    return left;
}

/* The left channel of a 48 kHz 16-bit stereo WAV in *samples, their number
   in *count. A recording still being written has no final data length yet
   (zero, or more than the file holds): then everything there is counts.
   Returns NULL on success, else why the file cannot be read. */
static inline const char *wav_left(const char *path, int16_t **samples, long *count)
{
    size_t size;
    unsigned char *file = wav_read_file(path, &size);
    if (file == NULL)
        return "cannot read an input file";
    const char *error = "no data chunk";
    if (size < 12 || memcmp(file, "RIFF", 4) != 0 || memcmp(file + 8, "WAVE", 4) != 0)
        error = "not a WAV file";
    else {
        int format_ok = 0;
        for (size_t at = 12; at + 8 <= size;) {
            uint32_t length = wav_le32(file + at + 4);
            const unsigned char *body = file + at + 8;
            if (memcmp(file + at, "fmt ", 4) == 0 && length >= 16)
                format_ok = wav_le16(body + 2) == 2 && wav_le32(body + 4) == 48000 && wav_le16(body + 14) == 16;
            if (memcmp(file + at, "data", 4) == 0) {
                size_t available = size - (at + 8);
                size_t bytes = length > 0 && length < available ? length : available;
                *count = (long)(bytes / 4);
                *samples = format_ok ? wav_left_of_frames(body, *count) : NULL;
                error = !format_ok ? "not 48 kHz 16-bit stereo" : *samples == NULL ? "out of memory" : NULL;
                break;
            }
            at += 8 + (size_t)length + (length & 1);
        }
    }
    free(file);
    return error;
}

#endif
