#pragma once
// Real peers on 127.0.0.1 for the socket tests (socat, curl, Python's http.server), a UDP hand-shake socket a
// script reports to, and scripts run as lines of their own on threads of the test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "builtins/BuiltinTable.h"
#include "engine/TagTelBasic.h"
#include "telephony/TagKvCall.h"

extern char** environ;

namespace zz::test {

// A program started with its standard output and error on one pipe; stopped with SIGTERM at the end.
class Peer {
public:
    explicit Peer(const std::vector<std::string>& argv) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &fa, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
    }
    ~Peer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_) fclose(out_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Reads the peer's output until a line matches; the first group, or "" when the output ends first.
    std::string WaitFor(const std::string& pattern) {
        std::regex re(pattern);
        char line[1024];
        while (out_ && fgets(line, sizeof line, out_)) {
            std::cmatch m;
            if (std::regex_search(line, m, re)) return m.size() > 1 ? m[1].str() : m[0].str();
        }
        return "";
    }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
};

// A port that was free a moment ago; a user that fails to bind it takes another.
inline int FreePort(int type) {
    int s = socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

// A UDP socket on an ephemeral port that a script sends its "I am there" to.
class Handshake {
public:
    Handshake() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Handshake() { close(fd_); }
    Handshake(const Handshake&) = delete;
    Handshake& operator=(const Handshake&) = delete;
    int Port() const { return port_; }
    // Blocks until a datagram comes.
    std::string Recv() {
        char buf[2048];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Replaces every "{key}" in text.
inline std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [key, value] : values)
        for (size_t at; (at = text.find("{" + key + "}")) != std::string::npos;)
            text.replace(at, key.size() + 2, value);
    return text;
}

// A script compiled as line `line` in the working directory (as the lines built at start are, without the
// processor gate) and run on a thread of its own.
class ScriptLine {
public:
    ScriptLine(const std::string& text, int32_t line) {
        RegisterBuiltins();
        // A name of its own: the process caches script files by name.
        static int made = 0;
        const std::string file = "line" + std::to_string(line) + "_" + std::to_string(++made) + ".kvs";
        std::ofstream(file, std::ios::binary) << text;
        call.lineNo = line;
        call.lineKind = kLineVirtual;
        prog = std::make_unique<TagTelBasic>(file.c_str(), line, &call, 0, nullptr);
        prog->SetReloadAllowed(1);
    }
    ~ScriptLine() {
        if (thread_.joinable()) {
            Quit();
            thread_.join();
        }
    }
    ScriptLine(const ScriptLine&) = delete;
    ScriptLine& operator=(const ScriptLine&) = delete;

    bool Compiled() const { return prog->initResult == 0; }
    // The compile messages (GBK).
    std::string Errors() const {
        std::ifstream in("errmsg" + std::to_string(call.lineNo) + ".txt", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Start() {
        thread_ = std::thread([this] { result = prog->Run(); });
    }
    int32_t Join() {
        thread_.join();
        return result;
    }
    // As the line manager closes a line.
    void Quit() {
        prog->SetQuit(1);
        call.RequestStop();
    }
    // What the script printed.
    std::string Printed() const {
        std::ifstream in("_stdout" + std::to_string(call.lineNo) + ".txt", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    TagKvCall call;
    std::unique_ptr<TagTelBasic> prog;
    int32_t result = 0;

private:
    std::thread thread_;
};

} // namespace zz::test
