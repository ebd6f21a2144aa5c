#include "child_process.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>

sigset_t child_signals(void)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGCHLD);
    return signals;
}

static void close_range_of(unsigned first, unsigned last)
{
    if (first > last || close_range(first, last, 0) == 0)
        return;
    long limit = sysconf(_SC_OPEN_MAX);
    unsigned end = limit > 0 ? (unsigned)limit - 1 : 1023;
    for (unsigned fd = first; fd <= last && fd <= end; fd++)
        close((int)fd);
}

// Everything from 3 up but the descriptors in `keep`; async-signal-safe, as
// all the child does before its exec must be (the GL driver has threads).
static void close_inherited_files(const int *keep, int keep_count)
{
    int sorted[8];
    int count = 0;
    for (int i = 0; i < keep_count && count < 8; i++) {
        if (keep[i] < 3)
            continue;
        int at = count++;
        while (at > 0 && sorted[at - 1] > keep[i]) {
            sorted[at] = sorted[at - 1];
            at--;
        }
        sorted[at] = keep[i];
    }
    unsigned first = 3;
    for (int i = 0; i < count; i++) {
        if ((unsigned)sorted[i] > first)
            close_range_of(first, (unsigned)sorted[i] - 1);
        first = (unsigned)sorted[i] + 1;
    }
    close_range_of(first, ~0U);
}

pid_t start_child_process(int death_signal, const int *keep, int keep_count, sigset_t *parent_mask)
{
    sigset_t blocked = child_signals();
    pid_t parent = getpid();
    sigprocmask(SIG_BLOCK, &blocked, parent_mask);
    pid_t pid = fork();
    if (pid != 0) {
        // Set from both sides, so the group exists whichever runs first.
        if (pid > 0)
            setpgid(pid, pid);
        int saved = errno;
        sigprocmask(SIG_SETMASK, parent_mask, NULL);
        errno = saved;
        return pid;
    }
    // The program's handlers note a stop for the program's loop; here a
    // signal that comes once the child unblocks it ends the child.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    prctl(PR_SET_PDEATHSIG, death_signal);
    // Had the parent died before that line, the parent is now someone else.
    if (getppid() != parent)
        _exit(0);
    setpgid(0, 0);
    close_inherited_files(keep, keep_count);
    return 0;
}
