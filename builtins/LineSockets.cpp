#include "builtins/LineSockets.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

#include "engine/TagTelBasic.h"
#include "platform/TagWriteLog.h"

namespace zz {

LineSockets::~LineSockets() {
    for (const auto& [id, kind] : ids_)
        Sockets().Close(id);
}

int32_t LineSockets::Add(int fd, NetSock::Kind kind) {
    if (Full()) {
        close(fd);
        return -3;
    }
    int32_t id = Sockets().Add(fd, kind);
    if (id >= 0) ids_[id] = kind;
    return id;
}

void LineSockets::Close(int32_t id) {
    Sockets().Close(id);
    ids_.erase(id);
}

void LineSockets::CloseTcp() {
    for (auto it = ids_.begin(); it != ids_.end();) {
        if (it->second == NetSock::kUdp) {
            ++it;
            continue;
        }
        Sockets().Close(it->first);
        it = ids_.erase(it);
    }
}

SockWaiter LineWaiter(TagTelBasic* root) {
    SockWaiter w;
    if (!root) return w;
    if (TagCallState* call = root->Call()) w.wake = &call->wake;
    w.stopped = [root] {
        TagCallState* call = root->Call();
        return root->IsQuit() || (call && call->stopFlag.load(std::memory_order_acquire));
    };
    return w;
}

int32_t LineTcpConnect(TagTelBasic* root, int* fd, const char* host, int32_t port, int32_t seconds) {
    const SockWaiter waiter = LineWaiter(root);
    int32_t r = TcpConnectWait(fd, host, port, int64_t(seconds) * 1000, &waiter);
    if (r == -9 && !(waiter.stopped && waiter.stopped()))
        LineLogF(root, "TcpConnect Timeout: %s:%d, sec=%d", host ? host : "", port, seconds);
    return r;
}

void LineLogF(TagTelBasic* root, const char* fmt, ...) {
    char text[400];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (TagCallState* call = root ? root->Call() : nullptr)
        call->WriteLog(text);
    else
        WriteRunLog(text);
}

} // namespace zz
