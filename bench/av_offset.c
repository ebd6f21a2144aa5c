// av_offset MUSIC.wav RECORDING.raw RECORDING.index QUANTUM ZERO_NS
//
// When did the soundtrack reach the sink, measured from the demo's clock
// zero (ZERO_NS, CLOCK_MONOTONIC)? RECORDING is what the sink played (48 kHz
// 16-bit stereo, from pw-record through pipe_stamp), INDEX says when each
// piece of it arrived and QUANTUM is the graph's fixed quantum in samples.
//
// Prints "av_ms A early_gap_ms G slip_ms S checked_s C mismatch M": A is the
// figure (positive: sound late), G and S are playback gaps found before the
// first loud passage and between it and the end of the recording (S is
// negative where the recorder lost pieces of what the sink played).
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wav_left.h"

static const double RATE = 48000.0;
static const int SOUND = 16;                 // about -66 dBFS: above the dither
static const int LOUD = 1000;                // about -30 dBFS: enough to match on
static const long MATCH = 480;               // compare 10 ms of sound
static const long SEARCH = 256;              // samples either side of the first guess

static void die(const char *message)
{
    fprintf(stderr, "av_offset: %s\n", message);
    exit(1);
}

// The left channel of a WAV (the music) or of raw frames (the recording).
static int16_t *music_left(const char *path, long *count)
{
    int16_t *left;
    const char *error = wav_left(path, &left, count);
    if (error != NULL)
        die(error);
    return left;
}

static int16_t *raw_left(const char *path, long *count)
{
    size_t size;
    unsigned char *file = wav_read_file(path, &size);
    if (file == NULL)
        die("cannot read an input file");
    *count = (long)(size / 4);
    int16_t *left = wav_left_of_frames(file, *count);
    free(file);
    if (left == NULL)
        die("out of memory");
    return left;
}

static long first_above(const int16_t *samples, long count, int threshold)
{
    for (long i = 0; i < count; i++)
        if (abs(samples[i]) >= threshold)
            return i;
    return -1;
}

static double mean_level(const int16_t *samples, long from)
{
    double sum = 0.0;
    for (long i = from; i < from + MATCH; i++)
        sum += abs(samples[i]);
    return sum / (double)MATCH;
}

// Mean difference between the music from `from` on and the recording `lag` samples later.
static double mismatch(const int16_t *music, const int16_t *recorded, long recorded_count, long from, long lag)
{
    if (lag < 0 || lag + from + MATCH > recorded_count)
        return INFINITY;
    double sum = 0.0;
    for (long i = from; i < from + MATCH; i++)
        sum += abs(recorded[lag + i] - music[i]);
    return sum / (double)MATCH;
}

// A few levels of difference are conversion rounding; more is other sound.
static int matches(double difference, double level) { return difference <= 0.02 * level + 2.0; }

int main(int argc, char **argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: av_offset MUSIC.wav RECORDING.raw RECORDING.index QUANTUM ZERO_NS\n");
        return 2;
    }
    long music_count, recorded_count;
    int16_t *music = music_left(argv[1], &music_count);
    int16_t *recorded = raw_left(argv[2], &recorded_count);
    long long quantum = atoll(argv[4]);
    double zero_ns = strtod(argv[5], NULL);
    if (quantum <= 0)
        die("the quantum must be a number of samples");

    // The sink takes the music a quantum at a time, and the recorder gets
    // each quantum once the cycle that played it is done: a read ending at
    // sample N arrives a little after the cycle that started at sample
    // N - QUANTUM. Arrivals are late by scheduling noise but never early, so
    // the earliest "arrival - (N - QUANTUM) / rate" is the time of sample 0.
    FILE *index = fopen(argv[3], "r");
    if (index == NULL)
        die("cannot open the index");
    double start_ns = INFINITY;
    long long at_ns, offset, length;
    long reads = 0;
    while (fscanf(index, "%lld %lld %lld", &at_ns, &offset, &length) == 3) {
        if (length % (quantum * 4) != 0) // a partial quantum: the recorder was stopped
            continue;
        double t = (double)at_ns - ((double)(offset + length) / 4.0 - (double)quantum) * 1e9 / RATE;
        if (t < start_ns)
            start_ns = t;
        reads++;
    }
    fclose(index);
    if (reads < 10)
        die("the recording has fewer than 10 whole reads");
    if (start_ns >= zero_ns)
        die("the recording started after the clock's zero point");
    // The figure: when the first sound reached the sink, less how far into
    // the music that sound lies (its fade-in may start below the threshold).
    long music_first = first_above(music, music_count, SOUND);
    long recorded_first = first_above(recorded, recorded_count, SOUND);
    if (music_first < 0)
        die("the music is silent");
    if (recorded_first < 0)
        die("the sink never received the music (the recording stays silent)");
    long first_lag = recorded_first - music_first;

    // The check: the recording holds the music, sample-exact, from its first
    // loud passage on...
    long music_loud = first_above(music, music_count, LOUD);
    long recorded_loud = first_above(recorded, recorded_count, LOUD);
    if (music_loud < 0 || music_loud + MATCH > music_count)
        die("the music never gets loud enough to match");
    if (recorded_loud < 0)
        die("the recording never gets loud: the sink did not receive the music");
    long guess = recorded_loud - music_loud, lag = -1;
    double level = mean_level(music, music_loud), best = INFINITY;
    for (long l = guess - SEARCH; l <= guess + SEARCH; l++) {
        double difference = mismatch(music, recorded, recorded_count, music_loud, l);
        if (difference < best) {
            best = difference;
            lag = l;
        }
    }
    if (!matches(best, level))
        die("the recording does not match the music where it gets loud");

    // ...and gaps in playback that push the rest later show up as a larger
    // lag near the end of the recording, pieces a starved recorder lost as a
    // smaller one: the lag nearest the first that matches there.
    long covered = recorded_count - lag < music_count ? recorded_count - lag : music_count;
    long check_at = covered - (long)RATE / 2;
    while (check_at > music_loud && mean_level(music, check_at) < LOUD / 4)
        check_at -= MATCH;
    if (check_at <= music_loud)
        die("the recording holds too little of the music to check for gaps");
    long end_lag = -1;
    double end_level = mean_level(music, check_at);
    for (long d = 0; d <= (long)RATE && end_lag < 0; d++) {
        if (matches(mismatch(music, recorded, recorded_count, check_at, lag + d), end_level))
            end_lag = lag + d;
        else if (lag - d >= 0 && matches(mismatch(music, recorded, recorded_count, check_at, lag - d), end_level))
            end_lag = lag - d;
    }
    if (end_lag < 0)
        die("the music is lost later in the recording (a gap of over 1 s either way, or other sound)");

    double first_ns = start_ns + (double)first_lag * 1e9 / RATE;
    printf("av_ms %.2f early_gap_ms %.2f slip_ms %.2f checked_s %.2f mismatch %.2f\n",
           (first_ns - zero_ns) / 1e6, (double)(lag - first_lag) * 1000.0 / RATE,
           (double)(end_lag - lag) * 1000.0 / RATE, (double)(check_at - music_loud) / RATE, best);
    return 0;
}
