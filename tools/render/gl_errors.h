// GL errors, looked at where the capture tool and the studio check them:
// after building a program, after a resize and before a screenshot. Several
// programs share one context in the studio, and an error left behind by one
// step would otherwise be blamed on the next.
#pragma once

#include <string>

// Takes every error the GL has recorded. False when there was none; true with
// "WHAT: GL_INVALID_OPERATION" (each error named) in `*error`.
bool take_gl_errors(const std::string &what, std::string *error);
