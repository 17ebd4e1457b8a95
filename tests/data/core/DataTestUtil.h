#pragma once
// Shared helpers of the data tests: a private working folder, running the Python peer, SQLite connection text.
#include "tests/support/RunCommand.h"
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace zztest {

// A fresh folder per test, made the working directory while the test runs.
class DataDir {
public:
    explicit DataDir(const std::string& tag) {
        path_ = std::filesystem::temp_directory_path() /
                ("zz_data_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter()++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~DataDir() {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(path_);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    static std::string Read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void Write(const std::string& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

private:
    static int& counter() {
        static int c = 0;
        return c;
    }
    std::filesystem::path path_, old_;
};

using zz::test::RunCommand;

inline std::string SourceDir() {
    const char* s = getenv("ZZ_SOURCE_DIR");
    return s ? s : ".";
}

inline std::string DbfTool() {
    return "/usr/bin/python3 " + SourceDir() + "/tests/data/core/dbf_tool.py";
}

constexpr const char* kSqliteDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

inline std::string SqliteConn(const std::string& dbFile) {
    return std::string("DRIVER=") + kSqliteDriver + ";Database=" + dbFile + ";Timeout=10000";
}

} // namespace zztest
