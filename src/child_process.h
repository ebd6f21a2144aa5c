// A child process of the program's own: the audio child, and the capture
// tool's ffmpeg. Each starts the same way, so no step can be missed in one of
// them: the stop signals (SIGINT, SIGTERM, SIGHUP) and SIGCHLD blocked across
// the fork, so none is lost before the child is ready for it and no handler
// of the program's runs in the child; the parent-death signal, and a check
// that the parent did not die first; a process group of its own; none of the
// program's files (the X connection, the GL driver's) but those it is given.
#pragma once

#include <csignal>
#include <sys/types.h>

// Forks. The parent gets the child's process id, or -1 with errno set; its
// signal mask is as before. The child gets 0, with the signals above still
// blocked and at their default actions, `death_signal` set to come when the
// parent dies, its own process group, and only the standard streams and the
// `keep_count` descriptors in `keep` open. `*parent_mask` is the mask to
// restore before an exec.
pid_t start_child_process(int death_signal, const int *keep, int keep_count, sigset_t *parent_mask);

// The stop signals and SIGCHLD, the ones blocked across the fork.
sigset_t child_signals(void);
