#include "watcher.h"

#include "font_atlas.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// A write is complete at its close; a rename puts a whole file in place. The
// directory itself going away ends the watch.
static const uint32_t WATCH_MASK = IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

static unsigned watched_bit(const char *name)
{
    if (strcmp(name, "tessary.glsl") == 0)
        return watched_shader;
    if (strcmp(name, ATLAS_FILE) == 0)
        return watched_atlas;
    if (strcmp(name, "music.wav") == 0)
        return watched_music;
    return 0;
}

bool watcher_open(t_watcher *watcher, const std::string &dir, std::string *error)
{
    watcher->dir = dir;
    watcher->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watcher->fd >= 0)
        watcher->wd = inotify_add_watch(watcher->fd, dir.c_str(), WATCH_MASK);
    if (watcher->fd < 0 || watcher->wd < 0) {
        *error = std::string("cannot watch ") + dir + ": " + strerror(errno);
        watcher_close(watcher);
        return false;
    }
    return true;
}

// The directory was moved away or deleted. A moved one would go on
// reporting under its new name: its watch is dropped.
static void lose_directory(t_watcher *watcher)
{
    inotify_rm_watch(watcher->fd, watcher->wd);
    watcher->wd = -1;
    watcher->note = "data folder gone: waiting for it";
}

unsigned watcher_poll(t_watcher *watcher)
{
    alignas(struct inotify_event) static char buffer[16384];
    unsigned changed = 0;
    for (;;) {
        ssize_t got = read(watcher->fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const struct inotify_event *event = (const struct inotify_event *)(buffer + at);
            if (event->mask & IN_Q_OVERFLOW) {
                changed |= watched_all;
                watcher->note = "missed file changes: reloaded all";
            } else if (event->wd == watcher->wd && (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF))) {
                lose_directory(watcher);
            } else if (event->wd == watcher->wd && event->len > 0) {
                changed |= watched_bit(event->name);
            }
            at += (ssize_t)(sizeof(struct inotify_event) + event->len);
        }
    }
    // Files may have come into the new directory before its watch did.
    if (watcher->wd < 0 && watcher->fd >= 0) {
        watcher->wd = inotify_add_watch(watcher->fd, watcher->dir.c_str(), WATCH_MASK);
        if (watcher->wd >= 0) {
            changed |= watched_all;
            watcher->note = "data folder replaced: reloaded all";
        }
    }
    return changed;
}

void watcher_close(t_watcher *watcher)
{
    if (watcher->fd >= 0)
        close(watcher->fd);
    watcher->fd = -1;
    watcher->wd = -1;
}
