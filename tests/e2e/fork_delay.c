/* Preloaded into the program by the signal tests: holds the program's first
   child after fork before it runs on, the moment where a stop signal sent to
   a new child could be lost; FORK_DELAY_MS long (default 500). Forks made by
   that child (the player's shell) are not held. */
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

static int forks;

static void count_fork(void)
{
    forks++;
}

static void hold_first_child(void)
{
    if (forks == 1) {
        const char *text = getenv("FORK_DELAY_MS");
        long ms = text != NULL ? atol(text) : 500;
        struct timespec delay = {ms / 1000, ms % 1000 * 1000000L};
        nanosleep(&delay, NULL);
    }
}

__attribute__((constructor)) static void install(void)
{
    pthread_atfork(count_fork, NULL, hold_first_child);
}
