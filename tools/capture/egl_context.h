// A headless OpenGL 3.2 core context through EGL, current on this thread
// without any surface: rendering goes to framebuffer objects.
#pragma once

#include "options.h"

#include <string>

// Creates and makes current the context. On failure returns false with the
// reasons (one per platform tried) in `*error`. `*platform` names the one used.
bool create_egl_context(t_egl_choice choice, std::string *platform, std::string *error);

void destroy_egl_context(void);
