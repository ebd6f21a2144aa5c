#include "soundtrack.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

static const char *const PLAYER_COMMAND = "pw-play music.wav";

pid_t start_soundtrack(void)
{
    pid_t child_pid = fork();
    if (child_pid == -1) {
        perror("fork");
        return -1;
    }
    if (child_pid == 0) {
        // A missing or failing player only means a silent show.
        int player_status = system(PLAYER_COMMAND);
        (void)player_status;
        // _exit: the parent's buffered output and exit handlers are not ours to run.
        _exit(0);
    }
    return child_pid;
}

void wait_for_soundtrack(pid_t child_pid)
{
    waitpid(child_pid, NULL, 0);
    puts("The child process has completed its execution.");
}
