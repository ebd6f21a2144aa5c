// Font atlas: reads "font_subset_bw_sdf.jpg", decodes it to RGB and leaves it
// bound as the texture on unit 0. Failures end the process: 255 when the file
// can't be examined or read, 1 when it doesn't decode or doesn't fit.
#pragma once

#include <GL/gl.h>

#include <cstddef>
#include <string>

extern const char *const ATLAS_FILE;

// The decoded atlas, kept for the life of the process once loaded.
extern unsigned char *atlas_pixels;

// The whole file in a heap block of `*size` + 100 bytes; prints a progress line per read.
unsigned char *read_atlas_file(const char *path, size_t *size);

// Decodes JPEG bytes into tightly packed top-down RGB rows (three bytes a texel).
// Images wider or taller than `max_size` texels are refused before any allocation.
unsigned char *decode_atlas(const unsigned char *jpg_buffer, size_t jpg_size, int max_size,
                            int *width, int *height);

// Uploads RGB pixels as a new texture bound on unit 0.
GLuint upload_atlas(const unsigned char *pixels, int width, int height);

// All three in a row; the pixels stay allocated for the rest of the process.
GLuint load_font_atlas(void);

// decode_atlas for tools that reload the atlas while running: instead of
// ending the process it returns nullptr with the reason in `*error`.
unsigned char *try_decode_atlas(const unsigned char *jpg_buffer, size_t jpg_size, int max_size, int *width,
                                int *height, std::string *error);
