// Scene program and full-screen quad: the GL objects every frame draws with.
// Free of the wall clock and of main's state, so the capture tool links it too.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include <iosfwd>
#include <string>

typedef float t_mat4x4[16];

enum t_attrib_id {
    attrib_position = 0,
    attrib_colour = 1,
};

// The GL names the scene is built from; created once, kept for the whole run.
struct t_scene {
    GLuint vs, fs, program, vao, vbo;
    GLint rloc, tloc;
};

extern const char *vertex_shader;
extern const float g_vertex_buffer_data[36];
extern const t_mat4x4 projection_matrix;

// Reads a fragment shader line by line: every line gets a '\n', a missing last
// line feed is added, carriage returns stay.
std::string read_shader_text(std::istream &in);

// Compiles the embedded vertex shader and "tessary.glsl" from the current
// directory, links the program, sets the render state, the quad and the fixed
// uniforms. On failure it has written its one-line message to standard error
// and returns false; the shader and program objects in `scene` are valid for
// a log query.
bool build_scene(t_scene *scene, GLsizei width, GLsizei height);

// The driver's log of a shader or a program object.
std::string shader_info_log(GLuint shader);
std::string program_info_log(GLuint program);

// For tools that rebuild the picture while running. The embedded vertex
// shader and `fragment_source` compiled and linked with the quad's attribute
// locations; returns the program, or 0 with the driver's log in `*log`.
GLuint build_scene_program(const std::string &fragment_source, std::string *log);

// The quad's vertex array and buffer, filled with the vertex table, bound.
void build_scene_quad(t_scene *scene);
