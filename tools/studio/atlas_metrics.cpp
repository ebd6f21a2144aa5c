#include "atlas_metrics.h"

#include <cstdlib>
#include <cstring>

// The number after "const float NAME =" (or NAME[...] = float[...]( for an
// array); nullptr when the snippet has no such line.
static const char *value_of(const char *glsl, const char *name)
{
    char pattern[64];
    size_t length = strlen(name);
    if (length + 14 > sizeof pattern)
        return nullptr;
    memcpy(pattern, "const float ", 12);
    memcpy(pattern + 12, name, length + 1);
    const char *at = strstr(glsl, pattern);
    if (at == nullptr)
        return nullptr;
    at += strlen(pattern);
    if (*at == '[') {
        at = strchr(at, '(');
        return at == nullptr ? nullptr : at + 1;
    }
    at += strspn(at, " ");
    return *at == '=' ? at + 1 : nullptr;
}

static bool read_float(const char **at, float *value)
{
    char *end = nullptr;
    *value = strtof(*at, &end);
    if (end == *at)
        return false;
    *at = end;
    return true;
}

static bool scalar(const char *glsl, const char *name, float *value)
{
    const char *at = value_of(glsl, name);
    return at != nullptr && read_float(&at, value);
}

bool parse_atlas_metrics(const char *glsl, t_atlas_metrics *m)
{
    if (!scalar(glsl, "ATLAS_PIXEL_SIZE", &m->pixel_size) || !scalar(glsl, "ATLAS_ASCENDER", &m->ascender) ||
        !scalar(glsl, "ATLAS_DESCENDER", &m->descender))
        return false;
    const char *at = value_of(glsl, "GLYPH_ADVANCE");
    if (at == nullptr)
        return false;
    const int count = GLYPH_LAST - GLYPH_FIRST + 1;
    for (int i = 0; i < count; i++) {
        if (!read_float(&at, &m->advance[i]))
            return false;
        at += strspn(at, " \t\r\n");
        // Commas between the values, the closing parenthesis after the last.
        if (*at != (i + 1 < count ? ',' : ')'))
            return false;
        at++;
    }
    return m->pixel_size > 0;
}
