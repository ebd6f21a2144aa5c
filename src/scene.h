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

// The step at which building the scene's program stopped.
enum t_build_result {
    build_ok = 0,
    build_vertex_failed,    // the embedded vertex shader does not compile
    build_no_fragment_file, // the fragment shader could not be read
    build_fragment_failed,  // the fragment shader does not compile
    build_link_failed,      // the two do not link
};

// The one program builder, for the demo and for the tools that rebuild the
// picture while running. Creates `scene`'s vs and fs, compiles the embedded
// vertex shader and checks it, then `fragment_source` (nullptr: its file
// could not be read), and links them into `scene->program` with the quad's
// attribute locations. Writes nothing; on failure the objects made stay in
// `scene` for the driver's log (scene_build_log).
t_build_result build_scene_program(t_scene *scene, const char *fragment_source);

// The driver's log for the step that failed.
std::string scene_build_log(const t_scene *scene, t_build_result result);

// Deletes the program and its shaders, for a rebuild that replaces them.
void delete_scene_program(t_scene *scene);

// Builds the program from "tessary.glsl" in the current directory, uses it,
// sets the render state, the quad and the fixed uniforms. On failure it has
// written its one-line message to standard error.
t_build_result build_scene(t_scene *scene, GLsizei width, GLsizei height);

// The driver's log of a shader or a program object.
std::string shader_info_log(GLuint shader);
std::string program_info_log(GLuint program);

// The quad's vertex array and buffer, filled with the vertex table, bound.
void build_scene_quad(t_scene *scene);
