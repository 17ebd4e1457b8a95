#pragma once
// Scratch folders and small file helpers shared by the media tests of this folder.
#include "tests/support/RunCommand.h"
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace zz::test {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/zzfaxXXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string Bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v)
        s.push_back(char(b));
    return s;
}

} // namespace zz::test
