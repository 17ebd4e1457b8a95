// Search over a subject and the results it reports.
#include "regex/CRegexpT.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/TagWriteLog.h"
#include "regex/CBuilderT.h"

namespace zz {

namespace {

// Stack a search leaves unused below its deepest frame: room for the unwinding and for the caller.
constexpr uintptr_t kStackReserve = 64 * 1024;
// Depth allowed when the system cannot tell where the thread's stack ends.
constexpr uintptr_t kStackBudgetUnknown = 160 * 1024;

// The lowest address of this thread's stack, 0 when the system does not tell; asked once per thread.
uintptr_t ThreadStackLow() {
    thread_local const uintptr_t low = [] {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return uintptr_t(0);
        void* addr = nullptr;
        size_t size = 0;
        const int rc = pthread_attr_getstack(&attr, &addr, &size);
        pthread_attr_destroy(&attr);
        return rc == 0 ? reinterpret_cast<uintptr_t>(addr) : uintptr_t(0);
    }();
    return low;
}

// The lowest frame address a search starting at frame `here` may reach on this thread.
uintptr_t StackFloor(uintptr_t here) {
    const uintptr_t low = ThreadStackLow();
    if (low != 0 && here > low) return low + kStackReserve; // past it already: the first step gives up
    return here > kStackBudgetUnknown ? here - kStackBudgetUnknown : 0;
}

void LogRefused(const std::string& pattern) {
    char text[192];
    std::snprintf(text, sizeof text, "Regexp refused, groups nested deeper than 64: %s", pattern.c_str());
    WriteRunLogAlways(text);
}

void LogAbandoned(RegexAbandoned::Reason why, const std::string& pattern) {
    char text[192];
    std::snprintf(text, sizeof text, "Regexp gave up (%s), no match: %s",
                  why == RegexAbandoned::kTooManySteps ? "match limit" : "stack", pattern.c_str());
    WriteRunLogAlways(text);
}

} // namespace

CRegexpT::CRegexpT() = default;
CRegexpT::CRegexpT(const char* pattern, int flags) {
    Compile(pattern, flags);
}
CRegexpT::CRegexpT(const char* pattern, int length, int flags) {
    Compile(pattern, length, flags);
}
CRegexpT::~CRegexpT() = default;

void CRegexpT::Compile(const char* pattern, int flags) {
    Compile(pattern, pattern ? int(std::strlen(pattern)) : 0, flags);
}

void CRegexpT::Compile(const char* pattern, int length, int flags) {
    m_builder.reset();
    if (!pattern) return;
    auto b = std::make_unique<CBuilderT>();
    b->Build(pattern, length, flags);
    if (b->m_bRefused) {
        LogRefused(b->Pattern());
        return;
    }
    m_builder = std::move(b);
}

int CRegexpT::GetNamedGroupNumber(const char* name) const {
    return m_builder && name ? m_builder->GetNamedNumber(name) : -1;
}
int CRegexpT::MaxGroupNumber() const {
    return m_builder ? m_builder->m_nMaxNumber : 0;
}
int CRegexpT::Flags() const {
    return m_builder ? m_builder->m_nFlags : 0;
}

CContext* CRegexpT::PrepareMatch(const char* text, int length, int start, CContext* ctx) const {
    if (!ctx) return nullptr;
    ctx->m_nCloseCount = 0;
    ctx->m_nLastBeginPos = -1;
    ctx->m_nLastEmptyPos = -1;
    ctx->m_pMatchString = reinterpret_cast<const unsigned char*>(text ? text : "");
    ctx->m_nMatchLength = text && length > 0 ? length : 0;
    if (start < 0) start = (Flags() & RIGHTTOLEFT) ? ctx->m_nMatchLength : 0;
    ctx->m_nBeginPos = ctx->m_nCurrentPos = start;
    return ctx;
}

MatchResultT CRegexpT::Match(const char* text, int start, CContext* ctx) const {
    return Match(text, text ? int(std::strlen(text)) : 0, start, ctx);
}

MatchResultT CRegexpT::Match(const char* text, int length, int start, CContext* ctx) const {
    if (!m_builder) return MatchResultT();
    CContext own;
    CContext* c = ctx ? ctx : &own;
    PrepareMatch(text, length, start, c);
    return Match(c);
}

MatchResultT CRegexpT::Match(CContext* ctx) const {
    if (!m_builder || !ctx || !ctx->m_pMatchString) return MatchResultT(); // a context never prepared
    ctx->m_nSteps = 0;
    ctx->m_stackFloor = StackFloor(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
    try {
        return Search(ctx);
    } catch (const RegexAbandoned& e) {
        LogAbandoned(e.reason, m_builder->Pattern());
        return MatchResultT();
    }
}

MatchResultT CRegexpT::Search(CContext* ctx) const {
    MatchResultT result;
    const CBuilderT& b = *m_builder;
    const bool rtl = (b.m_nFlags & RIGHTTOLEFT) != 0;
    const int len = ctx->m_nMatchLength, groups = b.m_nMaxNumber;
    const unsigned char* s = ctx->m_pMatchString;
    int p = ctx->m_nCurrentPos;
    if (p < 0 || p > len) return result;
    for (; rtl ? p >= 0 : p <= len; p += rtl ? -1 : 1) {
        if (!rtl) { // skip start positions where no match can begin
            if (b.m_bAnchored && p != 0) break;
            if (!b.m_prefix.empty()) {
                const void* f = memmem(s + p, size_t(len - p), b.m_prefix.data(), b.m_prefix.size());
                if (!f) break;
                p = int(static_cast<const unsigned char*>(f) - s);
            } else if (b.m_bUseFirst) {
                while (p < len && !b.m_firstSet.Has(s[p]))
                    ++p;
                if (p >= len) break;
            }
        }
        ctx->m_stack.Clear();
        ctx->m_capturestack.Clear();
        ctx->m_recursion.Clear();
        ctx->m_captureindex.Fill(groups + 1, -1);
        ctx->m_captureindex[0] = 0;
        CBufferT<int>& cs = ctx->m_capturestack;
        cs.Push(0), cs.Push(p), cs.Push(-1), cs.Push(-1), cs.Push(-1);
        ctx->m_nCurrentPos = p;
        if (!b.m_pTopElx->Match(ctx)) continue;
        const int end = ctx->m_nCurrentPos;
        // an empty match where the last accepted empty match lay is reported once only
        if (end == p && p == ctx->m_nLastEmptyPos) continue;
        ctx->m_nLastBeginPos = ctx->m_nBeginPos;
        ctx->m_nBeginPos = end;
        ctx->m_nLastEmptyPos = end == p ? p : -1;
        cs[CAP_END] = end;

        result.m_result.Fill(groups * 2 + 4, -1);
        result.m_result[0] = 1;
        result.m_result[1] = groups;
        for (int n = 0; n <= groups; ++n) {
            const int idx = ctx->m_captureindex[n];
            if (idx < 0) continue;
            const int a = cs[idx + CAP_START], e = cs[idx + CAP_END];
            if (a < 0 || e < 0) continue;
            result.m_result[2 + n * 2] = std::min(a, e);
            result.m_result[3 + n * 2] = std::max(a, e);
        }
        return result;
    }
    return result;
}

} // namespace zz
