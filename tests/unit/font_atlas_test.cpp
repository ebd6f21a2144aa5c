#include "font_atlas.h"
#include "headless_gl.h"
#include "jpeg_fixtures.h"

#include <GL/glext.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN 1
#else
#define UNDER_ASAN 0
#endif

static const int NO_LIMIT = 1 << 30;

static std::vector<unsigned char> decode(const std::vector<unsigned char> &jpeg, int *width, int *height)
{
    std::string error;
    unsigned char *pixels = decode_atlas(jpeg.data(), jpeg.size(), NO_LIMIT, width, height, &error);
    EXPECT_NE(pixels, nullptr) << error;
    std::vector<unsigned char> out(pixels, pixels + (size_t)*width * (size_t)*height * 3);
    free(pixels);
    return out;
}

// Decodes what must not decode: the reason, or "decoded" if it did.
static std::string decode_failure(const std::vector<unsigned char> &jpeg, int max_size)
{
    int width = 0, height = 0;
    std::string error;
    unsigned char *pixels = decode_atlas(jpeg.data(), jpeg.size(), max_size, &width, &height, &error);
    free(pixels);
    return pixels != nullptr ? "decoded" : error;
}

// read_atlas_file on `path`: what it wrote to standard error, and the result.
static std::string read_failure(const char *path, t_atlas_result *result)
{
    size_t size = 0;
    testing::internal::CaptureStderr();
    unsigned char *buffer = read_atlas_file(path, &size, result);
    std::string said = testing::internal::GetCapturedStderr();
    free(buffer);
    return buffer != nullptr ? "read" : said;
}

// ---- reading the file ----

TEST(AtlasRead, ProgressLinesAddUpToTheFileSize)
{
    std::vector<unsigned char> bytes = make_jpeg(512, 256, jpeg_rgb);
    std::string path = write_temp_file("atlas.jpg", bytes);

    testing::internal::CaptureStdout();
    size_t size = 0;
    t_atlas_result result = atlas_loaded;
    unsigned char *buffer = read_atlas_file(path.c_str(), &size, &result);
    std::string output = testing::internal::GetCapturedStdout();

    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(size, bytes.size());
    EXPECT_EQ(memcmp(buffer, bytes.data(), size), 0);
    free(buffer);

    std::istringstream lines(output);
    std::string line;
    unsigned long total = 0, lines_seen = 0;
    while (std::getline(lines, line)) {
        int got = 0;
        unsigned long wanted = 0;
        ASSERT_EQ(sscanf(line.c_str(), "Input: Read %d/%lu bytes", &got, &wanted), 2) << line;
        EXPECT_EQ(wanted, bytes.size() - total) << "each line names the bytes still wanted";
        total += (unsigned long)got;
        lines_seen++;
    }
    EXPECT_GE(lines_seen, 1u);
    EXPECT_EQ(total, bytes.size());
}

// Each is the file's fault, which the program ends with 255 for.
TEST(AtlasRead, FilesThatCannotBeReadAreReportedAsTheFiles)
{
    t_atlas_result result = atlas_loaded;
    testing::internal::CaptureStdout();
    std::string said = read_failure("/nonexistent/font_subset_bw_sdf.jpg", &result);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FAILED to stat source jpg");
    EXPECT_EQ(said, "");
    EXPECT_EQ(result, atlas_file_failed);

    std::string path = write_temp_file("placeholder", {});
    std::string dir = path.substr(0, path.rfind('/'));
    result = atlas_loaded;
    EXPECT_EQ(read_failure(dir.c_str(), &result), "Failed to read " + dir + ": Is a directory\n");
    EXPECT_EQ(result, atlas_file_failed);

    // Kernel attribute files claim a page but hold a line: the read ends early.
    const char *short_file = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat info;
    if (stat(short_file, &info) == 0 && info.st_size > 0) {
        result = atlas_loaded;
        testing::internal::CaptureStdout();
        said = read_failure(short_file, &result);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(said, std::string("Failed to read ") + short_file + ": the file ended before its stated size\n");
        EXPECT_EQ(result, atlas_file_failed);
    }

    std::string unreadable = write_temp_file("atlas.jpg", make_jpeg(8, 8, jpeg_rgb));
    chmod(unreadable.c_str(), 0);
    chmod(unreadable.substr(0, unreadable.rfind('/')).c_str(), 0755);
    // Root reads everything: nobody, for the one call.
    ASSERT_TRUE(geteuid() != 0 || (setegid(65534) == 0 && seteuid(65534) == 0));
    result = atlas_loaded;
    said = read_failure(unreadable.c_str(), &result);
    ASSERT_TRUE(getuid() != 0 || (seteuid(0) == 0 && setegid(0) == 0));
    EXPECT_EQ(said, "Failed to read " + unreadable + ": Permission denied\n");
    EXPECT_EQ(result, atlas_file_failed);
}

// ---- decoding ----

TEST(AtlasDecode, ColourImageGivesThreeBytesATexelTopDown)
{
    int width = 0, height = 0;
    std::vector<unsigned char> pixels = decode(make_jpeg(64, 32, jpeg_rgb), &width, &height);
    ASSERT_EQ(width, 64);
    ASSERT_EQ(height, 32);
    for (int y = 0; y < height; y += 5) {
        for (int x = 0; x < width; x += 7) {
            unsigned char expected[3];
            pattern_texel(x, y, expected);
            for (int c = 0; c < 3; c++)
                EXPECT_NEAR(pixels[((size_t)y * width + x) * 3 + c], expected[c], 8)
                    << "texel " << x << "," << y << " channel " << c;
        }
    }
}

