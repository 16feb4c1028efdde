// What the tests share for files: a fresh temporary directory made current for one test (the old
// current directory comes back after), and whole files read and written as bytes.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir() : previous_(std::filesystem::current_path()) {
        std::random_device random;
        for (;;) {
            path_ = std::filesystem::temp_directory_path() /
                    ("brin-test-" + std::to_string(random()) + std::to_string(random()));
            if (std::filesystem::create_directory(path_)) break;
        }
        // Only its owner reaches it, as a directory made by mkdtemp.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path() const { return path_.string(); }

    // The names in the directory: shows a leftover temporary file.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

// The whole file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}
