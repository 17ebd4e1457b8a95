#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

// A fresh folder per test, made the working directory while the test runs.
class TestDir {
public:
    explicit TestDir(const std::string& tag) {
        path_ = std::filesystem::temp_directory_path() /
                ("zz_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter()++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TestDir() {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(path_);
    }
    const std::filesystem::path& path() const { return path_; }
    static std::string Read(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void Write(const std::filesystem::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

private:
    static int& counter() {
        static int c = 0;
        return c;
    }
    std::filesystem::path path_, old_;
};
