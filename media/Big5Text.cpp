#include "media/Big5Text.h"

#include "platform/Gbk.h"
#include "platform/LazyLibrary.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <opencc/opencc.h>

namespace zz {

bool IsBig5Text(std::string_view text) {
    bool inHigh = false, odd = false;
    for (char ch : text) {
        unsigned char c = (unsigned char)ch;
        if (c == 0) break;
        if (c >= 0x81 && c <= 0xFE) {
            inHigh = true;
            odd = !odd;
        } else if (c >= 0x40 && c <= 0x7E) {
            if (inHigh && odd) return true;
        } else {
            inHigh = odd = false;
        }
    }
    return false;
}

namespace {

// OpenCC is loaded at the first Big5 text, not linked: it and the libraries it brings would cost every start.
#define ZZ_OPENCC_FUNCTIONS(X)                                                                                         \
    X(opencc_open)                                                                                                     \
    X(opencc_close)                                                                                                    \
    X(opencc_convert_utf8)                                                                                             \
    X(opencc_convert_utf8_free)
struct OpenccApi {
    ZZ_OPENCC_FUNCTIONS(ZZ_LAZY_FIELD)
};
OpenccApi g_opencc;

bool LoadOpencc() {
    static LazyLibrary opencc("libopencc.so.1.1");
    return opencc.Ready([](LazyLibrary& lib) {
        OpenccApi& api = g_opencc;
        return true ZZ_OPENCC_FUNCTIONS(ZZ_LAZY_BIND);
    });
}

// OpenCC's traditional-to-simplified converter, loaded once and used under a lock.
class SimplifyConverter {
public:
    SimplifyConverter() : od_(LoadOpencc() ? g_opencc.opencc_open("t2s.json") : (opencc_t)-1) {}
    ~SimplifyConverter() {
        if (Ok()) g_opencc.opencc_close(od_);
    }
    bool Ok() const { return od_ != (opencc_t)-1; }
    bool Convert(const std::string& utf8, std::string& out) {
        std::lock_guard<std::mutex> lock(mutex_);
        char* s = g_opencc.opencc_convert_utf8(od_, utf8.data(), utf8.size());
        if (!s) return false;
        out.assign(s);
        g_opencc.opencc_convert_utf8_free(s);
        return true;
    }

private:
    opencc_t od_;
    std::mutex mutex_;
};

SimplifyConverter& Simplifier() {
    static SimplifyConverter converter;
    return converter;
}

} // namespace

std::string& Big5ToGbk(std::string& result, std::string_view text) {
    result.clear();
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    if (text.empty()) return result;
    std::string utf8;
    if (!ConvertCodePage(text, "CP950", "UTF-8", utf8)) ConvertCodePage(text, "BIG5", "UTF-8", utf8);
    std::string simplified;
    SimplifyConverter& conv = Simplifier();
    // Without OpenCC's data the text is still converted, only left in traditional characters.
    if (!conv.Ok() || !conv.Convert(utf8, simplified)) simplified = utf8;
    ConvertCodePage(simplified, "UTF-8", "GBK", result);
    return result;
}

} // namespace zz
