/* Pings the demo's window the way a window manager does (_NET_WM_PING) and
   waits for the reply on the root window. Exit 0 when it came within the
   time limit (seconds, first argument, default 1), 1 when it did not, 2 when
   there is no window that takes pings. */
#include "x_errors.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now_seconds(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static int takes_pings(Display *display, Window window, Atom ping)
{
    Atom *protocols = NULL;
    int n = 0, found = 0;
    if (!XGetWMProtocols(display, window, &protocols, &n))
        return 0;
    for (int i = 0; i < n; i++)
        found |= protocols[i] == ping;
    XFree(protocols);
    return found;
}

int main(int argc, char **argv)
{
    double limit = argc > 1 ? atof(argv[1]) : 1.0;
    name_x_errors("wm_ping");
    Display *display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "wm_ping: cannot open the display\n");
        return 2;
    }
    Window root = DefaultRootWindow(display);
    Atom wm_protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    /* Replies are sent to the root window for the window manager. */
    XSelectInput(display, root, SubstructureNotifyMask);

    Window parent, *children = NULL, target = 0;
    unsigned int count = 0;
    XQueryTree(display, root, &root, &parent, &children, &count);
    for (unsigned int i = 0; i < count && target == 0; i++)
        if (takes_pings(display, children[i], ping))
            target = children[i];
    XFree(children);
    if (target == 0) {
        fprintf(stderr, "wm_ping: no window takes _NET_WM_PING\n");
        XCloseDisplay(display);
        return 2;
    }

    const long stamp = 4242;
    XEvent event = {0};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = wm_protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)ping;
    event.xclient.data.l[1] = stamp;
    event.xclient.data.l[2] = (long)target;
    XSendEvent(display, target, False, NoEventMask, &event);
    XFlush(display);

    double start = now_seconds();
    int answered = 0;
    while (!answered) {
        while (XPending(display)) {
            XEvent reply;
            XNextEvent(display, &reply);
            if (reply.type == ClientMessage && reply.xclient.message_type == wm_protocols &&
                (Atom)reply.xclient.data.l[0] == ping && reply.xclient.data.l[1] == stamp) {
                printf("wm_ping: reply after %.3f s\n", now_seconds() - start);
                answered = 1;
            }
        }
        double left = limit - (now_seconds() - start);
        if (answered || left <= 0)
            break;
        struct pollfd fd = {ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, (int)(left * 1000) + 1);
    }
    if (!answered)
        fprintf(stderr, "wm_ping: no reply within %.1f s\n", limit);
    XCloseDisplay(display);
    return answered ? 0 : 1;
}
