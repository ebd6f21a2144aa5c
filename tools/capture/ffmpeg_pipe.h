// A child ffmpeg fed raw frames on its standard input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <sys/types.h>
#include <vector>

struct t_ffmpeg {
    pid_t pid = -1;
    int input = -1;      // write end of the child's standard input
    FILE *log = nullptr; // the child's standard error, an unnamed temporary file
};

// The ffmpeg argument list (without the program name) of a video capture.
std::vector<std::string> video_ffmpeg_args(int width, int height, int fps, double seconds, int crf,
                                           const std::string &preset, const std::string &audio_path,
                                           const std::string &output_path);

// Starts `program` (looked up on PATH) with `args`. Fails with a message when
// it cannot be run, e.g. when it is not installed. The child is killed when
// the thread that started it ends, so call this from the main thread.
bool ffmpeg_start(t_ffmpeg *ff, const std::string &program, const std::vector<std::string> &args,
                  std::string *error);

// Writes all of `size` bytes. Returns false when the child stopped reading or
// when a stop signal interrupted the write.
bool ffmpeg_write(t_ffmpeg *ff, const void *data, size_t size, std::string *error);

// Closes the input and waits. Returns true when ffmpeg exited with status 0;
// otherwise `*error` holds its exit status and what it printed.
bool ffmpeg_finish(t_ffmpeg *ff, std::string *error);

// Stops the child at once and waits for it.
void ffmpeg_kill(t_ffmpeg *ff);
