#include "ffmpeg_pipe.h"

#include "child_process.h"
#include "stop_signal.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/wait.h>
#include <unistd.h>

std::vector<std::string> video_ffmpeg_args(int width, int height, int fps, double seconds, int crf,
                                           const std::string &preset, const std::string &audio_path,
                                           const std::string &output_path)
{
    char length[32];
    snprintf(length, sizeof length, "%.6f", seconds);
    return {
        "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        // Picture: raw rgb24 frames, top row first, on standard input.
        "-f", "rawvideo", "-pix_fmt", "rgb24", "-s", std::to_string(width) + "x" + std::to_string(height),
        "-framerate", std::to_string(fps), "-i", "pipe:0",
        "-i", audio_path,
        "-map", "0:v:0", "-map", "1:a:0",
        "-c:v", "libx264", "-preset", preset, "-crf", std::to_string(crf), "-pix_fmt", "yuv420p",
        // Short music is padded with silence, and -t holds both streams to the
        // picture's length, so the picture is never cut.
        "-c:a", "aac", "-b:a", "192k", "-af", "apad", "-t", length,
        // The format is named: the file is written under a temporary name.
        "-movflags", "+faststart", "-f", "mp4", output_path,
    };
}

static std::string read_log(FILE *log)
{
    std::string text;
    if (log == nullptr)
        return text;
    fflush(log);
    rewind(log);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, log)) > 0)
        text.append(buffer, n);
    // Only the end matters when ffmpeg is chatty.
    if (text.size() > 4000)
        text = "..." + text.substr(text.size() - 4000);
    return text;
}

static void close_all(std::initializer_list<int> fds)
{
    for (int fd : fds)
        close(fd);
}

// The log goes with a start that failed; so does what has been made so far.
static bool fail_start(t_ffmpeg *ff, const std::string &why, std::string *error)
{
    *error = why;
    if (ff->log != nullptr)
        fclose(ff->log);
    ff->log = nullptr;
    return false;
}

bool ffmpeg_start(t_ffmpeg *ff, const std::string &program, const std::vector<std::string> &args,
                  std::string *error)
{
    ff->log = tmpfile();
    if (ff->log == nullptr)
        return fail_start(ff, std::string("cannot make a log file for ffmpeg: ") + strerror(errno), error);
    int input[2], report[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return fail_start(ff, std::string("cannot make a pipe: ") + strerror(errno), error);
    // The child writes errno here when exec fails; a successful exec closes it empty.
    if (pipe2(report, O_CLOEXEC) != 0) {
        close_all({input[0], input[1]});
        return fail_start(ff, std::string("cannot make a pipe: ") + strerror(errno), error);
    }

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    // ffmpeg dies with us, even when we are killed outright, and leads a
    // group of its own: a Ctrl-C reaches the capture tool, which then stops
    // ffmpeg itself and removes the partial file.
    int log_fd = fileno(ff->log);
    const int keep[] = {input[0], log_fd, report[1]};
    sigset_t parent_mask;
    pid_t pid = start_child_process(SIGKILL, keep, 3, &parent_mask);
    if (pid < 0) {
        close_all({input[0], input[1], report[0], report[1]});
        return fail_start(ff, std::string("cannot start ffmpeg: ") + strerror(errno), error);
    }
    if (pid == 0) {
        // Only async-signal-safe calls here: the GL driver has threads running.
        signal(SIGPIPE, SIG_DFL);
        dup2(input[0], 0);
        dup2(log_fd, 1);
        dup2(log_fd, 2);
        close(log_fd);
        sigprocmask(SIG_SETMASK, &parent_mask, nullptr);
        execvp(argv[0], argv.data());
        int e = errno;
        ssize_t unused = write(report[1], &e, sizeof e);
        (void)unused;
        _exit(127);
    }
    close_all({input[0], report[1]});
    int child_errno = 0;
    ssize_t got;
    do
        got = read(report[0], &child_errno, sizeof child_errno);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == (ssize_t)sizeof child_errno) {
        waitpid(pid, nullptr, 0);
        close(input[1]);
        return fail_start(ff,
                          "cannot run " + program + ": " + strerror(child_errno) +
                              (child_errno == ENOENT ? " (is ffmpeg installed and on PATH?)" : ""),
                          error);
    }
    ff->pid = pid;
    ff->input = input[1];
    return true;
}

bool ffmpeg_write(t_ffmpeg *ff, const void *data, size_t size, std::string *error)
{
    const char *p = (const char *)data;
    while (size > 0) {
        ssize_t n = write(ff->input, p, size);
        if (n < 0) {
            if (errno == EINTR && !stop_signal_caught())
                continue;
            if (errno != EINTR)
                *error = std::string("ffmpeg stopped reading frames: ") + strerror(errno);
            return false;
        }
        p += n;
        size -= (size_t)n;
    }
    return true;
}

static int wait_child(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

bool ffmpeg_finish(t_ffmpeg *ff, std::string *error)
{
    if (ff->input >= 0)
        close(ff->input);
    ff->input = -1;
    int status = wait_child(ff->pid);
    ff->pid = -1;
    std::string log = read_log(ff->log);
    fclose(ff->log);
    ff->log = nullptr;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    if (WIFEXITED(status))
        *error = "ffmpeg failed with exit status " + std::to_string(WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        *error = "ffmpeg was killed by signal " + std::to_string(WTERMSIG(status));
    else
        *error = "ffmpeg failed";
    if (!log.empty())
        *error += ":\n" + log;
    return false;
}

void ffmpeg_kill(t_ffmpeg *ff)
{
    if (ff->pid > 0) {
        kill(ff->pid, SIGKILL);
        wait_child(ff->pid);
    }
    ff->pid = -1;
    if (ff->input >= 0)
        close(ff->input);
    ff->input = -1;
    if (ff->log != nullptr)
        fclose(ff->log);
    ff->log = nullptr;
}
