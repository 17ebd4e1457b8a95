#pragma once
// Runs a shell command for a test: its standard output once it has ended.
#include <cstdio>
#include <string>

namespace zz::test {

// The command's standard output; its exit status (as pclose gives it) in *status.
inline std::string RunCommand(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int rc = pclose(p);
    if (status) *status = rc;
    return out;
}

} // namespace zz::test
