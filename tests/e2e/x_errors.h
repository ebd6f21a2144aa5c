/* The test helpers' X errors name the helper. Xlib's own handler prints the
   same lines whichever process made the request, so a window that went away
   between a helper's lookup and its use could not be told from an error of
   the program under test. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

static const char *x_errors_helper = "?";

static int x_error_named(Display *display, XErrorEvent *error)
{
    char text[128], number[16], request[64];
    XGetErrorText(display, error->error_code, text, sizeof text);
    snprintf(number, sizeof number, "%d", error->request_code);
    XGetErrorDatabaseText(display, "XRequest", number, number, request, sizeof request);
    fprintf(stderr, "%s: X error %s on %s (resource 0x%lx)\n", x_errors_helper, text, request,
            error->resourceid);
    exit(3);
}

/* From here, an X error ends the helper with status 3 and its own name. */
static void name_x_errors(const char *helper)
{
    x_errors_helper = helper;
    XSetErrorHandler(x_error_named);
}
