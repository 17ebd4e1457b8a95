#include "platform/InstanceLock.h"
#include "platform/NamedEvent.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace zz;

namespace {

// A name of our own per test, so parallel runs never meet; its lock file is removed when the test ends.
struct LockFileSweeper {
    std::string path;
    ~LockFileSweeper() {
        if (!path.empty()) ::unlink(path.c_str());
    }
};
std::string UniqueName(const char* tag) {
    std::string name = std::string("ZuZod test ") + tag + " " + std::to_string(::getpid());
    static LockFileSweeper sweepers[8];
    static int used = 0;
    if (used < 8) sweepers[used++].path = InstanceLock::LockPath(name);
    return name;
}

struct Child {
    pid_t pid = -1;
    int out = -1;

    // asNobody: the helper runs as user 65534 (needs root).
    Child(const char* mode, const std::string& name, bool asNobody = false) {
        int p[2];
        if (::pipe(p) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, p[1], 1);
        posix_spawn_file_actions_addclose(&fa, p[0]);
        std::vector<const char*> argv;
        if (asNobody) argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        argv.insert(argv.end(), {ZZ_INSTANCE_HELPER, mode, name.c_str(), nullptr});
        if (posix_spawnp(&pid, argv[0], &fa, nullptr, const_cast<char**>(argv.data()), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(p[1]);
        out = p[0];
    }
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0) ::close(out);
    }
    // The helper's first line.
    std::string ReadLine() {
        std::string s;
        char c;
        while (::read(out, &c, 1) == 1 && c != '\n')
            s += c;
        return s;
    }
    int Exit() {
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid) return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

} // namespace

TEST(SingleInstance, SecondCopyFindsTheLockHeldSignalsShowAndExits) {
    std::string name = UniqueName("second");
    InstanceLock lock;
    ASSERT_EQ(lock.Acquire(name), 1);
    NamedEvent show;
    ASSERT_TRUE(show.Create(name + " Show"));
    EXPECT_FALSE(show.Wait(0));

    Child second("second", name);
    ASSERT_GT(second.pid, 0);
    EXPECT_EQ(second.Exit(), 3);
    EXPECT_TRUE(show.Wait(2000));
    EXPECT_FALSE(show.Wait(30)); // reading the signal reset it
}

TEST(SingleInstance, QuitEventStopsTheRunningCopyAndFreesItsNames) {
    std::string name = UniqueName("quit");
    Child first("first", name);
    ASSERT_GT(first.pid, 0);
    ASSERT_EQ(first.ReadLine(), "ready");

    InstanceLock lock;
    EXPECT_EQ(lock.Acquire(name), 0);
    NamedEvent quitTwin;
    EXPECT_FALSE(quitTwin.Create(name + " Quit")); // owned by the running copy

    EXPECT_TRUE(NamedEvent::Signal(name + " Quit"));
    EXPECT_EQ(first.Exit(), 0);
    EXPECT_EQ(lock.Acquire(name), 1);
    EXPECT_FALSE(NamedEvent::Signal(name + " Quit"));
}

TEST(SingleInstance, AKilledCopyLeavesNeitherLockNorPendingQuit) {
    std::string name = UniqueName("killed");
    {
        // A copy that never reads its Quit, so the signal is surely pending in it when it dies.
        Child first("hold", name);
        ASSERT_GT(first.pid, 0);
        ASSERT_EQ(first.ReadLine(), "ready");
        EXPECT_TRUE(NamedEvent::Signal(name + " Quit"));
        ::kill(first.pid, SIGKILL);
        EXPECT_EQ(first.Exit(), 128 + SIGKILL);
    }
    // Its socket file stays behind, with nothing bound to it: no owner, and no hindrance to the next copy.
    EXPECT_EQ(::access(NamedEvent::Path(name + " Quit").c_str(), F_OK), 0);
    EXPECT_FALSE(NamedEvent::Exists(name + " Quit"));
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire(name), 1);
    NamedEvent quit;
    ASSERT_TRUE(quit.Create(name + " Quit"));
    EXPECT_FALSE(quit.Wait(30)); // the dead copy's signal died with it
}

TEST(SingleInstance, SecondCopyWithoutAShowOwnerStillSeesTheLock) {
    std::string name = UniqueName("noshow");
    InstanceLock lock;
    ASSERT_EQ(lock.Acquire(name), 1);
    Child second("second", name);
    EXPECT_EQ(second.Exit(), 5);
    lock.Release();
    Child third("second", name);
    EXPECT_EQ(third.Exit(), 0);
}

