// Running tessary-capture from the tests, and the image files they compare.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct t_image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb; // top-down rows
};

struct t_result {
    int exit_code = -1; // -1 when the tool died of a signal
    std::string output; // stdout and stderr together
};

// A fresh directory under TMPDIR (or /tmp), removed with everything in it by remove_tree.
std::string make_temp_dir(void);
void remove_tree(const std::string &path);

void write_text(const std::string &path, const std::string &text);
bool file_exists(const std::string &path);

// Runs the tool with `args`, its output captured into `log_path`. `path_env`
// replaces PATH when not empty.
t_result run_tool(const std::vector<std::string> &args, const std::string &log_path,
                  const std::string &path_env = "");
// The same, without waiting: returns the child's pid.
pid_t start_tool(const std::vector<std::string> &args, const std::string &log_path);
t_result wait_tool(pid_t pid, const std::string &log_path);

// The processes whose parent is `parent`, from /proc.
std::vector<pid_t> child_pids(pid_t parent);

// The names in a directory, sorted.
std::vector<std::string> list_dir(const std::string &dir);

// Runs a shell command line, returns its standard output; `*status` gets the exit status.
std::string run_shell(const std::string &command, int *status);

bool read_png(const std::string &path, t_image *image);

// An RGB JPEG at quality 100 without chroma subsampling, and the pixels any
// libjpeg decoder gives back for it.
void write_jpeg(const std::string &path, const t_image &image);
bool read_jpeg(const std::string &path, t_image *image);
