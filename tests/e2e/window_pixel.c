/* window_pixel WINDOW X Y: prints "R G B" (0-255) of one pixel of an X window,
   read straight off the display: quick enough to poll for a change. */
#include "x_errors.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>

/* The channel a visual's mask selects, scaled to 0..255. */
static unsigned channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        shift++;
    }
    return (unsigned)(((pixel >> shift) & mask) * 255 / mask);
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: window_pixel WINDOW X Y\n");
        return 2;
    }
    name_x_errors("window_pixel");
    Display *display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "window_pixel: cannot open the display\n");
        return 2;
    }
    Window window = (Window)strtoul(argv[1], NULL, 0);
    XImage *image = XGetImage(display, window, atoi(argv[2]), atoi(argv[3]), 1, 1, AllPlanes, ZPixmap);
    if (image == NULL) {
        fprintf(stderr, "window_pixel: cannot read the window\n");
        XCloseDisplay(display);
        return 1;
    }
    unsigned long pixel = XGetPixel(image, 0, 0);
    printf("%u %u %u\n", channel(pixel, image->red_mask), channel(pixel, image->green_mask),
           channel(pixel, image->blue_mask));
    XDestroyImage(image);
    XCloseDisplay(display);
    return 0;
}
