// A driver's shader log, made readable for the author: each source line the
// log names is quoted after it.
#pragma once

#include <string>

// Driver logs name lines as "0:12(5):" (Mesa), "0(12) :" (NVIDIA) or
// "ERROR: 0:12:"; returns the 12, or 0 when the log line names none.
size_t logged_line_number(const std::string &text);

// The log (ending in a line feed), then "  FILE:N: source line" for each line
// N of `source` it names, each once, in the order the log names them.
std::string log_with_source(const std::string &log, const std::string &source, const std::string &file_name);
