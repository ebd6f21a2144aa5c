// A scratch directory for one test's renders, removed afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

struct scratch_dir {
    std::string path;
    scratch_dir() {
        char name[] = "/tmp/tessary-picture-XXXXXX";
        if (mkdtemp(name)) path = name;
    }
    ~scratch_dir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;
};
