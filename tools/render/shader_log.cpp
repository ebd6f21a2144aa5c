#include "shader_log.h"

#include <cctype>
#include <cstring>
#include <set>
#include <sstream>
#include <vector>

size_t logged_line_number(const std::string &text)
{
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos)
        return 0;
    for (const char *prefix : {"ERROR:", "WARNING:"})
        if (text.compare(i, strlen(prefix), prefix) == 0)
            i = text.find_first_not_of(" \t", i + strlen(prefix));
    if (i == std::string::npos || !isdigit((unsigned char)text[i]))
        return 0;
    while (i < text.size() && isdigit((unsigned char)text[i]))
        i++;
    if (i >= text.size() || (text[i] != ':' && text[i] != '('))
        return 0;
    i++;
    size_t n = 0;
    if (i >= text.size() || !isdigit((unsigned char)text[i]))
        return 0;
    for (; i < text.size() && isdigit((unsigned char)text[i]) && n < 1000000; i++)
        n = n * 10 + (size_t)(text[i] - '0');
    return n;
}

std::string log_with_source(const std::string &log, const std::string &source, const std::string &file_name)
{
    std::string text = log;
    if (!text.empty() && text.back() != '\n')
        text += '\n';

    std::vector<std::string> lines;
    std::istringstream in(source);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);

    std::set<size_t> shown;
    std::istringstream log_in(log);
    while (std::getline(log_in, line)) {
        size_t n = logged_line_number(line);
        if (n < 1 || n > lines.size() || !shown.insert(n).second)
            continue;
        text += "  " + file_name + ":" + std::to_string(n) + ": " + lines[n - 1] + "\n";
    }
    return text;
}
