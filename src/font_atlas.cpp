#include "font_atlas.h"

#include <GL/glext.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

const char *const ATLAS_FILE = "font_subset_bw_sdf.jpg";

unsigned char *atlas_pixels;

static unsigned char *fail_read(const char *path, const char *reason, int fd, unsigned char *buffer,
                                t_atlas_result *result)
{
    fprintf(stderr, "Failed to read %s: %s\n", path, reason);
    if (fd >= 0)
        close(fd);
    free(buffer);
    *result = atlas_file_failed;
    return NULL;
}

unsigned char *read_atlas_file(const char *path, size_t *size, t_atlas_result *result)
{
    struct stat file_info;
    if (stat(path, &file_info) != 0) {
        printf("FAILED to stat source jpg");
        *result = atlas_file_failed;
        return NULL;
    }
    size_t jpg_size = (size_t)file_info.st_size;

    // 100 spare bytes past the end, as the decoder was always handed.
    unsigned char *jpg_buffer = (unsigned char *)malloc(jpg_size + 100);
    if (jpg_buffer == NULL) {
        fprintf(stderr, "Not enough memory to read %s (%zu bytes)\n", path, jpg_size);
        *result = atlas_image_failed;
        return NULL;
    }

    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return fail_read(path, strerror(errno), fd, jpg_buffer, result);

    size_t i = 0;
    while (i < jpg_size) {
        ssize_t rc = read(fd, jpg_buffer + i, jpg_size - i);
        if (rc < 0)
            return fail_read(path, strerror(errno), fd, jpg_buffer, result);
        if (rc == 0)
            return fail_read(path, "the file ended before its stated size", fd, jpg_buffer, result);
        printf("Input: Read %d/%lu bytes\n", (int)rc, (unsigned long)(jpg_size - i));
        i += (size_t)rc;
    }
    close(fd);

    *size = jpg_size;
    return jpg_buffer;
}

struct t_jpeg_failure {
    struct jpeg_error_mgr manager;
    jmp_buf back;
};

// libjpeg's standard error manager would print and exit; this one jumps back
// to the decoder, which hands the message to its caller.
static void jump_back(j_common_ptr cinfo)
{
    longjmp(((t_jpeg_failure *)cinfo->err)->back, 1);
}

// libjpeg reports errors by longjmp: nothing with a destructor lives in this
// frame, and the reason is written into a plain buffer.
static unsigned char *decode_or_say_why(const unsigned char *jpg_buffer, size_t jpg_size, int max_size,
                                        int *width, int *height, char *why)
{
    struct jpeg_decompress_struct cinfo;
    t_jpeg_failure failure;
    unsigned char *volatile pixels = NULL;
    cinfo.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = jump_back;
    if (setjmp(failure.back)) {
        (*cinfo.err->format_message)((j_common_ptr)&cinfo, why);
        jpeg_destroy_decompress(&cinfo);
        free(pixels);
        return NULL;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpg_buffer, (unsigned long)jpg_size);
    jpeg_read_header(&cinfo, TRUE);
    // Greyscale atlases become RGB too; CMYK can't, and libjpeg says so.
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);

    int jpg_width = (int)cinfo.output_width;
    int jpg_height = (int)cinfo.output_height;
    if (jpg_width > max_size || jpg_height > max_size) {
        snprintf(why, JMSG_LENGTH_MAX, "The font atlas is %dx%d, larger than the %dx%d the GL can hold", jpg_width,
                 jpg_height, max_size, max_size);
        jpeg_destroy_decompress(&cinfo);
        return NULL;
    }
    size_t row_stride = (size_t)jpg_width * (size_t)cinfo.output_components;
    size_t bmp_size = row_stride * (size_t)jpg_height;
    pixels = (unsigned char *)malloc(bmp_size);
    if (pixels == NULL) {
        snprintf(why, JMSG_LENGTH_MAX, "Not enough memory to decode the %dx%d font atlas (%zu bytes)", jpg_width,
                 jpg_height, bmp_size);
        jpeg_destroy_decompress(&cinfo);
        return NULL;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        unsigned char *buffer_array[1] = {pixels + (size_t)cinfo.output_scanline * row_stride};
        jpeg_read_scanlines(&cinfo, buffer_array, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    *width = jpg_width;
    *height = jpg_height;
    return pixels;
}

unsigned char *decode_atlas(const unsigned char *jpg_buffer, size_t jpg_size, int max_size, int *width,
                            int *height, std::string *error)
{
    char why[JMSG_LENGTH_MAX] = "";
    unsigned char *pixels = decode_or_say_why(jpg_buffer, jpg_size, max_size, width, height, why);
    if (pixels == NULL)
        *error = why;
    return pixels;
}

GLuint upload_atlas(const unsigned char *pixels, int width, int height)
{
    GLuint font_tex = 0;
    glGenTextures(1, &font_tex);
    glBindTexture(GL_TEXTURE_2D, font_tex);
    // Rows are tightly packed: any width uploads, not just multiples of 4.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    return font_tex;
}

t_atlas_result load_font_atlas(GLuint *font_tex)
{
    size_t jpg_size = 0;
    t_atlas_result result = atlas_loaded;
    unsigned char *jpg_buffer = read_atlas_file(ATLAS_FILE, &jpg_size, &result);
    if (jpg_buffer == NULL)
        return result;

    GLint max_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    int width = 0, height = 0;
    std::string error;
    atlas_pixels = decode_atlas(jpg_buffer, jpg_size, max_size, &width, &height, &error);
    free(jpg_buffer);
    if (atlas_pixels == NULL) {
        fprintf(stderr, "%s\n", error.c_str());
        return atlas_image_failed;
    }
    *font_tex = upload_atlas(atlas_pixels, width, height);
    return atlas_loaded;
}
