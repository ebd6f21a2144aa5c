#include "soundtrack.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

static const char *const PLAYER_COMMAND = "pw-play music.wav";
// A player that ignores the polite signal this long is killed.
static const long PLAYER_GRACE_NS = 500L * 1000L * 1000L;

static pid_t wait_retrying(pid_t pid, int options)
{
    pid_t result;
    do {
        result = waitpid(pid, NULL, options);
    } while (result == -1 && errno == EINTR);
    return result;
}

// The X connection and the GL driver's files belong to the program alone.
static void close_inherited_files(void)
{
    if (close_range(3, ~0U, 0) == 0)
        return;
    long limit = sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < (limit > 0 ? limit : 1024); fd++)
        close((int)fd);
}

// The shell and the player it starts share a process group of their own,
// so one signal reaches both, whether or not the shell execs the player.
static pid_t start_player(const sigset_t *old_mask)
{
    pid_t shell_pid = fork();
    if (shell_pid == 0) {
        setpgid(0, 0);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        sigprocmask(SIG_SETMASK, old_mask, NULL);
        execl("/bin/sh", "sh", "-c", PLAYER_COMMAND, (char *)NULL);
        _exit(127);
    }
    if (shell_pid > 0)
        setpgid(shell_pid, shell_pid);
    return shell_pid;
}

static void stop_player(pid_t shell_pid)
{
    kill(-shell_pid, SIGTERM);
    sigset_t child_ended;
    sigemptyset(&child_ended);
    sigaddset(&child_ended, SIGCHLD);
    struct timespec grace = {0, PLAYER_GRACE_NS};
    while (wait_retrying(shell_pid, WNOHANG) == 0) {
        if (sigtimedwait(&child_ended, NULL, &grace) == -1 && errno == EAGAIN) {
            kill(-shell_pid, SIGKILL);
            wait_retrying(shell_pid, 0);
            break;
        }
    }
    // The shell may be gone while its player is not.
    kill(-shell_pid, SIGKILL);
}

// The audio child: starts the player, then waits for it to end or for a
// stop, which comes as SIGTERM from the program or from the kernel when the
// program dies. It writes nothing and leaves with _exit: the buffered output
// and exit handlers it inherited are the program's.
static void run_audio_child(pid_t program_pid)
{
    sigset_t watched, old_mask;
    sigemptyset(&watched);
    sigaddset(&watched, SIGCHLD);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGHUP);
    sigprocmask(SIG_BLOCK, &watched, &old_mask);

    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != program_pid)
        _exit(0);
    // A group of its own: whoever kills the program's whole group (a test
    // harness, a session manager) still leaves this child alive to stop the player.
    setpgid(0, 0);
    close_inherited_files();

    // A player that can't start only means a silent show.
    pid_t shell_pid = start_player(&old_mask);
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
    pid_t program_pid = getpid();
    pid_t child_pid = fork();
    if (child_pid == -1) {
        perror("fork");
        return -1;
    }
    if (child_pid == 0)
        run_audio_child(program_pid);
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
    wait_retrying(child_pid, 0);
}

void report_soundtrack_done(void)
{
    puts("The child process has completed its execution.");
}
