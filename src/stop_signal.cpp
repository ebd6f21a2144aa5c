#include "stop_signal.h"

#include <csignal>
#include <cstring>

static volatile sig_atomic_t caught_signal = 0;

static void note_stop_signal(int signal_number)
{
    caught_signal = signal_number;
}

void catch_stop_signals(void)
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = note_stop_signal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait in progress returns early and sees the signal.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, NULL);
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGHUP, &action, NULL);
}

int stop_signal_caught(void)
{
    return caught_signal;
}

int stop_signal_status(int signal_number)
{
    return 128 + signal_number;
}
