/* Sends WM_DELETE_WINDOW to every top-level window that accepts it, as a
   window manager does when the user closes a window. */
#include "x_errors.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>

int main(void)
{
    name_x_errors("close_request");
    Display *display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "close_request: cannot open the display\n");
        return 2;
    }
    Atom wm_protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom wm_delete = XInternAtom(display, "WM_DELETE_WINDOW", False);

    Window root, parent, *children = NULL;
    unsigned int count = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);

    int sent = 0;
    for (unsigned int i = 0; i < count; i++) {
        Atom *protocols = NULL;
        int n = 0;
        if (!XGetWMProtocols(display, children[i], &protocols, &n))
            continue;
        for (int j = 0; j < n; j++) {
            if (protocols[j] != wm_delete)
                continue;
            XEvent event = {0};
            event.xclient.type = ClientMessage;
            event.xclient.window = children[i];
            event.xclient.message_type = wm_protocols;
            event.xclient.format = 32;
            event.xclient.data.l[0] = (long)wm_delete;
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(display, children[i], False, NoEventMask, &event);
            sent++;
        }
        XFree(protocols);
    }
    XFree(children);
    XCloseDisplay(display);
    if (sent == 0) {
        fprintf(stderr, "close_request: no window accepts WM_DELETE_WINDOW\n");
        return 1;
    }
    return 0;
}
