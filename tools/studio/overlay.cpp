#include "overlay.h"

#include <cstddef>

static const char *const OVERLAY_VERTEX = R"(#version 130
in vec2 i_position;
in vec2 i_point;
in float i_code;
in vec4 i_colour;
uniform vec2 u_screen;
out vec2 v_point;
flat out int v_code;
out vec4 v_colour;
void main() {
    v_point = i_point;
    v_code = int(i_code);
    v_colour = i_colour;
    vec2 ndc = i_position / u_screen * 2.0 - 1.0;
    gl_Position = vec4(ndc.x, -ndc.y, 0.0, 1.0);
}
)";

// The atlas snippet goes between these two. The atlas is sampled with a
// nearest filter (the picture wants it so); small text needs the four texels
// blended, which texelFetch does here by hand.
static const char *const OVERLAY_FRAGMENT_HEAD = "#version 130\n";
static const char *const OVERLAY_FRAGMENT_BODY = R"(
uniform sampler2D font;
in vec2 v_point;
flat in int v_code;
in vec4 v_colour;
out vec4 frag_color;
float smooth_distance(int c, vec2 p) {
    vec2 t = glyph_uv(c, p) * ATLAS_SIZE - 0.5;
    vec2 f = fract(t);
    ivec2 i = ivec2(floor(t));
    float a = texelFetch(font, i, 0).r;
    float b = texelFetch(font, i + ivec2(1, 0), 0).r;
    float c0 = texelFetch(font, i + ivec2(0, 1), 0).r;
    float d = texelFetch(font, i + ivec2(1, 1), 0).r;
    return mix(mix(a, b, f.x), mix(c0, d, f.x), f.y);
}
void main() {
    float coverage = v_code < 0 ? 1.0 : glyph_coverage(smooth_distance(v_code, v_point));
    frag_color = vec4(v_colour.rgb, v_colour.a * coverage);
}
)";

enum {
    overlay_position = 0,
    overlay_point = 1,
    overlay_code = 2,
    overlay_colour = 3,
};

