#pragma once
// Small builders for script values in tests.
#include <string>

#include "engine/TagVar.h"

namespace zz::test {

inline TagVar Int(int32_t v) {
    TagVar x;
    x.SetInt(v);
    return x;
}
inline TagVar Dbl(double v) {
    TagVar x;
    x.SetFloat(v);
    return x;
}
inline TagVar Str(const std::string& s) {
    TagVar x;
    x.SetStrN(s.data(), static_cast<int32_t>(s.size()));
    return x;
}
inline std::string Text(const TagVar& v) {
    return v.ToString();
}
inline std::string Bytes(const TagVar& v) {
    return std::string(v.Str(), StrBytes(v));
}

} // namespace zz::test
