#include "screen_fit.h"

#include <gtest/gtest.h>

static testing::AssertionResult is_rect(const t_rect &got, int x, int y, int width, int height)
{
    if (got.x == x && got.y == y && got.width == width && got.height == height)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "got " << got.width << "x" << got.height << " at " << got.x << ","
                                       << got.y << ", want " << width << "x" << height << " at " << x << "," << y;
}

#define EXPECT_RECT(got, ...) EXPECT_TRUE(is_rect(got, __VA_ARGS__))

TEST(PictureFit, SixteenByNineScreensAreFilledWhole)
{
    EXPECT_RECT(fit_picture(1920, 1080, 1920, 1080), 0, 0, 1920, 1080);
    EXPECT_RECT(fit_picture(1280, 720, 1920, 1080), 0, 0, 1280, 720);
    EXPECT_RECT(fit_picture(3840, 2160, 1920, 1080), 0, 0, 3840, 2160);
    // 1366x768 is 16:9 to within a pixel: no one-pixel bar.
    EXPECT_RECT(fit_picture(1366, 768, 1920, 1080), 0, 0, 1366, 768);
}

TEST(PictureFit, TallerScreensGetBarsAboveAndBelow)
{
    EXPECT_RECT(fit_picture(1920, 1200, 1920, 1080), 0, 60, 1920, 1080);
    EXPECT_RECT(fit_picture(1280, 1024, 1920, 1080), 0, 152, 1280, 720);
    EXPECT_RECT(fit_picture(1080, 1920, 1920, 1080), 0, 656, 1080, 607);
}

TEST(PictureFit, WiderScreensGetBarsLeftAndRight)
{
    EXPECT_RECT(fit_picture(2560, 1080, 1920, 1080), 320, 0, 1920, 1080);
    EXPECT_RECT(fit_picture(3440, 1440, 1920, 1080), 440, 0, 2560, 1440);
}

TEST(PictureFit, PictureStaysInsideAndCentredOnOddSizes)
{
    for (int w = 100; w < 400; w += 7)
        for (int h = 100; h < 400; h += 11) {
            t_rect r = fit_picture(w, h, 1920, 1080);
            EXPECT_GE(r.x, 0);
            EXPECT_GE(r.y, 0);
            EXPECT_LE(r.x + r.width, w);
            EXPECT_LE(r.y + r.height, h);
            // Centred: the two bars differ by at most a pixel.
            EXPECT_LE(abs((w - r.x - r.width) - r.x), 1) << w << "x" << h;
            EXPECT_LE(abs((h - r.y - r.height) - r.y), 1) << w << "x" << h;
            // One side always touches the screen's edges.
            EXPECT_TRUE(r.width == w || r.height == h) << w << "x" << h;
        }
}
