// Stop signals: SIGINT, SIGTERM and SIGHUP end the show. The handler only
// notes which signal came; the frame loop and the wait look at it between frames.
#pragma once

// Installs the handler. Call before SDL_Init, with SDL's own handlers turned off.
void catch_stop_signals(void);

// The stop signal caught so far, or 0.
int stop_signal_caught(void);

// The exit status for a run ended by `signal_number`, as a shell reports it.
int stop_signal_status(int signal_number);
