// Notices when the run-time files change: inotify on the data directory, so
// that editors which save by writing a new file and renaming it over the old
// one are seen as well as those that write in place.
#pragma once

#include <string>

enum t_watched {
    watched_shader = 1,
    watched_atlas = 2,
    watched_music = 4,
};

struct t_watcher {
    int fd = -1;
};

bool watcher_open(t_watcher *watcher, const std::string &dir, std::string *error);

// The files (t_watched bits) finished writing or renamed into place since the
// last call; never waits.
unsigned watcher_poll(t_watcher *watcher);

void watcher_close(t_watcher *watcher);
