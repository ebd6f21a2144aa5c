#include "capture_harness.h"

#include <fcntl.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

extern char **environ;

std::string make_temp_dir(void)
{
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/capture_test_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        return "";
    return buffer.data();
}

void remove_tree(const std::string &path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void write_text(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool file_exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

static std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

static pid_t spawn(const std::vector<std::string> &args, const std::string &log_path, const std::string &path_env)
{
    std::vector<char *> argv;
    std::string tool = CAPTURE_TOOL;
    argv.push_back(&tool[0]);
    std::vector<std::string> copy = args;
    for (std::string &a : copy)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    std::vector<std::string> env_text;
    for (char **e = environ; *e; e++)
        if (path_env.empty() || strncmp(*e, "PATH=", 5) != 0)
            env_text.push_back(*e);
    if (!path_env.empty())
        env_text.push_back("PATH=" + path_env);
    std::vector<char *> envp;
    for (std::string &e : env_text)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            _exit(126);
        dup2(fd, 1);
        dup2(fd, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

pid_t start_tool(const std::vector<std::string> &args, const std::string &log_path)
{
    return spawn(args, log_path, "");
}

t_result wait_tool(pid_t pid, const std::string &log_path)
{
    t_result result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    result.output = read_file(log_path);
    return result;
}

t_result run_tool(const std::vector<std::string> &args, const std::string &log_path, const std::string &path_env)
{
    return wait_tool(spawn(args, log_path, path_env), log_path);
}

std::vector<pid_t> child_pids(pid_t parent)
{
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string stat = read_file("/proc/" + name + "/stat");
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        size_t close = stat.rfind(')');
        char state = 0;
        int ppid = 0;
        if (close != std::string::npos && sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
            ppid == parent)
            children.push_back((pid_t)atoi(name.c_str()));
    }
    return children;
}

std::vector<std::string> list_dir(const std::string &dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string run_shell(const std::string &command, int *status)
{
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    int raw = pclose(pipe);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

bool read_png(const std::string &path, t_image *image)
{
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return false;
    // Only 8-bit RGB files are what the tool promises; anything else fails the read.
    if (png.format != PNG_FORMAT_RGB) {
        png_image_free(&png);
        return false;
    }
    image->width = (int)png.width;
    image->height = (int)png.height;
    image->rgb.assign(PNG_IMAGE_SIZE(png), 0);
    return png_image_finish_read(&png, nullptr, image->rgb.data(), 0, nullptr) != 0;
}

void write_jpeg(const std::string &path, const t_image &image)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = (JDIMENSION)image.width;
    cinfo.image_height = (JDIMENSION)image.height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    for (int c = 0; c < 3; c++) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = (JSAMPROW)(image.rgb.data() + (size_t)cinfo.next_scanline * (size_t)image.width * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    fclose(file);
}

bool read_jpeg(const std::string &path, t_image *image)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    image->width = (int)cinfo.output_width;
    image->height = (int)cinfo.output_height;
    image->rgb.assign((size_t)image->width * (size_t)image->height * 3, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->rgb.data() + (size_t)cinfo.output_scanline * (size_t)image->width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    fclose(file);
    return true;
}
