#include "offscreen.h"

#include <cstring>

// Timer results are read this many frames late, by when the GPU has them.
static const size_t QUERY_LAG = 2;

static bool has_timer_queries(void)
{
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major > 3 || (major == 3 && minor >= 3))
        return true;
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; i++) {
        const char *name = (const char *)glGetStringi(GL_EXTENSIONS, (GLuint)i);
        if (name != nullptr && strcmp(name, "GL_ARB_timer_query") == 0)
            return true;
    }
    return false;
}

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
    off->timer_queries = has_timer_queries();
    if (glGetError() != GL_NO_ERROR) {
        *error = "could not set up the " + std::to_string(width) + "x" + std::to_string(height) +
                 " render target (out of memory?)";
        return false;
    }
    return true;
}

static void collect_query(t_offscreen *off)
{
    t_pending_query p = off->pending.front();
    off->pending.pop_front();
    GLuint64 ns = 0;
    glGetQueryObjectui64v(p.query, GL_QUERY_RESULT, &ns);
    off->samples.push_back({(double)ns / 1e6, p.time});
    off->spare_queries.push_back(p.query);
}

void offscreen_draw(t_offscreen *off, const t_scene &scene, double time)
{
    GLuint query = 0;
    if (off->timer_queries) {
        if (off->spare_queries.empty()) {
            glGenQueries(1, &query);
        } else {
            query = off->spare_queries.back();
            off->spare_queries.pop_back();
        }
        glBeginQuery(GL_TIME_ELAPSED, query);
    }
    glClear(GL_COLOR_BUFFER_BIT);
    glUniform1f(scene.tloc, (float)time);
    glBindVertexArray(scene.vao);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    if (off->timer_queries) {
        // Tilers and llvmpipe rasterize at a flush; without it the query
        // would time only the queuing of the draw.
        glFlush();
        glEndQuery(GL_TIME_ELAPSED);
        off->pending.push_back({query, time});
        while (off->pending.size() > QUERY_LAG)
            collect_query(off);
    }
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
    while (!off->pending.empty())
        collect_query(off);
}

void offscreen_destroy(t_offscreen *off)
{
    offscreen_drain_queries(off);
    if (!off->spare_queries.empty())
        glDeleteQueries((GLsizei)off->spare_queries.size(), off->spare_queries.data());
    off->spare_queries.clear();
    glDeleteBuffers(2, off->pbo);
    glDeleteFramebuffers(1, &off->fbo);
    glDeleteRenderbuffers(1, &off->colour);
}