TEST(NamedEvents, SignalledUntilWaitedAndLongNamesStayApart) {
    std::string base = UniqueName("ev");
    NamedEvent a;
    ASSERT_TRUE(a.Create(base));
    EXPECT_TRUE(NamedEvent::Signal(base));
    EXPECT_TRUE(NamedEvent::Signal(base));
    EXPECT_TRUE(a.Wait(0));
    EXPECT_FALSE(a.Wait(0)); // both signals were taken by one wait
    EXPECT_TRUE(NamedEvent::Signal(base));
    a.Reset();
    EXPECT_FALSE(a.Wait(0));
    EXPECT_FALSE(NamedEvent::Signal(base + " nobody"));

    std::string longName(200, 'x');
    // Too long for a socket address: the file is named by the name's FNV-1a hash.
    EXPECT_EQ(NamedEvent::Path("ZuZod " + longName + " Quit"),
              InstanceLock::LockDir() + "/zuzod-54568aa6619d4a66.sock");
    NamedEvent l1, l2;
    ASSERT_TRUE(l1.Create(base + longName + "1"));
    ASSERT_TRUE(l2.Create(base + longName + "2"));
    EXPECT_TRUE(NamedEvent::Signal(base + longName + "2"));
    EXPECT_FALSE(l1.Wait(0));
    EXPECT_TRUE(l2.Wait(0));
    a.Close();
    EXPECT_FALSE(a.Wait(0));
    EXPECT_FALSE(NamedEvent::Signal(base));
}

TEST(InstanceLockFile, LivesInAFolderOnlyThisUserCanWriteAndGoesAtRelease) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/77", 1);
    EXPECT_EQ(InstanceLock::LockPath("ZuZod from Karvelian"), "/run/user/77/zuzod-ZuZod%20from%20Karvelian.lock");
    EXPECT_EQ(InstanceLock::LockPath("a/\xC7\xE0"), "/run/user/77/zuzod-a%2F%C7%E0.lock");
    ::unsetenv("XDG_RUNTIME_DIR");
    // Not a name in /tmp another user could make first.
    EXPECT_EQ(InstanceLock::LockPath("x"), ::geteuid() == 0
                                               ? std::string("/run/zuzod/zuzod-x.lock")
                                               : "/tmp/zuzod-" + std::to_string(::geteuid()) + "/zuzod-x.lock");

    char tmpl[] = "/tmp/zz-lockdir-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    {
        InstanceLock lock;
        ASSERT_EQ(lock.Acquire("rel"), 1);
        std::string file = InstanceLock::LockPath("rel");
        EXPECT_EQ(::access(file.c_str(), F_OK), 0);
        lock.Release();
        EXPECT_NE(::access(file.c_str(), F_OK), 0); // an orderly stop leaves no file
        // A folder everyone may write in, like /tmp, is refused, for the lock and the events alike.
        ASSERT_EQ(::chmod(dir.c_str(), 01777), 0);
        EXPECT_EQ(lock.Acquire("rel"), -1);
        EXPECT_NE(lock.Error().find(dir + ": other users may write in it (mode 1777)"), std::string::npos)
            << lock.Error();
        NamedEvent ev;
        EXPECT_FALSE(ev.Create("rel Quit"));
        EXPECT_EQ(ev.Error(), lock.Error());
        std::string why;
        EXPECT_FALSE(NamedEvent::Signal("rel Quit", &why));
        EXPECT_NE(why.find(lock.Error()), std::string::npos) << why;
        ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
        if (::geteuid() == 0) {
            // A folder another user owns could hold a lock of theirs: refused, and the cause said.
            ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
            EXPECT_EQ(lock.Acquire("rel"), -1);
            EXPECT_NE(lock.Error().find("belongs to user 65534"), std::string::npos) << lock.Error();
        }
    }
    ::rmdir(dir.c_str());
    if (old)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(NamedEvents, AnotherUserCanNeitherTakeNorSignalAnEvent) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root (setpriv)";
    std::string name = UniqueName("squat");
    // Another user tries to bind the event first, at its socket file and at an abstract name of the same words.
    Child atFile("squat", NamedEvent::Path(name), true);
    Child abstract("squat", "@zuzod-event/" + std::to_string(::getuid()) + "/" + name, true);
    EXPECT_EQ(atFile.ReadLine(), "refused");
    EXPECT_EQ(abstract.ReadLine(), "bound");
    NamedEvent quit;
    ASSERT_TRUE(quit.Create(name)) << quit.Error();
    Child sender("send", NamedEvent::Path(name), true);
    EXPECT_EQ(sender.Exit(), 1);
    EXPECT_FALSE(quit.Wait(0));
    EXPECT_TRUE(NamedEvent::Signal(name));
    EXPECT_TRUE(quit.Wait(0));
}

TEST(NamedEvents, ASignalThatFindsTheQueueFullIsNotDeliveredAndSaysSo) {
    std::string name = UniqueName("full");
    NamedEvent ev;
    ASSERT_TRUE(ev.Create(name)) << ev.Error();
    std::string why;
    int sent = 0;
    while (sent < 10000 && NamedEvent::Signal(name, &why))
        ++sent;
    EXPECT_LT(sent, 10000);
    EXPECT_NE(why.find("\"" + name + "\" not delivered: its owner does not take its signals"), std::string::npos)
        << why;
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_TRUE(NamedEvent::Signal(name));
    ev.Close();
    EXPECT_FALSE(NamedEvent::Signal(name, &why));
    EXPECT_NE(why.find("not delivered: no running process owns it"), std::string::npos) << why;
}

TEST(InstanceLockFile, ALockHeldInThisProcessIsNotTakenTwice) {
    std::string name = UniqueName("twice");
    InstanceLock a, b;
    ASSERT_EQ(a.Acquire(name), 1);
    EXPECT_EQ(b.Acquire(name), 0); // flock locks belong to the open file, not the process
    a.Release();
    EXPECT_EQ(b.Acquire(name), 1);
}
