#include "watcher.h"

#include "font_atlas.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    watcher->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watcher->fd < 0) {
        *error = std::string("cannot watch ") + dir + ": " + strerror(errno);
        return false;
    }
    // A write is complete at its close; a rename puts a whole file in place.
    if (inotify_add_watch(watcher->fd, dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        *error = std::string("cannot watch ") + dir + ": " + strerror(errno);
        watcher_close(watcher);
        return false;
    }
    return true;
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
            if (event->len > 0)
                changed |= watched_bit(event->name);
            at += (ssize_t)(sizeof(struct inotify_event) + event->len);
        }
    }
    return changed;
}

void watcher_close(t_watcher *watcher)
{
    if (watcher->fd >= 0)
        close(watcher->fd);
    watcher->fd = -1;
}
