// Soundtrack: an audio child process that runs the PipeWire player.
#pragma once

#include <sys/types.h>

// Forks the audio child, which plays "music.wav" through the shell and ends
// when the player does; -1 when the fork fails. The child holds none of the
// program's files (no X or GL connection), and it stops the player and ends
// as soon as the program is gone, however the program ended.
pid_t start_soundtrack(void);

// True once the audio child has ended; it is reaped then.
bool soundtrack_ended(pid_t child_pid);

// Stops the player at once and waits until the audio child has ended; one
// that has not ended within two seconds is killed with its player.
void stop_soundtrack(pid_t child_pid);

// The line that says the audio child has ended, on standard output.
void report_soundtrack_done(void);
