// Notices when the run-time files change: inotify on the data directory, so
// that editors which save by writing a new file and renaming it over the old
// one are seen as well as those that write in place. A data directory that is
// replaced (moved away or deleted, and made again under its name, as some
// editors, git and sync tools do) is watched again once it is back.
#pragma once

#include <string>

enum t_watched {
    watched_shader = 1,
    watched_atlas = 2,
    watched_music = 4,
    watched_all = 7,
};

struct t_watcher {
    int fd = -1;
    int wd = -1;              // the directory's watch; -1 while it is gone
    std::string dir;
    const char *note = nullptr; // what happened to the watch itself, once, for the HUD
};

bool watcher_open(t_watcher *watcher, const std::string &dir, std::string *error);

// The files (t_watched bits) finished writing or renamed into place since the
// last call; never waits. When changes may have been missed (the kernel's
// queue overflowed, or the directory came back) all three are reported, and
// `note` says why until the caller clears it.
unsigned watcher_poll(t_watcher *watcher);

void watcher_close(t_watcher *watcher);
