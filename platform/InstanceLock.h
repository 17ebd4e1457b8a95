#pragma once
// One running copy per instance name: an exclusive flock on a lock file in $XDG_RUNTIME_DIR (else /tmp). The
// kernel drops the lock when the process dies, so a crashed copy never blocks the next start.
#include <string>

namespace zz {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // 1 taken; 0 another process holds it; -1 the lock file cannot be opened.
    int Acquire(const std::string& name);
    void Release();
    bool Held() const { return fd_ >= 0; }

    // The lock file of a name: "$XDG_RUNTIME_DIR/zuzod-" (else "/tmp/zuzod-<uid>-"), the name with every byte
    // outside [A-Za-z0-9._-] written as %XX, ".lock".
    static std::string LockPath(const std::string& name);

private:
    int fd_ = -1;
};

} // namespace zz
