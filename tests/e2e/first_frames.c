/* Preloaded into the program by test_pace.sh. At each of the first two
   buffer swaps it reads one pixel of the frame about to be shown, from the
   back buffer, and appends "frame N R G B" to the file named by
   FIRST_FRAMES_OUT: exactly the frames that reached the screen first. */
#define _GNU_SOURCE
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

/* Window coordinates, from the bottom left, of the pixel read. */
#define PIXEL_X 20
#define PIXEL_Y 20
#define FRAMES 2

void SDL_GL_SwapWindow(void *window)
{
    static void (*real_swap)(void *);
    static int swaps;
    if (real_swap == NULL)
        *(void **)&real_swap = dlsym(RTLD_NEXT, "SDL_GL_SwapWindow");
    if (swaps < FRAMES) {
        GLint read_framebuffer = 0;
        unsigned char rgba[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_framebuffer);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glReadPixels(PIXEL_X, PIXEL_Y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, (GLuint)read_framebuffer);
        FILE *out = fopen(getenv("FIRST_FRAMES_OUT"), "a");
        if (out != NULL) {
            fprintf(out, "frame %d %d %d %d\n", swaps + 1, rgba[0], rgba[1], rgba[2]);
            fclose(out);
        }
        swaps++;
    }
    real_swap(window);
}
