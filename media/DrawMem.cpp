#include "media/DrawMem.h"
#include "platform/FileHandle.h"

#include "media/Big5Text.h"
#include "platform/PathMap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace zz {

DrawMem::DrawMem(const std::string& fontDirectory) : fontDir_(fontDirectory.substr(0, 255)) {
    if (!fontDir_.empty() && fontDir_.back() != '\\' && fontDir_.back() != '/') fontDir_ += '\\';
    band_.reset(new (std::nothrow) uint8_t[kRowBytes * kBandRows]());
    fonts_.reset(new (std::nothrow) uint8_t[kFontMemory]());
    if (!band_ || !fonts_ || !LoadFonts()) status_ = -1;
}

DrawMem::~DrawMem() = default;

bool DrawMem::LoadFontFile(const std::string& fileName) {
    FileHandle fFile = FileHandle::Open(ResolvePath(fontDir_ + fileName).c_str(), "rb");
    FILE* f = fFile.get();
    if (!f) return false;
    size_t start = used_;
    uint8_t piece[1024];
    bool fits = true;
    for (;;) {
        size_t n = fread(piece, 1, sizeof piece, f);
        // A font that does not fit in what is left of the block is refused whole, never cut.
        if (used_ + n > kFontMemory) {
            fits = false;
            break;
        }
        memcpy(fonts_.get() + used_, piece, n);
        used_ += n;
        if (n < sizeof piece) break;
    }
    fFile.Close();
    if (!fits) used_ = start;
    return fits;
}

bool DrawMem::LoadFonts() {
    used_ = 0;
    asc16_ = used_;
    if (!LoadFontFile("asc16")) return false;
    asc16End_ = used_;
    hzk16_ = used_;
    if (!LoadFontFile("hzk16")) return false;
    hzk16End_ = used_;
    hzk16f_ = used_;
    if (LoadFontFile("hzk16f")) {
        hzk16fEnd_ = used_;
    } else {
        hzk16f_ = hzk16_;
        hzk16fEnd_ = hzk16End_;
    }
    hzkInUse_ = hzk16_;
    return true;
}

void DrawMem::DrawGlyph(size_t start, size_t fontEnd, size_t index, int bytesPerRow, int pen) {
    size_t glyphBytes = size_t(bytesPerRow) * 16;
    // A code with no glyph in the font (short font file) is left blank rather than read past the font.
    if (start + (index + 1) * glyphBytes > fontEnd) return;
    const uint8_t* glyph = fonts_.get() + start + index * glyphBytes;
    for (int r = 0; r < 16; ++r) {
        uint8_t* row = band_.get() + r * kRowBytes;
        for (int b = 0; b < bytesPerRow * 8; ++b) {
            if (!((glyph[r * bytesPerRow + b / 8] >> (7 - b % 8)) & 1)) continue;
            // Each glyph pixel is two pixels wide; pixels past the page edge are dropped, not run into the
            // next scan line.
            for (int px = pen + 2 * b; px < pen + 2 * b + 2; ++px)
                if (px >= 0 && px < width_) row[px / 8] |= uint8_t(0x80 >> (px % 8));
        }
    }
}

int DrawMem::DrawTextLine(std::string_view text, int x, int y) {
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    if (!IsBig5Text(text)) return DrawGbkLine(text, x, y, false);
    std::string converted;
    return DrawGbkLine(Big5ToGbk(converted, text), x, y, true);
}

int DrawMem::DrawGbkLine(std::string_view text, int x, int y, bool big5Font) {
    size_t hzk = big5Font ? hzk16f_ : hzk16_, hzkEnd = big5Font ? hzk16fEnd_ : hzk16End_;
    hzkInUse_ = hzk;
    memset(band_.get(), 0, size_t(kRowBytes) * 16);
    int pen = x + originX_;
    int lead = -1;
    for (char ch : text) {
        unsigned char c = (unsigned char)ch;
        if (c < 0xA1) {
            DrawGlyph(asc16_, asc16End_, c, 1, pen);
            pen += 16;
        } else if (lead < 0) {
            lead = c;
        } else {
            if (c != 0xFF && lead != 0xFF) DrawGlyph(hzk, hzkEnd, size_t(lead - 0xA1) * 94 + (c - 0xA1), 2, pen);
            pen += 32;
            lead = -1;
        }
    }
    lastX_ = pen;
    lastY_ = y + originY_;
    return pen;
}

size_t DrawMem::FitBytes(std::string_view text, int x) {
    size_t fit = 0;
    int pen = x;
    bool lead = false;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c >= 0xA1 && !lead) {
            lead = true;
            continue;
        }
        int width = c < 0xA1 ? 16 : 32;
        if (pen + width > kPageWidth) break;
        pen += width;
        if (c >= 0xA1) lead = false;
        if (!lead) fit = i + 1;
    }
    return fit;
}

} // namespace zz
