// Test images, encoded in memory with libjpeg.
#pragma once

#include <string>
#include <vector>

enum t_jpeg_kind { jpeg_rgb, jpeg_grey, jpeg_cmyk };

// A width x height image whose texel (x, y) is pattern_texel(x, y); greyscale
// images take the red channel, CMYK ones invert it into C, M, Y with K = 0.
std::vector<unsigned char> make_jpeg(int width, int height, t_jpeg_kind kind);

// The pattern, RGB: smooth enough that JPEG keeps it within a few levels.
void pattern_texel(int x, int y, unsigned char rgb[3]);

// Rewrites the frame header's size: a valid stream that claims another size.
void patch_jpeg_size(std::vector<unsigned char> &jpeg, int width, int height);

// A file in a fresh temporary directory holding `bytes`.
std::string write_temp_file(const std::string &name, const std::vector<unsigned char> &bytes);
