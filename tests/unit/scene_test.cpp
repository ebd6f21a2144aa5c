#include "scene.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

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

struct t_vertex {
    float r, g, b, a, x, y;
};

static t_vertex vertex(int i)
{
    t_vertex v;
    memcpy(&v, g_vertex_buffer_data + i * 6, sizeof v);
    return v;
}

TEST(Quad, TableHoldsSixVerticesOfColourThenPosition)
{
    ASSERT_EQ(sizeof(g_vertex_buffer_data), 144u);
    ASSERT_EQ(sizeof(t_vertex), 24u);
    for (int i = 0; i < 6; i++) {
        t_vertex v = vertex(i);
        EXPECT_EQ(v.a, 1.0f) << "vertex " << i;
        EXPECT_TRUE(v.x == -1.0f || v.x == 1.0f) << "vertex " << i;
        EXPECT_TRUE(v.y == -1.0f || v.y == 1.0f) << "vertex " << i;
    }
}

TEST(Quad, CornersCarryTheirColours)
{
    // Red top left, green top right, blue bottom right, white bottom left,
    // the same on both sides of the shared diagonal.
    for (int i = 0; i < 6; i++) {
        t_vertex v = vertex(i);
        float expected[3];
        if (v.x < 0 && v.y > 0) { expected[0] = 1; expected[1] = 0; expected[2] = 0; }
        else if (v.x > 0 && v.y > 0) { expected[0] = 0; expected[1] = 1; expected[2] = 0; }
        else if (v.x > 0 && v.y < 0) { expected[0] = 0; expected[1] = 0; expected[2] = 1; }
        else { expected[0] = 1; expected[1] = 1; expected[2] = 1; }
        EXPECT_EQ(v.r, expected[0]) << "vertex " << i;
        EXPECT_EQ(v.g, expected[1]) << "vertex " << i;
        EXPECT_EQ(v.b, expected[2]) << "vertex " << i;
    }
}

static float signed_area(const t_vertex &p, const t_vertex &q, const t_vertex &r)
{
    return 0.5f * ((q.x - p.x) * (r.y - p.y) - (r.x - p.x) * (q.y - p.y));
}

TEST(Quad, TwoTrianglesCoverTheViewportWithoutOverlap)
{
    float first = signed_area(vertex(0), vertex(1), vertex(2));
    float second = signed_area(vertex(3), vertex(4), vertex(5));
    // Each half of the 2x2 clip square; both clockwise, so culling must stay off.
    EXPECT_EQ(first, -2.0f);
    EXPECT_EQ(second, -2.0f);
    // The two triangles share exactly the diagonal from top left to bottom right.
    int shared = 0;
    for (int i = 0; i < 3; i++)
        for (int j = 3; j < 6; j++)
            if (vertex(i).x == vertex(j).x && vertex(i).y == vertex(j).y)
                shared++;
    EXPECT_EQ(shared, 2);
}

TEST(VertexShader, IsTheNineLineGlsl130Pass)
{
    std::string source(vertex_shader);
    EXPECT_EQ(source.size(), 211u);
    EXPECT_EQ(source.rfind("#version 130\n", 0), 0u);
    int lines = 0;
    for (char c : source)
        lines += c == '\n';
    EXPECT_EQ(lines, 9);
    EXPECT_EQ(source.back(), '\n');
}

TEST(ProjectionMatrix, IsTheIdentity)
{
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(projection_matrix[i], i % 5 == 0 ? 1.0f : 0.0f) << "element " << i;
}
