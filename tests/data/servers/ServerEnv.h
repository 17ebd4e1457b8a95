#pragma once
// The MariaDB server that scripts/services/mariadb.sh starts for the tests, and small helpers shared by the
// database back-end tests.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "data/TagDataSet.h"
#include "data/TagMySqlData.h"
#include "tests/support/DbQuit.h"

namespace zz::test {

struct MariaDbEnv {
    std::string socket, host, port, user, password, ctl;
    bool ok = false;

    static const MariaDbEnv& Get() {
        static const MariaDbEnv env = [] {
            MariaDbEnv e;
            auto get = [](const char* n, const char* def) {
                const char* v = std::getenv(n);
                return std::string(v && *v ? v : def);
            };
            e.socket = get("ZZ_MARIADB_SOCKET", "");
            e.port = get("ZZ_MARIADB_PORT", "");
            e.host = get("ZZ_MARIADB_HOST", "127.0.0.1");
            e.user = get("ZZ_MARIADB_USER", "zztest");
            e.password = get("ZZ_MARIADB_PASSWORD", "zztest");
            e.ctl = get("ZZ_MARIADB_CTL", "");
            e.ok = !e.socket.empty() && !e.port.empty();
            return e;
        }();
        return env;
    }
};

#define ZZ_NEED_MARIADB()                                                                                              \
    do {                                                                                                               \
        if (!::zz::test::MariaDbEnv::Get().ok)                                                                         \
            GTEST_SKIP() << "no MariaDB server: ZZ_MARIADB_SOCKET/ZZ_MARIADB_PORT are not set (source "                \
                            "scripts/services/mariadb.sh, as scripts/test does)";                                      \
    } while (0)

// The client library takes its default socket and port from MYSQL_UNIX_PORT and MYSQL_TCP_PORT once per process
// (the back end connects with port 0 and no socket). The socket is a link of this process's own, so that a test
// can point "localhost" at a server of its own.
inline const std::string& SocketLink() {
    static const std::string link = "/tmp/zz_mysql_" + std::to_string(::getpid()) + ".sock";
    return link;
}

inline void PointSocketAt(const std::string& target) {
    std::string tmp = SocketLink() + ".new";
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) == 0) ::rename(tmp.c_str(), SocketLink().c_str());
}

inline void LoadMySqlForTests() {
    static const bool once = [] {
        PointSocketAt(MariaDbEnv::Get().socket);
        ::setenv("MYSQL_UNIX_PORT", SocketLink().c_str(), 1);
        ::setenv("MYSQL_TCP_PORT", MariaDbEnv::Get().port.c_str(), 1);
        std::atexit([] { ::unlink(SocketLink().c_str()); });
        return true;
    }();
    (void)once;
    if (!MySqlLibraryLoaded()) {
        SetMySqlLibraryPath("");
        ASSERT_EQ(LoadMySqlLibrary(), 0);
    }
}

// A name no other test process uses at the same time.
inline std::string UniqueName(const char* tag) {
    static std::atomic<int> n{0};
    return std::string("zz_") + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(n++);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Exec with a writable copy, as the builtins call it.
inline int Sql(TagDataSet& ds, const std::string& sql) {
    std::string copy = sql;
    return ds.Exec(copy.data());
}

inline std::string Cell(TagDataSet& ds, int col, int row) {
    char buf[kDbValueSize];
    ds.GetVar(buf, col, row);
    return buf;
}

} // namespace zz::test
