#pragma once
#include <pthread.h>

#include <functional>
#include <string>

#include "regex/CRegexpT.h"

namespace zz::regextest {

constexpr const char* kNone = "<none>";

// The text of group n of the first match, "<none>" when there is no match or the group took no part.
inline std::string Group(const CRegexpT& re, const std::string& s, int n = 0, int start = -1) {
    MatchResultT m = re.Match(s.data(), int(s.size()), start);
    if (!m.IsMatched() || m.GetGroupStart(n) < 0) return kNone;
    return s.substr(m.GetGroupStart(n), m.GetGroupEnd(n) - m.GetGroupStart(n));
}

inline std::string Find(const char* pattern, const std::string& s, int flags = 0, int start = -1) {
    CRegexpT re(pattern, flags);
    return Group(re, s, 0, start);
}

inline std::string FindGroup(const char* pattern, const std::string& s, int n, int flags = 0) {
    CRegexpT re(pattern, flags);
    return Group(re, s, n);
}

inline std::string Repl(const char* pattern, const std::string& s, const std::string& rep, int count = -1,
                        int flags = 0, int start = -1) {
    CRegexpT re(pattern, flags);
    int n = 0;
    char* out = re.Replace(s.data(), int(s.size()), rep.data(), int(rep.size()), n, start, count);
    if (!out) return kNone;
    std::string r(out, size_t(n));
    CRegexpT::FreeString(out);
    return r;
}

// Runs body on a thread with a stack of stackBytes; its result, or false when no thread starts.
inline bool OnThreadStack(size_t stackBytes, const std::function<bool()>& body) {
    struct Job {
        const std::function<bool()>* body;
        bool ok = false;
    } job{&body};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackBytes);
    pthread_t t;
    const int rc = pthread_create(
        &t, &attr,
        [](void* arg) -> void* {
            auto* j = static_cast<Job*>(arg);
            j->ok = (*j->body)();
            return nullptr;
        },
        &job);
    pthread_attr_destroy(&attr);
    if (rc != 0) return false;
    pthread_join(t, nullptr);
    return job.ok;
}

// The 512 KiB stack of a line thread.
inline bool OnLineThreadStack(const std::function<bool()>& body) {
    return OnThreadStack(512 * 1024, body);
}

} // namespace zz::regextest
