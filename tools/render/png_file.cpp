#include "png_file.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

// libpng reports errors by longjmp; nothing with a destructor lives in this frame.
static bool write_rows(FILE *file, const unsigned char *rgb, int width, int height, char *message)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        strcpy(message, "libpng could not start");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        strcpy(message, "libpng failed to encode");
        return false;
    }
    png_init_io(png, file);
    // Sequences are written frame after frame: favour speed over the last few percent.
    png_set_compression_level(png, 3);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; y++)
        png_write_row(png, rgb + (size_t)y * (size_t)width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

std::string partial_path(const std::string &path)
{
    return path + ".partial-" + std::to_string(getpid());
}

bool write_png_rgb(const std::string &path, const unsigned char *rgb, int width, int height, std::string *error)
{
    std::string partial = partial_path(path);
    FILE *file = fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    char message[128] = "";
    bool ok = write_rows(file, rgb, width, height, message);
    if (!ok)
        *error = "cannot write " + path + ": " + message;
    // A full disk shows up only when the buffered data is flushed.
    if (fflush(file) != 0 || ferror(file)) {
        if (ok)
            *error = "cannot write " + path + ": " + strerror(errno);
        ok = false;
    }
    if (fclose(file) != 0 && ok) {
        *error = "cannot write " + path + ": " + strerror(errno);
        ok = false;
    }
    if (ok && rename(partial.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + strerror(errno);
        ok = false;
    }
    if (!ok)
        unlink(partial.c_str());
    return ok;
}
