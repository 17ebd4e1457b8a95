#include "platform/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "platform/PathMap.h"
#include "platform/WakeEvent.h"

extern char** environ;

namespace zz {

// What the starting side and the reaper share. The program is reaped only under the lock, so a kill (also under
// it) can never reach another process that took the number over.
struct ChildProcess::Shared {
    std::mutex m;
    pid_t pid = -1;
    bool ended = false;
    int32_t exitCode = 0;
    WakeEvent* wake = nullptr;
};

namespace {

void Reap(std::shared_ptr<ChildProcess::Shared> s) {
    siginfo_t info{};
    // Wait for the end without reaping yet: the number stays the program's until it is reaped below.
    while (::waitid(P_PID, id_t(s->pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lk(s->m);
    int status = 0;
    ::waitpid(s->pid, &status, 0);
    s->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 0;
    s->ended = true;
    if (s->wake) s->wake->Signal();
}

} // namespace

ChildProcess::~ChildProcess() {
    Watch(nullptr);
}

std::vector<std::string> ChildProcess::SplitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
            word += '"';
            inWord = true;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

bool ChildProcess::Start(const std::string& commandLine) {
    std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.empty()) return false;
    bool hasPath = words[0].find_first_of("/\\") != std::string::npos;
    if (hasPath) words[0] = ResolvePath(words[0]);
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // Only the standard descriptors go to the program: not the lines' sockets, databases or files.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // No blocked or ignored signals of ours either.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int rc = hasPath ? ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ)
                     : ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    shared_ = std::make_shared<Shared>();
    shared_->pid = pid;
    std::thread(Reap, shared_).detach();
    return true;
}

void ChildProcess::Watch(WakeEvent* wake) {
    if (!shared_) return;
    std::lock_guard<std::mutex> lk(shared_->m);
    shared_->wake = wake;
}

bool ChildProcess::Ended() const {
    if (!shared_) return false;
    std::lock_guard<std::mutex> lk(shared_->m);
    return shared_->ended;
}

int32_t ChildProcess::ExitCode() const {
    if (!shared_) return 0;
    std::lock_guard<std::mutex> lk(shared_->m);
    return shared_->exitCode;
}

void ChildProcess::Kill() {
    if (!shared_) return;
    std::lock_guard<std::mutex> lk(shared_->m);
    if (!shared_->ended) ::kill(shared_->pid, SIGKILL);
}

} // namespace zz
