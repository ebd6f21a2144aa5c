#include "gl_errors.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>

static std::string gl_error_name(GLenum code)
{
    switch (code) {
    case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
    case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
    case GL_INVALID_FRAMEBUFFER_OPERATION: return "GL_INVALID_FRAMEBUFFER_OPERATION";
    default: break;
    }
    char text[16];
    snprintf(text, sizeof text, "0x%04x", code);
    return text;
}

bool take_gl_errors(const std::string &what, std::string *error)
{
    std::string names;
    // A lost context reports errors for ever; a handful is enough to name.
    for (int i = 0; i < 8; i++) {
        GLenum code = glGetError();
        if (code == GL_NO_ERROR)
            break;
        names += (names.empty() ? "" : ", ") + gl_error_name(code);
    }
    if (names.empty())
        return false;
    *error = what + ": " + names;
    return true;
}
