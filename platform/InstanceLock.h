#pragma once
// One running copy per instance name: an exclusive flock on a lock file in a folder only this user can write:
// $XDG_RUNTIME_DIR, else /run/zuzod for root, else /tmp/zuzod-<uid> (made 0700). A folder another user owns, a
// symbolic link, or one from the environment that others may write in (a shared 1777 one) is refused. The kernel
// drops the lock when the process dies, so a crashed copy never blocks the next start; an orderly release removes
// the file. The named events live in the same folder.
#include <string>

namespace zz {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // 1 taken; 0 another process holds it; -1 the lock file or its folder cannot be used (Error says why).
    int Acquire(const std::string& name);
    void Release();
    bool Held() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }

    // The folder of the lock files, as described above.
    static std::string LockDir();
    // Opens LockDir() once it is found to be this user's alone (make: a missing default folder is made); -1 with
    // the reason in error.
    static int OpenLockDir(bool make, std::string& error);
    // The lock file of a name: LockDir() + "/zuzod-" + Escaped(name) + ".lock".
    static std::string LockPath(const std::string& name);
    // The name with every byte outside [A-Za-z0-9._-] written as %XX.
    static std::string Escaped(const std::string& name);

private:
    int fd_ = -1;
    std::string path_, error_;
};

} // namespace zz
