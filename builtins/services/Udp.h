#pragma once
// Datagram sockets of the UDP builtins.
#include <cstddef>
#include <cstdint>
#include <string>

namespace zz {

// Receive buffer of a UDP socket.
constexpr int kUdpRecvBuffer = 1 << 20;

// A UDP socket bound to port on all addresses (0: any free port): 0 with *fd set, -3 no socket, -4 bind
// failure (each shown in a message box).
int32_t UdpOpen(int32_t port, int* fd);
// One datagram to host:port: the bytes sent, -1 when the send fails, -2 when host cannot be resolved.
int32_t UdpSendTo(int fd, const char* host, int32_t port, const char* data, size_t n);
// One datagram of at most size bytes, waiting for none: recvfrom's result; the sender's dotted address and port
// when it is 0 or more.
int32_t UdpRecvFrom(int fd, char* buf, size_t size, std::string& address, int32_t& port);

} // namespace zz
