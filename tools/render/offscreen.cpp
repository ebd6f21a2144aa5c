#include "offscreen.h"

#include <cstring>

bool offscreen_create(t_offscreen *off, int width, int height, std::string *error)
{
    off->width = width;
    off->height = height;
    glGenRenderbuffers(1, &off->colour);
    glBindRenderbuffer(GL_RENDERBUFFER, off->colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenFramebuffers(1, &off->fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, off->fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, off->colour);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        char text[96];
        snprintf(text, sizeof text, "the %dx%d framebuffer is incomplete (status 0x%04x)", width, height,
                 (unsigned)status);
        *error = text;
        return false;
    }
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);

    size_t bytes = (size_t)width * (size_t)height * 3;
    glGenBuffers(2, off->pbo);
    for (GLuint pbo : off->pbo) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo);
        glBufferData(GL_PIXEL_PACK_BUFFER, (GLsizeiptr)bytes, nullptr, GL_STREAM_READ);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    // RGB rows of any width, tightly packed.
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    off->frame.assign(bytes, 0);
    draw_timer_create(&off->timer);
    if (glGetError() != GL_NO_ERROR) {
        *error = "could not set up the " + std::to_string(width) + "x" + std::to_string(height) +
                 " render target (out of memory?)";
        return false;
    }
    return true;
}

// The scene's uniforms are set right after its program is bound: in the
// studio the overlay's program is the one in use between frames.
static void draw_quad(const t_offscreen *off, const t_scene &scene, double time)
{
    glClear(GL_COLOR_BUFFER_BIT);
    glUseProgram(scene.program);
    glUniform2f(scene.rloc, (float)off->width, (float)off->height);
    glUniform1f(scene.tloc, (float)time);
    glBindVertexArray(scene.vao);
    glDrawArrays(GL_TRIANGLES, 0, 6);
}

void offscreen_warm_up(t_offscreen *off, const t_scene &scene, double time)
{
    glViewport(0, 0, 1, 1);
    draw_quad(off, scene, time);
    glFinish();
}

void offscreen_draw(t_offscreen *off, const t_scene &scene, double time)
{
    glViewport(0, 0, off->width, off->height);
    draw_timer_begin(&off->timer);
    draw_quad(off, scene, time);
    draw_timer_end(&off->timer, time);
    t_draw_sample sample;
    while (draw_timer_collect(&off->timer, false, &sample))
        off->samples.push_back(sample);
}

void offscreen_start_read(t_offscreen *off, int slot)
{
    glBindBuffer(GL_PIXEL_PACK_BUFFER, off->pbo[slot]);
    glReadPixels(0, 0, off->width, off->height, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

const unsigned char *offscreen_finish_read(t_offscreen *off, int slot)
{
    size_t row = (size_t)off->width * 3;
    size_t bytes = row * (size_t)off->height;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, off->pbo[slot]);
    const unsigned char *pixels =
        (const unsigned char *)glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, (GLsizeiptr)bytes, GL_MAP_READ_BIT);
    if (pixels != nullptr) {
        // GL rows run bottom-up, image files top-down.
        for (int y = 0; y < off->height; y++)
            memcpy(off->frame.data() + (size_t)y * row, pixels + (size_t)(off->height - 1 - y) * row, row);
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    return pixels != nullptr ? off->frame.data() : nullptr;
}

void offscreen_drain_queries(t_offscreen *off)
{
    t_draw_sample sample;
    while (draw_timer_collect(&off->timer, true, &sample))
        off->samples.push_back(sample);
}

void offscreen_destroy(t_offscreen *off)
{
    offscreen_drain_queries(off);
    draw_timer_destroy(&off->timer);
    glDeleteBuffers(2, off->pbo);
    glDeleteFramebuffers(1, &off->fbo);
    glDeleteRenderbuffers(1, &off->colour);
}
