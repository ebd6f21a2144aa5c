#include "gl_timing.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>
#include <initializer_list>

bool is_software_renderer(const char *renderer)
{
    if (renderer == nullptr)
        return false;
    for (const char *name : {"llvmpipe", "softpipe", "swrast", "SWR", "lavapipe"})
        if (strstr(renderer, name) != nullptr)
            return true;
    return false;
}

bool has_timer_queries(void)
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
