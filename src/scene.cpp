#include "scene.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <istream>

const char *vertex_shader =
    "#version 130\n"
    "in vec2 i_position;\n"
    "in vec4 i_color;\n"
    "out vec4 v_color;\n"
    "uniform mat4 u_projection_matrix;\n"
    "void main() {\n"
    "    v_color = i_color;\n"
    "    gl_Position = u_projection_matrix * vec4( i_position, 0.0, 1.0 );\n"
    "}\n";

// Six vertices, two triangles covering the viewport: r, g, b, a, then x, y.
// Colour comes first in memory although its attribute location is the higher one.
const float g_vertex_buffer_data[36] = {
    1.0f, 0.0f, 0.0f, 1.0f,  -1.0f,  1.0f,
    0.0f, 1.0f, 0.0f, 1.0f,   1.0f,  1.0f,
    0.0f, 0.0f, 1.0f, 1.0f,   1.0f, -1.0f,

    1.0f, 0.0f, 0.0f, 1.0f,  -1.0f,  1.0f,
    0.0f, 0.0f, 1.0f, 1.0f,   1.0f, -1.0f,
    1.0f, 1.0f, 1.0f, 1.0f,  -1.0f, -1.0f,
};

const t_mat4x4 projection_matrix = {
    1.0f, 0.0f, 0.0f, 0.0f,
    0.0f, 1.0f, 0.0f, 0.0f,
    0.0f, 0.0f, 1.0f, 0.0f,
    0.0f, 0.0f, 0.0f, 1.0f,
};

static const char *const SHADER_FILE = "tessary.glsl";
static const GLsizei VERTEX_STRIDE = 6 * sizeof(float);

std::string read_shader_text(std::istream &in)
{
    std::string shader_text;
    std::string line;
    while (std::getline(in, line)) {
        shader_text += line;
        shader_text += "\n";
    }
    return shader_text;
}

static bool compile_shader(GLuint shader, const char *source)
{
    // The length stops at the first zero byte, like the C string the GL would see.
    GLint length = (GLint)strlen(source);
    glShaderSource(shader, 1, &source, &length);
    glCompileShader(shader);
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    return status != 0;
}

t_build_result build_scene_program(t_scene *scene, const char *fragment_source)
{
    scene->vs = glCreateShader(GL_VERTEX_SHADER);
    scene->fs = glCreateShader(GL_FRAGMENT_SHADER);
    scene->program = 0;
    if (!compile_shader(scene->vs, vertex_shader))
        return build_vertex_failed;
    if (fragment_source == NULL)
        return build_no_fragment_file;
    if (!compile_shader(scene->fs, fragment_source))
        return build_fragment_failed;

    scene->program = glCreateProgram();
    glAttachShader(scene->program, scene->vs);
    glAttachShader(scene->program, scene->fs);
    glBindAttribLocation(scene->program, attrib_position, "i_position");
    glBindAttribLocation(scene->program, attrib_colour, "i_color");
    glLinkProgram(scene->program);
    // A program that doesn't link would draw nothing for the whole show.
    GLint status = 0;
    glGetProgramiv(scene->program, GL_LINK_STATUS, &status);
    return status != 0 ? build_ok : build_link_failed;
}

std::string scene_build_log(const t_scene *scene, t_build_result result)
{
    switch (result) {
    case build_vertex_failed: return shader_info_log(scene->vs);
    case build_fragment_failed: return shader_info_log(scene->fs);
    case build_link_failed: return program_info_log(scene->program);
    default: return "";
    }
}

void delete_scene_program(t_scene *scene)
{
    glDeleteProgram(scene->program);
    glDeleteShader(scene->vs);
    glDeleteShader(scene->fs);
    scene->program = scene->vs = scene->fs = 0;
}

// The demo's one line for each way the build can fail.
static void say_build_failure(t_build_result result)
{
    switch (result) {
    case build_vertex_failed: fprintf(stderr, "vertex shader compilation failed\n"); break;
    case build_no_fragment_file:
        fputs("Failed to open shader file.\n", stderr);
        fflush(stderr);
        break;
    case build_fragment_failed: fprintf(stderr, "fragment shader compilation failed\n"); break;
    case build_link_failed: fprintf(stderr, "shader program linking failed\n"); break;
    case build_ok: break;
    }
}

static void set_render_state(GLsizei width, GLsizei height)
{
    glDisable(GL_DEPTH_TEST);
    glClearColor(0.5f, 0.0f, 0.0f, 0.0f);
    glViewport(0, 0, width, height);
}

static void create_quad(t_scene *scene)
{
    glGenVertexArrays(1, &scene->vao);
    glGenBuffers(1, &scene->vbo);
    glBindVertexArray(scene->vao);
    glBindBuffer(GL_ARRAY_BUFFER, scene->vbo);
    glEnableVertexAttribArray(attrib_position);
    glEnableVertexAttribArray(attrib_colour);
    glVertexAttribPointer(attrib_colour, 4, GL_FLOAT, GL_FALSE, VERTEX_STRIDE, (void *)0);
    glVertexAttribPointer(attrib_position, 2, GL_FLOAT, GL_FALSE, VERTEX_STRIDE,
                          (void *)(4 * sizeof(float)));
}

t_build_result build_scene(t_scene *scene, GLsizei width, GLsizei height)
{
    std::ifstream file(SHADER_FILE);
    std::string shader_text;
    if (file.is_open())
        shader_text = read_shader_text(file);
    t_build_result result = build_scene_program(scene, file.is_open() ? shader_text.c_str() : NULL);
    if (result != build_ok) {
        say_build_failure(result);
        return result;
    }
    // The program stays in use for the whole run; its uniforms are set here,
    // the time's by the frame loop.
    glUseProgram(scene->program);
    set_render_state(width, height);
    create_quad(scene);

    scene->rloc = glGetUniformLocation(scene->program, "u_res");
    scene->tloc = glGetUniformLocation(scene->program, "T");
    glUniform2f(scene->rloc, (float)width, (float)height);

    glBufferData(GL_ARRAY_BUFFER, sizeof(g_vertex_buffer_data), g_vertex_buffer_data, GL_STATIC_DRAW);
    glUniformMatrix4fv(glGetUniformLocation(scene->program, "u_projection_matrix"), 1, GL_FALSE,
                       projection_matrix);
    return build_ok;
}

// Shaders and programs keep their logs alike; only the calls that read them differ.
static std::string info_log(GLuint object, void (*get_value)(GLuint, GLenum, GLint *),
                            void (*get_log)(GLuint, GLsizei, GLsizei *, GLchar *))
{
    GLint length = 0;
    get_value(object, GL_INFO_LOG_LENGTH, &length);
    std::string log((size_t)(length > 1 ? length : 1), '\0');
    get_log(object, (GLsizei)log.size(), nullptr, &log[0]);
    log.resize(strlen(log.c_str()));
    return log;
}

std::string shader_info_log(GLuint shader)
{
    return info_log(shader, glGetShaderiv, glGetShaderInfoLog);
}

std::string program_info_log(GLuint program)
{
    return info_log(program, glGetProgramiv, glGetProgramInfoLog);
}

void build_scene_quad(t_scene *scene)
{
    create_quad(scene);
    glBufferData(GL_ARRAY_BUFFER, sizeof(g_vertex_buffer_data), g_vertex_buffer_data, GL_STATIC_DRAW);
}