TEST(AtlasDecode, GreyscaleImageBecomesRgb)
{
    int width = 0, height = 0;
    std::vector<unsigned char> pixels = decode(make_jpeg(40, 20, jpeg_grey), &width, &height);
    ASSERT_EQ(pixels.size(), 40u * 20u * 3u);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        EXPECT_EQ(pixels[i], pixels[i + 1]);
        EXPECT_EQ(pixels[i], pixels[i + 2]);
    }
    unsigned char expected[3];
    pattern_texel(39, 19, expected);
    EXPECT_NEAR(pixels[(19 * 40 + 39) * 3], expected[0], 8);
}

TEST(AtlasDecode, OddWidthRowsAreTightlyPacked)
{
    int width = 0, height = 0;
    std::vector<unsigned char> pixels = decode(make_jpeg(33, 7, jpeg_rgb), &width, &height);
    ASSERT_EQ(width, 33);
    ASSERT_EQ(pixels.size(), 33u * 7u * 3u);
    for (int y = 0; y < 7; y++) {
        unsigned char expected[3];
        pattern_texel(32, y, expected);
        EXPECT_NEAR(pixels[((size_t)y * 33 + 32) * 3], expected[0], 8) << "row " << y;
    }
}

// Each is the image's fault, which the program ends with 1 for.
TEST(AtlasDecode, ImagesThatDoNotDecodeSayWhy)
{
    EXPECT_EQ(decode_failure(make_jpeg(16, 16, jpeg_cmyk), NO_LIMIT), "Unsupported color conversion request");
    const char *text = "this is not a picture";
    EXPECT_EQ(decode_failure(std::vector<unsigned char>(text, text + strlen(text)), NO_LIMIT),
              "Not a JPEG file: starts with 0x74 0x68");
    std::vector<unsigned char> wide = make_jpeg(16, 16, jpeg_rgb);
    patch_jpeg_size(wide, 20000, 16);
    EXPECT_EQ(decode_failure(wide, 16384), "The font atlas is 20000x16, larger than the 16384x16384 the GL can hold");
}

TEST(AtlasDecode, PixelBufferThatCannotBeHadIsReported)
{
    if (UNDER_ASAN)
        GTEST_SKIP() << "the sanitizer's allocator ignores address-space limits";
    // 30000 x 30000 x 3 bytes is 2.7 GB: past 2 GiB, and past the limit set here.
    std::vector<unsigned char> jpeg = make_jpeg(16, 16, jpeg_rgb);
    patch_jpeg_size(jpeg, 30000, 30000);
    struct rlimit before, limit;
    ASSERT_EQ(getrlimit(RLIMIT_AS, &before), 0);
    limit = before;
    limit.rlim_cur = 1UL << 30;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
    std::string said = decode_failure(jpeg, NO_LIMIT);
    setrlimit(RLIMIT_AS, &before);
    EXPECT_EQ(said, "Not enough memory to decode the 30000x30000 font atlas (2700000000 bytes)");
}

// ---- uploading, in a headless GL 3.2 core context ----

class AtlasUpload : public HeadlessGl {
protected:
    // Uploads decoded pixels and reads the texture back, tightly packed.
    std::vector<unsigned char> round_trip(const std::vector<unsigned char> &pixels, int width, int height)
    {
        GLuint font_tex = upload_atlas(pixels.data(), width, height);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);

        GLint bound = 0, unit = 0, min_filter = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
        EXPECT_EQ((GLuint)bound, font_tex);
        EXPECT_EQ(unit, GL_TEXTURE0);
        EXPECT_EQ(min_filter, GL_NEAREST);

        std::vector<unsigned char> back(pixels.size() + 64, 0xAB);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, back.data());
        EXPECT_EQ(back[pixels.size()], 0xAB) << "read back more than the image";
        back.resize(pixels.size());
        return back;
    }
};

TEST_F(AtlasUpload, OddWidthColourImageArrivesIntact)
{
    int width = 0, height = 0;
    std::vector<unsigned char> pixels = decode(make_jpeg(37, 11, jpeg_rgb), &width, &height);
    EXPECT_EQ(round_trip(pixels, width, height), pixels);
}

TEST_F(AtlasUpload, GreyscaleImageArrivesAsRgb)
{
    int width = 0, height = 0;
    std::vector<unsigned char> pixels = decode(make_jpeg(30, 9, jpeg_grey), &width, &height);
    EXPECT_EQ(round_trip(pixels, width, height), pixels);
}

TEST_F(AtlasUpload, WholeLoadFromTheWorkingDirectory)
{
    std::string path = write_temp_file(ATLAS_FILE, make_jpeg(48, 24, jpeg_rgb));
    std::string dir = path.substr(0, path.rfind('/'));
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    testing::internal::CaptureStdout();
    GLuint font_tex = 0;
    t_atlas_result result = load_font_atlas(&font_tex);
    std::string output = testing::internal::GetCapturedStdout();
    ASSERT_EQ(chdir(previous), 0);

    EXPECT_EQ(result, atlas_loaded);
    EXPECT_NE(font_tex, 0u);
    GLint width = 0, height = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    EXPECT_EQ(width, 48);
    EXPECT_EQ(height, 24);
    EXPECT_NE(output.find("Input: Read "), std::string::npos);
}
