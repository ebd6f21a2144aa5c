#include "soundtrack.h"

#include "child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

static const char *const PLAYER_COMMAND = "pw-play music.wav";
// A player that ignores the polite signal this long is killed.
static const long PLAYER_GRACE_NS = 500L * 1000L * 1000L;
// The audio child stops its player within the grace above; one that has not
// ended after this long is killed with its whole group.
static const int STOP_LIMIT_MS = 2000;
static const int STOP_POLL_MS = 10;

static pid_t wait_retrying(pid_t pid, int options)
{
    pid_t result;
    do {
        result = waitpid(pid, NULL, options);
    } while (result == -1 && errno == EINTR);
    return result;
}

// The shell and the player it starts stay in the audio child's process
// group, so one signal reaches them all, whether or not the shell execs the
// player, and so does the program's last resort.
static pid_t start_player(const sigset_t *parent_mask)
{
    pid_t shell_pid = fork();
    if (shell_pid == 0) {
        sigprocmask(SIG_SETMASK, parent_mask, NULL);
        execl("/bin/sh", "sh", "-c", PLAYER_COMMAND, (char *)NULL);
        _exit(127);
    }
    return shell_pid;
}

// Stops the whole group, which this process leads; it is in it too, has the
// signal blocked and leaves once the shell has gone. What the shell may have
// left behind, and a player that ignored the polite signal, go with the last one.
static void stop_player(pid_t shell_pid)
{
    pid_t group = getpid();
    kill(-group, SIGTERM);
    sigset_t child_ended;
    sigemptyset(&child_ended);
    sigaddset(&child_ended, SIGCHLD);
    struct timespec grace = {0, PLAYER_GRACE_NS};
    while (wait_retrying(shell_pid, WNOHANG) == 0) {
        if (sigtimedwait(&child_ended, NULL, &grace) == -1 && errno == EAGAIN)
            break;
    }
    kill(-group, SIGKILL);
}

// The audio child: starts the player, then waits for it to end or for a
// stop, which comes as SIGTERM from the program or from the kernel when the
// program dies. The signals were blocked before the fork, so a stop that
// comes while it starts waits for it. It writes nothing and leaves with
// _exit: the buffered output and exit handlers it inherited are the program's.
static void run_audio_child(const sigset_t *parent_mask)
{
    sigset_t watched = child_signals();
    // A player that can't start only means a silent show.
    pid_t shell_pid = start_player(parent_mask);
    if (shell_pid == -1)
        _exit(0);
    for (;;) {
        int signal_number = sigwaitinfo(&watched, NULL);
        if (signal_number == SIGCHLD) {
            if (wait_retrying(shell_pid, WNOHANG) == shell_pid)
                _exit(0);
        } else if (signal_number > 0) {
            stop_player(shell_pid);
            _exit(0);
        }
    }
}

pid_t start_soundtrack(void)
{
    sigset_t parent_mask;
    pid_t child_pid = start_child_process(SIGTERM, NULL, 0, &parent_mask);
    if (child_pid == -1) {
        perror("fork");
        return -1;
    }
    if (child_pid == 0)
        run_audio_child(&parent_mask);
    return child_pid;
}

bool soundtrack_ended(pid_t child_pid)
{
    pid_t result = wait_retrying(child_pid, WNOHANG);
    return result == child_pid || (result == -1 && errno == ECHILD);
}

void stop_soundtrack(pid_t child_pid)
{
    kill(child_pid, SIGTERM);
    struct timespec poll = {0, STOP_POLL_MS * 1000L * 1000L};
    for (int waited = 0; waited < STOP_LIMIT_MS; waited += STOP_POLL_MS) {
        if (soundtrack_ended(child_pid))
            return;
        nanosleep(&poll, NULL);
    }
    kill(-child_pid, SIGKILL);
    wait_retrying(child_pid, 0);
}

void report_soundtrack_done(void)
{
    puts("The child process has completed its execution.");
}
