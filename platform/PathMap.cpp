#include "platform/PathMap.h"

#include <cstdlib>
#include <dirent.h>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>

namespace zz {

namespace {
std::mutex g_rootLock;
std::string g_root;
bool g_rootSet = false;
} // namespace

void SetDriveRoot(std::string root) {
    std::lock_guard<std::mutex> lk(g_rootLock);
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    g_root = std::move(root);
    g_rootSet = true;
}

std::string GetDriveRoot() {
    std::lock_guard<std::mutex> lk(g_rootLock);
    if (!g_rootSet) {
        const char* env = std::getenv("ZUZOD_DRIVE_ROOT");
        g_root = env && *env ? env : "/";
        while (g_root.size() > 1 && g_root.back() == '/') g_root.pop_back();
        g_rootSet = true;
    }
    return g_root;
}

std::string MapPath(std::string_view path) {
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    bool drive = p.size() >= 2 && p[1] == ':' &&
                 ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
    if (drive) {
        std::string rest = p.substr(2);
        if (rest.empty() || rest[0] != '/') rest.insert(rest.begin(), '/');
        std::string root = GetDriveRoot();
        p = (root == "/" ? std::string() : root) + rest;
    }
    return p;
}

bool FileExists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

std::string ResolvePath(std::string_view path) {
    std::string mapped = MapPath(path);
    if (mapped.empty() || FileExists(mapped)) return mapped;
    std::string cur = mapped[0] == '/' ? "/" : "";
    size_t i = mapped[0] == '/' ? 1 : 0;
    while (i <= mapped.size()) {
        size_t j = mapped.find('/', i);
        if (j == std::string::npos) j = mapped.size();
        std::string comp = mapped.substr(i, j - i);
        i = j + 1;
        if (comp.empty()) continue;
        std::string dirName = cur.empty() ? "." : cur;
        std::string candidate = cur + comp;
        if (!FileExists(candidate)) {
            DIR* d = opendir(dirName.c_str());
            bool found = false;
            if (d) {
                while (dirent* e = readdir(d)) {
                    if (strcasecmp(e->d_name, comp.c_str()) == 0) {
                        candidate = cur + e->d_name;
                        found = true;
                        break;
                    }
                }
                closedir(d);
            }
            if (!found) return mapped;
        }
        cur = candidate;
        if (j < mapped.size()) cur += '/';
    }
    return cur;
}

} // namespace zz
