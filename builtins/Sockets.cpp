// TCP, HTTP and UDP builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagTcpOpen, 4);
ZZ_BUILTIN_L(TagTcpClose, 1);
ZZ_BUILTIN_L(TagTcpCloseAll, 0);
ZZ_BUILTIN_L(TagTcpWrite, 4);
ZZ_BUILTIN_L(TagTcpTest, 2);
ZZ_BUILTIN_L(TagTcpRead, 3);
ZZ_BUILTIN_P(TagHttp, 6);
ZZ_BUILTIN_P(TagHttpServerOpen, 1);
ZZ_BUILTIN_P(TagHttpServerRecv, 4);
ZZ_BUILTIN_P(TagHttpServerSend, 3);
ZZ_BUILTIN_P(TagHttpServerClose, 1);
ZZ_BUILTIN_L(TagTcpServer, 3);
ZZ_BUILTIN_L(TagTcpAccept, 3);
ZZ_BUILTIN_P(TagUdpOpen, 1);
ZZ_BUILTIN_P(TagUdpClose, 1);
ZZ_BUILTIN_P(TagUdpSend, 4);
ZZ_BUILTIN_P(TagUdpRecv, 4);
ZZ_BUILTIN_P(TagUdpTest, 1);

std::span<const BuiltinEntry> SocketsBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(180, TagTcpOpen, 4),         // TcpOpen
        ZZ_ROW_L(181, TagTcpClose, 1),        // TcpClose
        ZZ_ROW_L(182, TagTcpCloseAll, 0),     // TcpCloseAll
        ZZ_ROW_L(183, TagTcpWrite, 4),        // TcpWrite
        ZZ_ROW_L(184, TagTcpTest, 2),         // TcpTest
        ZZ_ROW_L(185, TagTcpRead, 3),         // TcpRead
        ZZ_ROW_P(186, TagHttp, 6),            // Http
        ZZ_ROW_P(187, TagHttpServerOpen, 1),  // HttpServerOpen
        ZZ_ROW_P(188, TagHttpServerRecv, 4),  // HttpServerRecv
        ZZ_ROW_P(189, TagHttpServerSend, 3),  // HttpServerSend
        ZZ_ROW_P(190, TagHttpServerClose, 1), // HttpServerClose
        ZZ_ROW_L(191, TagTcpServer, 3),       // TcpServer
        ZZ_ROW_L(192, TagTcpAccept, 3),       // TcpAccept
        ZZ_ROW_P(195, TagUdpOpen, 1),         // UdpOpen
        ZZ_ROW_P(196, TagUdpClose, 1),        // UdpClose
        ZZ_ROW_P(197, TagUdpSend, 4),         // UdpSend
        ZZ_ROW_P(198, TagUdpRecv, 4),         // UdpRecv
        ZZ_ROW_P(199, TagUdpTest, 1),         // UdpTest
    };
    return rows;
}

} // namespace zz
