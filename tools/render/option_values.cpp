#include "option_values.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

bool parse_number(const std::string &text, double *value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    double v = strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

bool parse_whole(const std::string &text, int *value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < -1000000000L || v > 1000000000L)
        return false;
    *value = (int)v;
    return true;
}

bool parse_size(const std::string &text, int *width, int *height)
{
    size_t x = text.find('x');
    if (x == std::string::npos)
        return false;
    return parse_whole(text.substr(0, x), width) && parse_whole(text.substr(x + 1), height);
}
