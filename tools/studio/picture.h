// The picture the studio shows: the shader program (the last one that built),
// the atlas, and the quad, drawn at the window's size or offscreen for a
// screenshot exactly as tessary-capture draws it.
#pragma once

#include "scene.h"

#include <string>
#include <vector>

struct t_picture {
    t_scene scene = {};                   // program 0 until a shader builds
    GLuint atlas = 0;
    std::vector<std::string> error_lines; // the failed shader's log; empty when good
};

// The quad; call once with the context current.
void picture_create(t_picture *picture);

// Reads and builds the shader. When it fails, the last good program stays,
// the log goes to standard error and into error_lines; returns false.
bool picture_load_shader(t_picture *picture, const std::string &path);

// Reads, decodes and uploads the atlas on unit 0, replacing the old one; on
// failure the old one stays and `*error` says why.
bool picture_load_atlas(t_picture *picture, const std::string &path, std::string *error);

// Clears and draws the frame at T = `time`, `width` x `height` pixels, into the
// bound framebuffer.
void picture_draw(t_picture *picture, double time, int width, int height);

// Renders T = `time` at 1920x1080 offscreen and writes it to `path` as PNG.
bool picture_screenshot(t_picture *picture, double time, const std::string &path, std::string *error);

void picture_destroy(t_picture *picture);
