#include "builtins/services/Udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "builtins/services/NetSocket.h"
#include "platform/MessageBox.h"

namespace zz {

int32_t UdpOpen(int32_t port, int* fd) {
    UdpStartup();
    char text[160];
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        std::snprintf(text, sizeof text, "Error #%d occurred while creating socket!!", errno);
        ShowMessage(text, "InitTcp: socket()...");
        return -3;
    }
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    at.sin_port = htons(uint16_t(port));
    if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        std::snprintf(text, sizeof text, "Error #%d occurred while bind socket! port=[%d]", errno, port);
        close(s);
        ShowMessage(text, "Server: bind()...");
        return -4;
    }
    int size = kUdpRecvBuffer;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    *fd = s;
    return 0;
}

int32_t UdpSendTo(int fd, const char* host, int32_t port, const char* data, size_t n) {
    sockaddr_in to{};
    if (!MakeSockAddr(host, port, to)) return -2;
    ssize_t k = sendto(fd, data, n, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return k < 0 ? -1 : int32_t(k);
}

int32_t UdpRecvFrom(int fd, char* buf, size_t size, std::string& address, int32_t& port) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t k = recvfrom(fd, buf, size, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (k < 0) return -1;
    address = DottedAddr(from);
    port = ntohs(from.sin_port);
    return int32_t(k);
}

} // namespace zz
