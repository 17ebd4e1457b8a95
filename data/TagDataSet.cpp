#include "data/TagDataSet.h"

#include <cstring>

#include "platform/Gbk.h"

namespace zz {

int TagDataSet::ExecToLocal(char*, TagLocalData*) {
    return 0;
}
int TagDataSet::SetVarByName(const char*, const char*, int) {
    return 0;
}
int TagDataSet::SetVar(const char*, int, int) {
    return 0;
}

size_t CopyDbValue(char* buf, std::string_view text) {
    size_t n = text.size() < kDbValueSize ? text.size() : GbkSafeCut(text, kDbValueSize - 1);
    if (n) memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return n;
}

} // namespace zz
