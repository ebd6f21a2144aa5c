#include "jpeg_fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

void pattern_texel(int x, int y, unsigned char rgb[3])
{
    rgb[0] = (unsigned char)(x * 4 % 256);
    rgb[1] = (unsigned char)(y * 4 % 256);
    rgb[2] = (unsigned char)(128 + (x + y) % 64);
}

std::vector<unsigned char> make_jpeg(int width, int height, t_jpeg_kind kind)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);

    unsigned char *out = nullptr;
    unsigned long out_size = 0;
    jpeg_mem_dest(&cinfo, &out, &out_size);

    cinfo.image_width = (JDIMENSION)width;
    cinfo.image_height = (JDIMENSION)height;
    cinfo.input_components = kind == jpeg_grey ? 1 : kind == jpeg_rgb ? 3 : 4;
    cinfo.in_color_space = kind == jpeg_grey ? JCS_GRAYSCALE : kind == jpeg_rgb ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    // Full-resolution chroma keeps the pattern's colours close after decoding.
    for (int c = 0; c < cinfo.num_components; c++) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);

    std::vector<unsigned char> row((size_t)width * (size_t)cinfo.input_components);
    while (cinfo.next_scanline < cinfo.image_height) {
        int y = (int)cinfo.next_scanline;
        for (int x = 0; x < width; x++) {
            unsigned char rgb[3];
            pattern_texel(x, y, rgb);
            if (kind == jpeg_grey) {
                row[(size_t)x] = rgb[0];
            } else if (kind == jpeg_rgb) {
                for (int c = 0; c < 3; c++)
                    row[(size_t)x * 3 + c] = rgb[c];
            } else {
                for (int c = 0; c < 3; c++)
                    row[(size_t)x * 4 + c] = (unsigned char)(255 - rgb[c]);
                row[(size_t)x * 4 + 3] = 0;
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);

    std::vector<unsigned char> bytes(out, out + out_size);
    free(out);
    return bytes;
}

void patch_jpeg_size(std::vector<unsigned char> &jpeg, int width, int height)
{
    // Baseline frame header: FF C0, length, precision, height, width.
    for (size_t i = 0; i + 9 < jpeg.size(); i++) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = (unsigned char)(height >> 8);
            jpeg[i + 6] = (unsigned char)(height & 0xFF);
            jpeg[i + 7] = (unsigned char)(width >> 8);
            jpeg[i + 8] = (unsigned char)(width & 0xFF);
            return;
        }
    }
    throw std::runtime_error("no baseline frame header");
}

std::string write_temp_file(const std::string &name, const std::vector<unsigned char> &bytes)
{
    char dir_template[] = "/tmp/tessary-unit.XXXXXX";
    const char *dir = mkdtemp(dir_template);
    if (dir == nullptr)
        throw std::runtime_error("mkdtemp failed");
    std::string path = std::string(dir) + "/" + name;
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        throw std::runtime_error("cannot write " + path);
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    return path;
}
