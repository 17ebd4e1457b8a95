#include "platform/WakeEvent.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace zz {

WakeEvent::WakeEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
    if (fd_ >= 0) close(fd_);
}

void WakeEvent::Signal() {
    {
        std::lock_guard<std::mutex> lk(m_);
        ++generation_;
    }
    cv_.notify_all();
    if (fd_ >= 0) {
        uint64_t one = 1;
        (void)!write(fd_, &one, sizeof one);
    }
}

void WakeEvent::Drain() {
    if (fd_ < 0) return;
    uint64_t n;
    (void)!read(fd_, &n, sizeof n);
}

} // namespace zz
