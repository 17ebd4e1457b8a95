// Test helper: signals a named event of a running process.
#include "platform/NamedEvent.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: zz_signal_event NAME\n", stderr);
        return 2;
    }
    return zz::NamedEvent::Signal(argv[1]) ? 0 : 1;
}
