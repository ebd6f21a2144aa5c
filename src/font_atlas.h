// Font atlas: reads "font_subset_bw_sdf.jpg", decodes it to RGB and leaves it
// bound as the texture on unit 0. Nothing here ends the process: a failure
// has its message written and comes back as a result, and the program's main
// picks the exit status (255 for a file that can't be examined or read, 1 for
// an image that doesn't decode or doesn't fit).
#pragma once

#include <GL/gl.h>

#include <cstddef>
#include <string>

extern const char *const ATLAS_FILE;

// The decoded atlas, kept for the life of the process once loaded.
extern unsigned char *atlas_pixels;

enum t_atlas_result {
    atlas_loaded = 0,
    atlas_file_failed,  // the file can't be examined or read
    atlas_image_failed, // the image doesn't decode, doesn't fit the GL, or no memory for it
};

// The whole file in a heap block of `*size` + 100 bytes; prints a progress
// line per read. On failure it has written its message and returns NULL with
// the reason's kind in `*result`.
unsigned char *read_atlas_file(const char *path, size_t *size, t_atlas_result *result);

// Decodes JPEG bytes into tightly packed top-down RGB rows (three bytes a
// texel). Images wider or taller than `max_size` texels are refused before any
// allocation. On failure it returns NULL with the reason in `*error`:
// libjpeg's own message for an image that doesn't decode.
unsigned char *decode_atlas(const unsigned char *jpg_buffer, size_t jpg_size, int max_size, int *width,
                            int *height, std::string *error);

// Uploads RGB pixels as a new texture bound on unit 0.
GLuint upload_atlas(const unsigned char *pixels, int width, int height);

// All three in a row, from the current directory; the pixels stay allocated
// for the rest of the process. A decoding failure's reason goes to standard
// error as libjpeg's own error handler writes it.
t_atlas_result load_font_atlas(GLuint *font_tex);
