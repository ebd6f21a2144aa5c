// Soundtrack: an audio child process that runs the PipeWire player.
#pragma once

#include <sys/types.h>

// Forks the audio child, which plays "music.wav" and exits; -1 when the fork fails.
pid_t start_soundtrack(void);

// Blocks until the audio child has ended, then says so on standard output.
void wait_for_soundtrack(pid_t child_pid);
