#include "builtins/ScriptPage.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "builtins/BuiltinOper.h"
#include "engine/TagVar.h"
#include "platform/FileHandle.h"
#include "platform/Gbk.h"
#include "platform/PathMap.h"

namespace zz {

namespace {

constexpr const char* kPreamble = "_RawHtml = 0;\n"
                                  "GetShareMem(_lineNo, \"_RawHtml\", _RawHtml);\n"
                                  "_GET = 0;\n"
                                  "GetShareMem(_lineNo, \"_GET\", _GET);\n"
                                  "_POST = 0;\n"
                                  "GetShareMem(_lineNo, \"_POST\", _POST);\n"
                                  "_COOKIE = 0;\n"
                                  "GetShareMem(_lineNo, \"_COOKIE\", _COOKIE);\n";

// The page as a text file reads it (line ends as line feeds), up to a zero byte; *size the bytes of the file.
bool ReadPage(const char* name, std::string& text, size_t* size) {
    FileHandle in = FileHandle::Open(ResolvePath(name).c_str(), "rb");
    if (!in) return false;
    char piece[1024];
    size_t n;
    *size = 0;
    while ((n = std::fread(piece, 1, sizeof piece, in.get())) > 0) {
        *size += n;
        for (size_t i = 0; i < n; ++i)
            if (piece[i] != '\r') text += piece[i];
    }
    text.resize(std::min(text.size(), text.find('\0')));
    return true;
}

class PageScan {
public:
    PageScan(const std::string& page, FILE* out, TagVar& chunks) : page_(page), out_(out), chunks_(chunks) {}

    void Run() {
        while (i_ < page_.size()) {
            if (!inScript_)
                Html();
            else if (inLineComment_)
                LineComment();
            else if (inBlockComment_)
                BlockComment();
            else
                Script();
        }
        if (inScript_)
            Write(start_, page_.size()); // an unclosed block, as it stands
        else
            Chunk(page_.size());
    }

private:
    char At(size_t i) const { return i < page_.size() ? page_[i] : '\0'; }
    bool Is(char a, char b) const { return At(i_) == a && At(i_ + 1) == b; }
    // Steps over one character: a double-byte character whole, so its second byte is never a mark.
    void Step() { i_ += GbkCharLen(page_, i_); }
    void Write(size_t from, size_t to) { std::fwrite(page_.data() + from, 1, to - from, out_); }

    // The HTML up to `to` becomes the next element and its Print line.
    void Chunk(size_t to) {
        std::fprintf(out_, "Print(_RawHtml[%d]);\n", chunk_);
        chunks_[IntValue(chunk_++)] = TextValue(std::string_view(page_).substr(start_, to - start_));
    }
    void Html() {
        if (!Is('<', '%')) return Step();
        Chunk(i_);
        inScript_ = true;
        i_ += 2;
        start_ = i_;
    }
    void LineComment() {
        if (At(i_) == '\n') inLineComment_ = false;
        Step();
    }
    // "*/" ends the comment; its '/' is scanned again as script text.
    void BlockComment() {
        if (Is('*', '/')) inBlockComment_ = false;
        Step();
    }
    void Script() {
        if (!inString_ && Is('/', '/')) {
            inLineComment_ = true;
            i_ += 2;
        } else if (!inString_ && Is('/', '*')) {
            inBlockComment_ = true;
            i_ += 1;
        } else if (Is('\\', '"')) {
            i_ += 2; // an escaped quote never ends a string
        } else if (At(i_) == '"') {
            inString_ = !inString_;
            i_ += 1;
        } else if (!inString_ && Is('%', '>')) {
            Write(start_, i_);
            inScript_ = false;
            i_ += 2;
            start_ = i_;
        } else {
            Step();
        }
    }

    const std::string& page_;
    FILE* out_;
    TagVar& chunks_;
    size_t i_ = 0, start_ = 0;
    int32_t chunk_ = 0;
    bool inScript_ = false, inLineComment_ = false, inBlockComment_ = false, inString_ = false;
};

} // namespace

int32_t ConvertPspPage(const char* inFile, const char* outFile, TagVar& chunks, std::string& error) {
    std::string page;
    size_t size = 0;
    if (!ReadPage(inFile, page, &size)) {
        error = "Open error";
        return -1;
    }
    if (size == 0) {
        error = "Read error";
        return -2;
    }
    FileHandle out = FileHandle::Open(ResolvePath(outFile).c_str(), "wb");
    if (!out) {
        error = "Open Out-File error";
        return -3;
    }
    std::fputs(kPreamble, out.get());
    PageScan(page, out.get(), chunks).Run();
    std::fputs("return(0);\n", out.get());
    return 0;
}

} // namespace zz
