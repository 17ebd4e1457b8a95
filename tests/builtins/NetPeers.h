#pragma once
// Real peers on 127.0.0.1 for the socket tests (socat, curl, Python's http.server), a UDP hand-shake socket a
// script reports to, and scripts run as lines of their own on threads of the test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "builtins/BuiltinTable.h"
#include "engine/TagTelBasic.h"
#include "platform/FileHandle.h"
#include "regex/CRegexpT.h"
#include "telephony/TagKvCall.h"
#include "tests/support/RunCommand.h"

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
        out_ = FileHandle(fdopen(fds[0], "r"));
    }
    ~Peer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Reads the peer's output until a line holds one of markers followed by a number: that number, or "" when the
    // output ends first.
    std::string WaitForNumber(std::initializer_list<std::string_view> markers) {
        char line[1024];
        while (out_ && fgets(line, sizeof line, out_.get())) {
            const std::string_view text(line);
            for (std::string_view marker : markers) {
                size_t at = text.find(marker);
                if (at == std::string_view::npos) continue;
                at += marker.size();
                size_t end = at;
                while (end < text.size() && text[end] >= '0' && text[end] <= '9')
                    ++end;
                if (end > at) return std::string(text.substr(at, end - at));
            }
        }
        return "";
    }

private:
    pid_t pid_ = -1;
    FileHandle out_;
};

// A socket bound to an ephemeral port of 127.0.0.1, and that port.
inline int BindLoopback(int type, int& port) {
    int s = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return s;
}

// A port that was free a moment ago; a user that fails to bind it takes another.
inline int FreePort(int type) {
    int port = 0;
    close(BindLoopback(type, port));
    return port;
}

// A UDP socket on an ephemeral port that a script sends its "I am there" to.
class Handshake {
public:
    Handshake() : fd_(BindLoopback(SOCK_DGRAM, port_)) {}
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
    int port_ = 0;
    int fd_ = -1;
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
        thread_ = std::thread([this] {
            tid_ = pid_t(syscall(SYS_gettid));
            result = prog->Run();
        });
    }
    // Whether the line's thread is blocked in poll() now (a wait on a socket), from /proc.
    bool InPoll() const {
        std::ifstream in("/proc/self/task/" + std::to_string(tid_.load()) + "/syscall");
        long nr = -1;
        in >> nr;
        return nr == SYS_poll || nr == SYS_ppoll;
    }
    // Waits until the line's thread blocks in poll(): the script has entered its socket wait.
    void AwaitPoll() const {
        while (tid_ == 0 || !InPoll())
            std::this_thread::yield();
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
    std::atomic<pid_t> tid_{0};
};

// Whether pattern (the system's own regular expressions) is found in text.
inline bool ReFind(const std::string& text, const std::string& pattern) {
    CRegexpT re(pattern.c_str());
    return re.Match(text.c_str(), int(text.size()), -1).IsMatched();
}
// Whether pattern matches the whole text.
inline bool ReWhole(const std::string& text, const std::string& pattern) {
    return ReFind(text, "^(?:" + pattern + ")$");
}

} // namespace zz::test
