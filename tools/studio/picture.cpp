#include "picture.h"

#include "font_atlas.h"
#include "gl_errors.h"
#include "offscreen.h"
#include "png_file.h"
#include "shader_log.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

static const int SHOT_WIDTH = 1920, SHOT_HEIGHT = 1080;

void picture_create(t_picture *picture)
{
    build_scene_quad(&picture->scene);
    // The same render state the demo and the capture tool set up.
    glDisable(GL_DEPTH_TEST);
    glClearColor(0.5f, 0.0f, 0.0f, 0.0f);
}

static std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

// The new program replaces the last good one; its fixed uniform is set
// right after it is bound.
static void use_program(t_picture *picture, const t_scene &built)
{
    delete_scene_program(&picture->scene);
    picture->scene.program = built.program;
    picture->scene.vs = built.vs;
    picture->scene.fs = built.fs;
    picture->scene.rloc = glGetUniformLocation(built.program, "u_res");
    picture->scene.tloc = glGetUniformLocation(built.program, "T");
    glUseProgram(built.program);
    glUniformMatrix4fv(glGetUniformLocation(built.program, "u_projection_matrix"), 1, GL_FALSE, projection_matrix);
}

// The log as the author reads it: a vertex shader's says whose it is.
static std::string build_log(const t_scene &built, t_build_result result, const std::string &path)
{
    switch (result) {
    case build_vertex_failed: return "vertex shader: " + scene_build_log(&built, result);
    case build_no_fragment_file: return "cannot read " + path;
    default: return scene_build_log(&built, result);
    }
}

bool picture_load_shader(t_picture *picture, const std::string &path)
{
    std::ifstream file(path);
    std::string source;
    if (file.is_open())
        source = read_shader_text(file);
    t_scene built = {};
    t_build_result result = build_scene_program(&built, file.is_open() ? source.c_str() : nullptr);
    if (result == build_ok) {
        use_program(picture, built);
        picture->error_lines.clear();
        std::string error;
        if (take_gl_errors("after building tessary.glsl", &error))
            fprintf(stderr, "tessary-studio: %s\n", error.c_str());
        return true;
    }
    std::string report = log_with_source(build_log(built, result, path), source, "tessary.glsl");
    delete_scene_program(&built);
    fprintf(stderr, "tessary-studio: tessary.glsl does not build; the last good picture stays:\n%s", report.c_str());
    fflush(stderr);
    picture->error_lines = split_lines(report);
    return false;
}

bool picture_load_atlas(t_picture *picture, const std::string &path, std::string *error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        *error = "cannot read " + path;
        return false;
    }
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    GLint max_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    int width = 0, height = 0;
    unsigned char *pixels =
        decode_atlas((const unsigned char *)bytes.data(), bytes.size(), max_size, &width, &height, error);
    if (pixels == nullptr) {
        *error = path + ": " + *error;
        return false;
    }
    if (picture->atlas != 0)
        glDeleteTextures(1, &picture->atlas);
    glActiveTexture(GL_TEXTURE0);
    picture->atlas = upload_atlas(pixels, width, height);
    free(pixels);
    return true;
}

// The overlay's program is the one in use between frames: the scene's
// uniforms are set every frame, right after its program is bound.
void picture_draw(t_picture *picture, double time, int width, int height)
{
    glViewport(0, 0, width, height);
    glClear(GL_COLOR_BUFFER_BIT);
    if (picture->scene.program == 0)
        return;
    glUseProgram(picture->scene.program);
    glUniform2f(picture->scene.rloc, (float)width, (float)height);
    glUniform1f(picture->scene.tloc, (float)time);
    glBindVertexArray(picture->scene.vao);
    glDrawArrays(GL_TRIANGLES, 0, 6);
}

bool picture_screenshot(t_picture *picture, double time, const std::string &path, std::string *error)
{
    if (picture->scene.program == 0) {
        *error = "no picture to take: tessary.glsl has not built yet";
        return false;
    }
    // An error left by an earlier step is not the render target's.
    std::string earlier;
    if (take_gl_errors("before the screenshot", &earlier))
        fprintf(stderr, "tessary-studio: %s\n", earlier.c_str());
    t_offscreen off;
    bool ok = offscreen_create(&off, SHOT_WIDTH, SHOT_HEIGHT, error);
    if (ok) {
        offscreen_draw(&off, picture->scene, time);
        offscreen_start_read(&off, 0);
        const unsigned char *rgb = offscreen_finish_read(&off, 0);
        ok = rgb != nullptr && write_png_rgb(path, rgb, SHOT_WIDTH, SHOT_HEIGHT, error);
        if (rgb == nullptr)
            *error = "reading the frame back from the GL failed";
    }
    offscreen_destroy(&off);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return ok;
}

void picture_destroy(t_picture *picture)
{
    delete_scene_program(&picture->scene);
    glDeleteBuffers(1, &picture->scene.vbo);
    glDeleteVertexArrays(1, &picture->scene.vao);
    if (picture->atlas != 0)
        glDeleteTextures(1, &picture->atlas);
    *picture = t_picture();
}
