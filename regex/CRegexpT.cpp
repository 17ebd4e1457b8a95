// Search over a subject and the results it reports.
#include "regex/CRegexpT.h"

#include <algorithm>
#include <cstring>

#include "regex/CBuilderT.h"

namespace zz {

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
    MatchResultT result;
    if (!m_builder || !ctx || !ctx->m_pMatchString) return result; // a context never prepared
    const CBuilderT& b = *m_builder;
    ctx->m_stackBase = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
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
