#include "headless_gl.h"
#include "scene.h"

#include <GL/glext.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

static std::string shader_text_of(const std::string &file_bytes)
{
    std::istringstream in(file_bytes);
    return read_shader_text(in);
}

TEST(ShaderText, EveryLineEndsWithALineFeed)
{
    EXPECT_EQ(shader_text_of("a\nb\n"), "a\nb\n");
    // A last line without a line feed gives the same text as one with it.
    EXPECT_EQ(shader_text_of("a\nb"), shader_text_of("a\nb\n"));
    EXPECT_EQ(shader_text_of("\n\n"), "\n\n");
}

TEST(ShaderText, EmptyFileGivesEmptyText)
{
    EXPECT_EQ(shader_text_of(""), "");
}

TEST(ShaderText, CarriageReturnsStay)
{
    EXPECT_EQ(shader_text_of("void main() {\r\n}\r\n"), "void main() {\r\n}\r\n");
}

TEST(ShaderText, ZeroByteEndsTheSourceTheGlSees)
{
    const std::string file_bytes("void main() {}\n\0garbage\n", 24);
    std::string text = shader_text_of(file_bytes);
    EXPECT_EQ(text.size(), file_bytes.size());
    // The length handed to the GL is the C string's length.
    EXPECT_EQ(strlen(text.c_str()), strlen("void main() {}\n"));
}

// ---- the quad and the uniforms, drawn in a headless GL context ----

// Builds the scene from a fragment shader written as "tessary.glsl" into a
// throw-away directory, and draws it into a framebuffer of its own.
class SceneDraw : public HeadlessGl {
protected:
    static const int W = 64;
    static const int H = 36;
    t_scene scene = {};
    GLuint fbo = 0, colour = 0;

    void SetUp() override
    {
        HeadlessGl::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        glGenRenderbuffers(1, &colour);
        glBindRenderbuffer(GL_RENDERBUFFER, colour);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, W, H);
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
        ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), (GLenum)GL_FRAMEBUFFER_COMPLETE);
    }

    // build_scene from the current directory, as the program does; its
    // message, if any, goes to `message`.
    bool build(const std::string &fragment_shader, std::string *message = nullptr)
    {
        char dir[] = "/tmp/tessary-scene.XXXXXX";
        EXPECT_NE(mkdtemp(dir), nullptr);
        std::string path = std::string(dir) + "/tessary.glsl";
        FILE *file = fopen(path.c_str(), "w");
        EXPECT_NE(file, nullptr);
        fputs(fragment_shader.c_str(), file);
        fclose(file);

        char previous[4096];
        EXPECT_NE(getcwd(previous, sizeof previous), nullptr);
        EXPECT_EQ(chdir(dir), 0);
        testing::internal::CaptureStderr();
        bool built = build_scene(&scene, W, H) == build_ok;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(chdir(previous), 0);
        unlink(path.c_str());
        rmdir(dir);
        if (message != nullptr)
            *message = err;
        return built;
    }

    // One frame the way the loop draws it; RGBA rows bottom to top.
    std::vector<unsigned char> draw(float demo_time)
    {
        glUniform1f(scene.tloc, demo_time);
        glClear(GL_COLOR_BUFFER_BIT);
        glBindVertexArray(scene.vao);
        glDrawArrays(GL_TRIANGLES, 0, 6);
        std::vector<unsigned char> pixels(W * H * 4);
        glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }

    static std::vector<int> rgb(const std::vector<unsigned char> &pixels, int x, int y)
    {
        const unsigned char *p = &pixels[(y * W + x) * 4];
        return {p[0], p[1], p[2]};
    }
};

static const char *const VERTEX_COLOUR_SHADER =
    "#version 130\n"
    "in vec4 v_color;\n"
    "out vec4 frag_color;\n"
    "void main() { frag_color = v_color; }\n";

TEST_F(SceneDraw, QuadCoversTheViewportWithItsCornerColours)
{
    ASSERT_TRUE(build(VERTEX_COLOUR_SHADER));
    std::vector<unsigned char> pixels = draw(0.0f);
    // Red top left, green top right, blue bottom right, white bottom left:
    // the corner pixels sit half a pixel in, so allow a few levels.
    auto near = [](std::vector<int> got, std::vector<int> want) {
        for (int i = 0; i < 3; i++)
            if (abs(got[i] - want[i]) > 12)
                return false;
        return true;
    };
    EXPECT_TRUE(near(rgb(pixels, 0, H - 1), {255, 0, 0}));
    EXPECT_TRUE(near(rgb(pixels, W - 1, H - 1), {0, 255, 0}));
    EXPECT_TRUE(near(rgb(pixels, W - 1, 0), {0, 0, 255}));
    EXPECT_TRUE(near(rgb(pixels, 0, 0), {255, 255, 255}));
    // Every pixel is the quad's: none keeps the dark red clear colour, and
    // the shared diagonal blends the same colours on both sides (no seam).
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            std::vector<int> c = rgb(pixels, x, y);
            EXPECT_FALSE(c[0] == 128 && c[1] == 0 && c[2] == 0) << "clear colour at " << x << "," << y;
        }
}

TEST_F(SceneDraw, ShaderSeesTheResolutionAndTheTime)
{
    ASSERT_TRUE(build("#version 130\n"
                      "uniform vec2 u_res;\n"
                      "uniform float T;\n"
                      "out vec4 frag_color;\n"
                      "void main() { frag_color = vec4(u_res / 255.0, T / 255.0, 1.0); }\n"));
    std::vector<unsigned char> pixels = draw(42.0f);
    EXPECT_EQ(rgb(pixels, W / 2, H / 2), (std::vector<int>{W, H, 42}));
    pixels = draw(7.0f);
    EXPECT_EQ(rgb(pixels, 3, 5), (std::vector<int>{W, H, 7}));
}

TEST_F(SceneDraw, ShaderWithoutTimeOrResolutionStillRuns)
{
    ASSERT_TRUE(build(VERTEX_COLOUR_SHADER));
    EXPECT_EQ(scene.tloc, -1);
    EXPECT_EQ(scene.rloc, -1);
    draw(1.0f);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(SceneDraw, ProgramThatDoesNotLinkIsAFailure)
{
    std::string message;
    EXPECT_FALSE(build("#version 130\n"
                       "out vec4 frag_color;\n"
                       "vec4 never_defined();\n"
                       "void main() { frag_color = never_defined(); }\n",
                       &message));
    EXPECT_EQ(message, "shader program linking failed\n");
}

TEST_F(SceneDraw, FragmentShaderThatDoesNotCompileIsAFailure)
{
    std::string message;
    EXPECT_FALSE(build("#version 130\nvoid main() { not glsl }\n", &message));
    EXPECT_EQ(message, "fragment shader compilation failed\n");
}