static GLuint compile(GLenum type, const char *const *parts, GLsizei count, std::string *error)
{
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, count, parts, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        *error = "the overlay shader does not compile: " + shader_info_log(shader);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

static GLuint link_overlay_program(std::string *error)
{
    const char *vertex[] = {OVERLAY_VERTEX};
    const char *fragment[] = {OVERLAY_FRAGMENT_HEAD, atlas_metrics_glsl, OVERLAY_FRAGMENT_BODY};
    GLuint vs = compile(GL_VERTEX_SHADER, vertex, 1, error);
    if (vs == 0)
        return 0;
    GLuint fs = compile(GL_FRAGMENT_SHADER, fragment, 3, error);
    if (fs == 0) {
        glDeleteShader(vs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glBindAttribLocation(program, overlay_position, "i_position");
    glBindAttribLocation(program, overlay_point, "i_point");
    glBindAttribLocation(program, overlay_code, "i_code");
    glBindAttribLocation(program, overlay_colour, "i_colour");
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        *error = "the overlay shader does not link: " + program_info_log(program);
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

bool overlay_create(t_overlay *overlay, std::string *error)
{
    if (!parse_atlas_metrics(atlas_metrics_glsl, &overlay->metrics)) {
        *error = "the built-in atlas metrics do not parse";
        return false;
    }
    overlay->program = link_overlay_program(error);
    if (overlay->program == 0)
        return false;
    overlay->screen_loc = glGetUniformLocation(overlay->program, "u_screen");

    glGenVertexArrays(1, &overlay->vao);
    glGenBuffers(1, &overlay->vbo);
    glBindVertexArray(overlay->vao);
    glBindBuffer(GL_ARRAY_BUFFER, overlay->vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof overlay->vertices, nullptr, GL_STREAM_DRAW);
    const GLsizei stride = OVERLAY_FLOATS * sizeof(float);
    struct {
        GLuint index;
        GLint size;
        size_t offset;
    } attributes[] = {
        {overlay_position, 2, 0},
        {overlay_point, 2, 2},
        {overlay_code, 1, 4},
        {overlay_colour, 4, 5},
    };
    for (const auto &a : attributes) {
        glEnableVertexAttribArray(a.index);
        glVertexAttribPointer(a.index, a.size, GL_FLOAT, GL_FALSE, stride, (void *)(a.offset * sizeof(float)));
    }
    return true;
}

void overlay_destroy(t_overlay *overlay)
{
    glDeleteBuffers(1, &overlay->vbo);
    glDeleteVertexArrays(1, &overlay->vao);
    glDeleteProgram(overlay->program);
    overlay->program = overlay->vao = overlay->vbo = 0;
}

// One corner: screen position, glyph point, code, colour.
static float *put_vertex(float *v, float x, float y, float u, float w, float code, t_colour c)
{
    v[0] = x;
    v[1] = y;
    v[2] = u;
    v[3] = w;
    v[4] = code;
    v[5] = c.r;
    v[6] = c.g;
    v[7] = c.b;
    v[8] = c.a;
    return v + OVERLAY_FLOATS;
}

// Two triangles; (u0, w0) is the glyph point at the top left, (u1, w1) at the bottom right.
static void put_quad(t_overlay *overlay, float x0, float y0, float x1, float y1, float u0, float w0, float u1,
                     float w1, float code, t_colour c)
{
    if (overlay->quads >= OVERLAY_QUADS)
        return;
    float *v = overlay->vertices + (size_t)overlay->quads * 6 * OVERLAY_FLOATS;
    v = put_vertex(v, x0, y0, u0, w0, code, c);
    v = put_vertex(v, x1, y0, u1, w0, code, c);
    v = put_vertex(v, x1, y1, u1, w1, code, c);
    v = put_vertex(v, x0, y0, u0, w0, code, c);
    v = put_vertex(v, x1, y1, u1, w1, code, c);
    put_vertex(v, x0, y1, u0, w1, code, c);
    overlay->quads++;
}

void overlay_box(t_overlay *overlay, float x0, float y0, float x1, float y1, t_colour colour)
{
    put_quad(overlay, x0, y0, x1, y1, 0, 0, 0, 0, -1.0f, colour);
}

static float advance_of(const t_atlas_metrics &m, unsigned char c)
{
    return c >= GLYPH_FIRST && c <= GLYPH_LAST ? m.advance[c - GLYPH_FIRST] : m.advance['?' - GLYPH_FIRST];
}

float overlay_text_width(const t_overlay *overlay, const char *text, float size)
{
    float texels = 0.0f;
    for (const char *p = text; *p != '\0'; p++)
        texels += advance_of(overlay->metrics, (unsigned char)*p);
    return texels * size / overlay->metrics.pixel_size;
}

float overlay_text(t_overlay *overlay, const char *text, float x, float y, float size, t_colour colour,
                   float max_x)
{
    const t_atlas_metrics &m = overlay->metrics;
    float scale = size / m.pixel_size; // pixels per texel
    // The quad reaches past the ink by the distance field's spread, so the
    // soft edge is drawn whole.
    const float left = -10.0f, right = 50.0f, top = m.ascender + 6.0f, bottom = -(m.descender + 6.0f);
    for (const char *p = text; *p != '\0'; p++) {
        unsigned char c = (unsigned char)*p;
        if (c < GLYPH_FIRST || c > GLYPH_LAST)
            c = '?';
        float advance = advance_of(m, c) * scale;
        if (x + advance > max_x)
            break;
        if (c != ' ')
            put_quad(overlay, x + left * scale, y - top * scale, x + right * scale, y - bottom * scale, left, top,
                     right, bottom, (float)c, colour);
        x += advance;
    }
    return x;
}

void overlay_draw(t_overlay *overlay, int width, int height)
{
    if (overlay->quads == 0)
        return;
    glUseProgram(overlay->program);
    glUniform2f(overlay->screen_loc, (float)width, (float)height);
    glBindVertexArray(overlay->vao);
    glBindBuffer(GL_ARRAY_BUFFER, overlay->vbo);
    glBufferSubData(GL_ARRAY_BUFFER, 0, (GLsizeiptr)((size_t)overlay->quads * 6 * OVERLAY_FLOATS * sizeof(float)),
                    overlay->vertices);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDrawArrays(GL_TRIANGLES, 0, overlay->quads * 6);
    glDisable(GL_BLEND);
    overlay->quads = 0;
}
