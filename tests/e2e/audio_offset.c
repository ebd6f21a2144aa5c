/* Where in music.wav a recording of the sink is, for the sound tests (the
   full run and the studio).
   Both files are 48 kHz 16-bit stereo WAVs; the left channel is compared.

     audio_offset at MUSIC REC FROM GUESS SPAN
         the music time (s) that the recording's 0.25 s from FROM (s) matches
         best, searched within GUESS +- SPAN (s), and the match's correlation
     audio_offset onset REC FROM
         the first time (s) at or after FROM where the recording sounds
     audio_offset silence REC FROM [LENGTH]
         the first time (s) at or after FROM where it stays silent for LENGTH
         seconds (default 0.05); a longer LENGTH passes over playback dropouts

   Prints one number per line (at: "TIME CORRELATION"); -1 when none. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wav_left.h"

static const double RATE = 48000.0;
static const int SOUND = 100; /* about -50 dBFS */
static const long MATCH = 12000;  /* 0.25 s */
static const int COARSE = 8;      /* decimation of the first search */

static void die(const char *message)
{
    fprintf(stderr, "audio_offset: %s\n", message);
    exit(2);
}

/* The left channel of a 48 kHz 16-bit stereo WAV, as floats. */
static float *wav_left_floats(const char *path, long *count)
{
    int16_t *samples;
    const char *error = wav_left(path, &samples, count);
    if (error != NULL)
        die(error);
    float *left = malloc((size_t)*count * sizeof(float) + 1);
    if (left == NULL)
        die("out of memory");
    for (long i = 0; i < *count; i++)
        left[i] = samples[i];
    free(samples);
    return left;
}

static double correlation(const float *a, const float *b, long n, int step)
{
    double ab = 0, aa = 0, bb = 0;
    for (long i = 0; i < n; i += step) {
        ab += (double)a[i] * b[i];
        aa += (double)a[i] * a[i];
        bb += (double)b[i] * b[i];
    }
    return aa > 0 && bb > 0 ? ab / sqrt(aa * bb) : 0.0;
}

/* Best lag of `chunk` in `music` within [from, to), every `stride` samples. */
static long best_lag(const float *music, long music_count, const float *chunk, long from, long to, long stride,
                     int step, double *score)
{
    long best = -1;
    *score = -2.0;
    for (long lag = from < 0 ? 0 : from; lag < to && lag + MATCH <= music_count; lag += stride) {
        double c = correlation(music + lag, chunk, MATCH, step);
        if (c > *score) {
            *score = c;
            best = lag;
        }
    }
    return best;
}

static void find_at(const char *music_path, const char *rec_path, double from, double guess, double span)
{
    long music_count, rec_count;
    float *music = wav_left_floats(music_path, &music_count);
    float *rec = wav_left_floats(rec_path, &rec_count);
    long start = (long)(from * RATE);
    if (start < 0 || start + MATCH > rec_count)
        die("the recording is too short");
    double score;
    long lo = (long)((guess - span) * RATE), hi = (long)((guess + span) * RATE);
    long coarse = best_lag(music, music_count, rec + start, lo, hi, COARSE, COARSE, &score);
    long fine = best_lag(music, music_count, rec + start, coarse - 2 * COARSE, coarse + 2 * COARSE + 1, 1, 1, &score);
    printf("%.5f %.4f\n", fine < 0 ? -1.0 : fine / RATE, score);
    free(music);
    free(rec);
}

static int sounds(const float *rec, long i) { return fabsf(rec[i]) >= SOUND; }

static void find_onset(const char *rec_path, double from)
{
    long count, found = -1;
    float *rec = wav_left_floats(rec_path, &count);
    for (long i = (long)(from * RATE); i >= 0 && i < count && found < 0; i++)
        if (sounds(rec, i))
            found = i;
    printf("%.5f\n", found < 0 ? -1.0 : found / RATE);
    free(rec);
}

static void find_silence(const char *rec_path, double from, double length)
{
    long count, quiet = 0, need = (long)(length * RATE), found = -1;
    float *rec = wav_left_floats(rec_path, &count);
    for (long i = (long)(from * RATE); i >= 0 && i < count && found < 0; i++) {
        quiet = sounds(rec, i) ? 0 : quiet + 1;
        if (quiet >= need)
            found = i - need + 1;
    }
    printf("%.5f\n", found < 0 ? -1.0 : found / RATE);
    free(rec);
}

int main(int argc, char **argv)
{
    if (argc == 7 && strcmp(argv[1], "at") == 0)
        find_at(argv[2], argv[3], atof(argv[4]), atof(argv[5]), atof(argv[6]));
    else if (argc == 4 && strcmp(argv[1], "onset") == 0)
        find_onset(argv[2], atof(argv[3]));
    else if ((argc == 4 || argc == 5) && strcmp(argv[1], "silence") == 0)
        find_silence(argv[2], atof(argv[3]), argc == 5 ? atof(argv[4]) : 0.05);
    else
        die("usage: audio_offset at MUSIC REC FROM GUESS SPAN | onset REC FROM | silence REC FROM [LENGTH]");
    return 0;
}
