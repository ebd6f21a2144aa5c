/* Preloaded into the program by the signal tests: holds the program's first
   child for half a second after fork before it runs on, the moment where a
   stop signal sent to a new child could be lost. Forks made by that child
   (the player's shell) are not held. */
#include <pthread.h>
#include <time.h>

static int forks;

static void count_fork(void)
{
    forks++;
}

static void hold_first_child(void)
{
    if (forks == 1) {
        struct timespec half_second = {0, 500000000L};
        nanosleep(&half_second, NULL);
    }
}

__attribute__((constructor)) static void install(void)
{
    pthread_atfork(count_fork, NULL, hold_first_child);
}
