#pragma once
// The fax fonts (asc16, hzk16, hzk16f read back to back into one 1 MiB block) and the drawing of one text line
// into a band of 16 scan lines.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zz {

class DrawMem {
public:
    static constexpr size_t kFontMemory = 1048576;
    static constexpr int kPageWidth = 1728;
    static constexpr int kRowBytes = 216;
    static constexpr int kBandRows = 32;

    explicit DrawMem(const std::string& fontDirectory);
    ~DrawMem();
    DrawMem(const DrawMem&) = delete;
    DrawMem& operator=(const DrawMem&) = delete;

    bool LoadFonts();
    bool LoadFontFile(const std::string& fileName);
    // Draws the line into the first 16 scan lines of the band; returns the pen position after the last glyph.
    int DrawTextLine(std::string_view text, int x, int y);
    // The same for text already in GBK, with the Big5 font or the ordinary one.
    int DrawGbkLine(std::string_view gbk, int x, int y, bool big5Font);
    // Length of the longest prefix of the GBK text that, drawn from pen x, ends inside the page and between
    // two glyphs.
    static size_t FitBytes(std::string_view gbk, int x);

    int Status() const { return status_; }
    const uint8_t* Band() const { return band_.get(); }
    uint8_t* Band() { return band_.get(); }

private:
    void DrawGlyph(size_t start, size_t fontEnd, size_t index, int bytesPerRow, int pen);

    std::unique_ptr<uint8_t[]> fonts_;
    size_t hzkInUse_ = 0;
    size_t hzk16_ = 0, hzk16f_ = 0, asc16_ = 0;
    size_t hzk16End_ = 0, hzk16fEnd_ = 0, asc16End_ = 0; // where each font's bytes end in the block
    int lastX_ = 0, lastY_ = 0;
    int originX_ = 0, originY_ = 0;
    int width_ = kPageWidth;
    std::string fontDir_;
    int status_ = 0;
    size_t used_ = 0;
    std::unique_ptr<uint8_t[]> band_;
};

} // namespace zz
