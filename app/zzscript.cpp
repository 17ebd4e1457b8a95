// zzscript: compiles one script in the working directory and runs it as a line of its own, on a virtual line
// with no sound card call attached. For trying scripts and for tests of the engine and the builtins end to end.
// The database client libraries are loaded when a script first opens a database of their kind.
//
//   zzscript [--line N] [--check] [--quit-after MS] [--reload-after MS] FILE
//
// --check only compiles (warnings included) into the line's error file. --quit-after and --reload-after ask the
// running script to quit or reload after MS milliseconds, as the line manager does when it closes or reloads
// lines. Exit status: 0 after the script ran (or compiled, with --check) and for --help, 1 when it does not
// compile, 2 for bad arguments.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "builtins/BuiltinTable.h"
#include "data/TagMySqlData.h"
#include "data/TagSybData.h"
#include "data/TagTqrDbData.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/CpuGate.h"
#include "telephony/TagKvCall.h"

using namespace zz;

namespace {

void Usage(FILE* to = stderr) {
    fputs("usage: zzscript [--line N] [--check] [--quit-after MS] [--reload-after MS] FILE\n", to);
}

bool ParseCount(const char* text, long& out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < 0 || v > 0x7FFFFFFF) return false;
    out = v;
    return true;
}

// Requests reach the program only while the line thread has not finished with it.
struct Done {
    std::mutex m;
    bool done = false;

    void Set() {
        std::lock_guard<std::mutex> g(m);
        done = true;
    }
};

} // namespace

int main(int argc, char** argv) {
    long line = 1, quitAfter = -1, reloadAfter = -1;
    bool check = false;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        bool hasValue = i + 1 < argc;
        if (!std::strcmp(a, "--help")) {
            Usage(stdout);
            return 0;
        } else if (!std::strcmp(a, "--check")) {
            check = true;
        } else if (!std::strcmp(a, "--line") && hasValue) {
            if (!ParseCount(argv[++i], line)) return Usage(), 2;
        } else if (!std::strcmp(a, "--quit-after") && hasValue) {
            if (!ParseCount(argv[++i], quitAfter)) return Usage(), 2;
        } else if (!std::strcmp(a, "--reload-after") && hasValue) {
            if (!ParseCount(argv[++i], reloadAfter)) return Usage(), 2;
        } else if (a[0] != '-' && !file) {
            file = a;
        } else {
            Usage();
            return 2;
        }
    }
    if (!file) {
        Usage();
        return 2;
    }

    // The line runs alone: it has no other line's start to give way to (a line of zuzod waits for an idle
    // processor before it compiles).
    OpenCpuGate(true);
    RegisterBuiltins();
    // Loaded when a script first opens a database of their kind (most scripts never do, and loading them costs
    // more processor time than starting everything else), freed in the line manager's order; a missing library
    // disables only its back end.
    LoadMySqlLibraryOnDemand();
    LoadTqrDbLibraryOnDemand();
    LoadDbLibraryOnDemand();
    struct Unload {
        ~Unload() {
            FreeTqrDbLibrary();
            FreeMySqlLibrary();
            FreeDbLibrary();
        }
    } unload;
    TagKvCall call;
    call.lineKind = kLineVirtual;
    call.lineNo = static_cast<int32_t>(line);
    TagTelBasic* prog = nullptr;
    try {
        prog = new TagTelBasic(file, static_cast<int32_t>(line), &call, check ? 0 : 1, nullptr);
    } catch (const std::exception& e) {
        fprintf(stderr, "zzscript: %s\n", e.what());
        return 1;
    }
    if (prog->initResult != 0) {
        fprintf(stderr, "zzscript: '%s' does not compile (see errmsg%ld.txt)\n", file, line);
        delete prog;
        return 1;
    }
    if (check) {
        delete prog;
        return 0;
    }

    prog->SetReloadAllowed(1);
    Done done;
    int32_t result = 0;
    bool failed = false;
    // The line thread runs the program and deletes it: everything the script made on its thread goes with it. Unless
    // something is to be asked of the run while it goes, the line's thread is this one.
    auto runLine = [&] {
        try {
            result = prog->Run();
        } catch (const std::exception& e) {
            fprintf(stderr, "zzscript: the script stopped: %s\n", e.what());
            failed = true;
        } catch (...) {
            failed = true;
        }
        done.Set();
        delete prog;
    };
    if (quitAfter < 0 && reloadAfter < 0) {
        runLine();
    } else {
        std::thread lineThread(runLine);
        uint32_t start = GetTickCount();
        bool reloadSent = false;
        for (;;) {
            {
                std::lock_guard<std::mutex> g(done.m);
                if (done.done) break;
                uint32_t elapsed = TicksSince(start);
                if (reloadAfter >= 0 && !reloadSent && elapsed >= static_cast<uint32_t>(reloadAfter)) {
                    prog->SetReload(1);
                    reloadSent = true;
                }
                // Asked again until the run ends, as the line manager does: a run just starting clears the flags.
                if (quitAfter >= 0 && elapsed >= static_cast<uint32_t>(quitAfter)) {
                    prog->SetQuit(1);
                    call.RequestStop();
                }
            }
            SleepMs(10);
        }
        lineThread.join();
    }
    if (failed) return 1;
    printf("Run returned %d\n", result);
    return 0;
}
