#include "media/TagTxtCvtFax.h"

#include "media/Big5Text.h"
#include "platform/Gbk.h"
#include "platform/PathMap.h"

#include <cstring>

namespace zz {

TagTxtCvtFax::TagTxtCvtFax(const std::string& directory, const std::string& textFile, const std::string& faxFile) {
    cvt_ = std::make_unique<TagCvtFax>(directory);
    if (cvt_->Status() < 0) {
        result_ = kNoCodeTable;
        return;
    }
    draw_ = std::make_unique<DrawMem>(directory);
    if (draw_->Status() < 0) {
        draw_.reset();
        cvt_.reset();
        result_ = kNoFonts;
        return;
    }
    if (Open(textFile, faxFile) < 0) {
        result_ = kFileFailed;
        return;
    }
    while (ConvertLine()) {
    }
    Finish();
    result_ = kDone;
}

TagTxtCvtFax::~TagTxtCvtFax() {
    Finish();
}

int TagTxtCvtFax::DetectTextKind(const unsigned char* head, size_t length) {
    if (length >= 2 && head[0] == 0xFF && head[1] == 0xFE) return kUtf16;
    if (length >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) return kUtf8;
    for (size_t i = 0; i < length; ++i)
        if (head[i] >= 0x80 && head[i] <= 0x9F) return kRefused;
    return kAnsi;
}

// The whole UTF-16 text converted to GBK and read from memory, so that the line reader sees ANSI text; zero bytes
// inside UTF-16 characters are part of the text, not its end. Nothing is written beside the text: a file there
// with a name others could foresee could be planted or read.
bool TagTxtCvtFax::OpenUtf16AsGbk() {
    std::string raw;
    char piece[4096];
    fseek(text_.get(), 2, SEEK_SET);
    size_t n;
    while ((n = fread(piece, 1, sizeof piece, text_.get())) > 0)
        raw.append(piece, n);
    text_.Close();
    ConvertCodePage(raw, "UTF-16LE", "GBK", gbkText_);
    text_ = FileHandle(fmemopen(gbkText_.data(), gbkText_.size(), "r"));
    return bool(text_);
}

int TagTxtCvtFax::Open(const std::string& textFile, const std::string& faxFile) {
    text_ = FileHandle::Open(ResolvePath(textFile).c_str(), "rb");
    if (!text_) return -1;
    unsigned char head[80];
    size_t got = fread(head, 1, sizeof head, text_.get());
    textKind_ = DetectTextKind(head, got);
    if (textKind_ == kRefused || textKind_ == kUtf8) {
        text_.Close();
        return -100;
    }
    if (textKind_ == kUtf16) {
        if (!OpenUtf16AsGbk()) return -1;
    } else {
        text_ = FileHandle::Open(ResolvePath(textFile).c_str(), "r");
        if (!text_) return -1;
    }
    fax_ = cvt_->Open(faxFile);
    return fax_ ? 0 : -2;
}

bool TagTxtCvtFax::ConvertLine() {
    char raw[216];
    if (!text_ || !fgets(raw, sizeof raw, text_.get())) return false;
    std::string line(5, ' ');
    for (const char* p = raw; *p && *p != '\r' && *p != '\n' && line.size() <= 216; ++p) {
        if (*p == '\t')
            line += "    ";
        else
            line += *p;
    }
    // A line wider than the page goes on in further bands (indented like the first) instead of losing its
    // end; the whole line is checked for Big5 so that every band uses the same conversion and font.
    bool big5 = IsBig5Text(line);
    std::string gbk;
    if (big5)
        Big5ToGbk(gbk, line);
    else
        gbk = line;
    std::string_view rest = gbk;
    bool first = true;
    do {
        size_t indent = first ? 0 : 5;
        std::string piece = std::string(indent, ' ') + std::string(rest);
        size_t fit = DrawMem::FitBytes(piece, 40);
        if (fit <= indent) fit = indent + GbkCharLen(rest, 0); // at least one character a band
        piece.resize(std::min(fit, piece.size()));
        draw_->DrawGbkLine(piece, 40, 0, big5);
        EncodeBand();
        rest.remove_prefix(std::min(fit - indent, rest.size()));
        first = false;
    } while (rest.find_first_not_of(' ') != std::string_view::npos);
    return true;
}

void TagTxtCvtFax::EncodeBand() {
    uint8_t* band = draw_->Band();
    for (int r = 0; r < 16; ++r)
        cvt_->EncodeLine(band + r * DrawMem::kRowBytes, DrawMem::kRowBytes, fax_.get());
    memset(band, 0, DrawMem::kRowBytes);
    cvt_->EncodeLine(band, DrawMem::kRowBytes, fax_.get());
}

void TagTxtCvtFax::Finish() {
    if (finished_) return;
    finished_ = true;
    if (fax_ && cvt_) cvt_->Close(fax_);
    fax_.Close();
    text_.Close();
}

} // namespace zz
