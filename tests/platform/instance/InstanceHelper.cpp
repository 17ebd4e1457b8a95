// Plays another copy of the program for the single-instance tests.
//   second NAME: takes the instance lock; when it is held, signals "NAME Show" and exits 3 (0 when it got the
//                lock, 4 when the lock file failed, 5 when the Show signal found no owner).
//   first NAME:  takes the lock, creates "NAME Quit", prints "ready", and exits 0 once Quit is signalled
//                (6 after 20 s without it, 7 when the lock or the event could not be had).
//   hold NAME:   as first, but never reads Quit: it waits to be killed, so a signal stays pending in it.
//   send PATH:   sends one datagram to the socket file PATH, as any local user may try (0 when sent).
//   squat ADDR:  binds ADDR (an abstract name when it starts with '@') as another user would, prints "bound" or
//                "refused" and waits to be killed.
#include "platform/InstanceLock.h"
#include "platform/NamedEvent.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::string name = argv[2];
    if (std::strcmp(argv[1], "send") == 0 || std::strcmp(argv[1], "squat") == 0) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (name.size() >= sizeof addr.sun_path) return 2;
        std::memcpy(addr.sun_path, name.data(), name.size());
        if (name[0] == '@') addr.sun_path[0] = 0;
        auto len = socklen_t(sizeof addr.sun_family + name.size() + (name[0] == '@' ? 0 : 1));
        auto* at = reinterpret_cast<sockaddr*>(&addr);
        int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        char one = 1;
        if (argv[1][1] == 'e') return ::sendto(fd, &one, 1, 0, at, len) == 1 ? 0 : 1;
        std::printf(::bind(fd, at, len) == 0 ? "bound\n" : "refused\n");
        std::fflush(stdout);
        for (;;)
            pause();
    }
    zz::InstanceLock lock;
    int got = lock.Acquire(name);
    if (std::strcmp(argv[1], "second") == 0) {
        if (got == 1) return 0;
        if (got < 0) return 4;
        return zz::NamedEvent::Signal(name + " Show") ? 3 : 5;
    }
    zz::NamedEvent quit;
    if (got != 1 || !quit.Create(name + " Quit")) return 7;
    std::printf("ready\n");
    std::fflush(stdout);
    if (std::strcmp(argv[1], "hold") == 0)
        for (;;)
            pause();
    for (int i = 0; i < 20000 / 30; ++i)
        if (quit.Wait(30)) return 0;
    return 6;
}
