#include "TestFiles.h"
#include "media/DrawMem.h"
#include "media/TagCvtFax.h"
#include "media/TagTxtCvtFax.h"
#include "platform/FileHandle.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <random>
#include <unistd.h>

using namespace zz;
using namespace zz::test;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

// Tiny fonts: every ASCII glyph is a one-pixel column at its left edge ('#' is solid), the Chinese font covers
// its first rows only and sets the last pixel of each glyph row's left byte, the Big5 font is solid.
void WriteFonts(const TempDir& dir, bool withBig5Font = true, size_t hzkRows = 2) {
    std::string asc(4096, '\0');
    for (int c = 0; c < 256; ++c)
        for (int r = 0; r < 16; ++r)
            asc[c * 16 + r] = char(c == '#' ? 0xFF : 0x80);
    WriteFile(dir / "asc16", asc);
    std::string hzk(hzkRows * 94 * 32, '\0');
    for (size_t g = 0; g < hzkRows * 94; ++g)
        for (int r = 0; r < 16; ++r)
            hzk[g * 32 + r * 2] = char(0x01);
    WriteFile(dir / "hzk16", hzk);
    if (withBig5Font) WriteFile(dir / "hzk16f", std::string(87 * 94 * 32, '\xFF'));
}

void WriteCodeTable(const TempDir& dir) {
    int rc = system((std::string(ZZ_MAKE_HUFFMAN) + " " + (dir / "huffman.cod")).c_str());
    ASSERT_EQ(rc, 0);
}

// Decodes a fax TIFF with libtiff's own tool into an uncompressed copy, then reads its rows.
Rows DecodeTiff(const TempDir& dir, const std::string& tif) {
    int status = -1;
    RunCommand("tiffcp -c none '" + tif + "' '" + (dir / "plain.tif") + "' 2>&1", &status);
    EXPECT_EQ(status, 0);
    Rows rows;
    TIFF* t = TIFFOpen((dir / "plain.tif").c_str(), "r");
    if (!t) return rows;
    uint32_t width = 0, length = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &length);
    EXPECT_EQ(width, 1728u);
    for (uint32_t y = 0; y < length; ++y) {
        std::vector<uint8_t> row(size_t(TIFFScanlineSize(t)));
        TIFFReadScanline(t, row.data(), y, 0);
        rows.push_back(row);
    }
    TIFFClose(t);
    return rows;
}

bool Pixel(const std::vector<uint8_t>& row, int x) {
    return (row[size_t(x / 8)] >> (7 - x % 8)) & 1;
}

class FaxFiles : public ::testing::Test {
protected:
    void SetUp() override {
        WriteCodeTable(dir);
        WriteFonts(dir);
    }
    TempDir dir;
};

uint32_t Le32(const std::string& s, size_t at) {
    return uint32_t((unsigned char)s[at]) | uint32_t((unsigned char)s[at + 1]) << 8 |
           uint32_t((unsigned char)s[at + 2]) << 16 | uint32_t((unsigned char)s[at + 3]) << 24;
}

} // namespace

TEST(HuffmanCodeTable, BuilderWritesTheMhTable) {
    TempDir dir;
    WriteCodeTable(dir);
    std::string cod = ReadFile(dir / "huffman.cod");
    ASSERT_EQ(cod.size(), 2u + 92 * 38);
    EXPECT_EQ(cod.substr(0, 2), Bytes({91, 0}));
    // Entry 90: the make-up code of 1728 (white 010011011, 9 bits; black 0000001100101, 13 bits).
    std::string e = cod.substr(2 + 90 * 38, 38);
    EXPECT_EQ(e.substr(2, 4), Bytes({9, 0, 13, 0}));
    EXPECT_EQ(e.substr(6, 9), Bytes({0, 1, 0, 0, 1, 1, 0, 1, 1}));
    // The EOL record: 000000000001 in its white half.
    std::string eol = cod.substr(2 + 91 * 38, 38);
    EXPECT_EQ(eol.substr(2, 2), Bytes({12, 0}));
    EXPECT_EQ(eol.substr(6, 12), std::string(11, '\0') + '\1');
}

TEST_F(FaxFiles, WhiteScanLineCodesAsMakeUp1728AndWhiteZero) {
    TagCvtFax cvt(dir.Path());
    ASSERT_EQ(cvt.Status(), 0);
    FileHandle fh = cvt.Open(dir / "w.fax");
    FILE* f = fh.get();
    ASSERT_NE(f, nullptr);
    long before = ftell(f);
    uint8_t white[216] = {};
    EXPECT_EQ(cvt.EncodeLine(white, 216, f), 0);
    // A short line is padded with white and codes the same.
    EXPECT_EQ(cvt.EncodeLine(white, 10, f), 0);
    long after = ftell(f);
    cvt.Close(fh);
    std::string expected = Bytes({0xB2, 0x59, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80});
    std::string data = ReadFile(dir / "w.fax");
    EXPECT_EQ(after - before, 48);
    EXPECT_EQ(data.substr(size_t(before), 24), expected);
    EXPECT_EQ(data.substr(size_t(before) + 24, 24), expected);
    EXPECT_EQ(cvt.LineCount(), 2u);
}

TEST_F(FaxFiles, LineStartingBlackBeginsWithWhiteZero) {
    TagCvtFax cvt(dir.Path());
    FileHandle fh = cvt.Open(dir / "b.fax");
    FILE* f = fh.get();
    uint8_t line[216] = {0x80};
    ASSERT_EQ(cvt.EncodeLine(line, 216, f), 0);
    cvt.Close(fh);
    std::string data = ReadFile(dir / "b.fax");
    // white 0 = 00110101, first bit in the lowest bit of the byte
    EXPECT_EQ((unsigned char)data[2050], 0xAC);
}

TEST_F(FaxFiles, EmptyTextGivesHeadEolAndReturnToControl) {
    WriteFile(dir / "empty.txt", "");
    {
        TagTxtCvtFax conv(dir.Path(), dir / "empty.txt", dir / "page.tif");
        EXPECT_EQ(conv.Result(), 0);
    }
    std::string tif = ReadFile(dir / "page.tif");
    std::string expected =
        Bytes({'I', 'I', 42, 0, 24, 0, 0, 0, 204, 0, 0, 0, 1, 0, 0, 0, 196, 0, 0, 0, 1, 0, 0, 0, 16, 0});
    const uint32_t entries[16][4] = {{254, 4, 1, 2},  {256, 4, 1, 1728}, {257, 4, 1, 0},  {258, 3, 1, 1},
                                     {259, 3, 1, 3},  {262, 3, 1, 0},    {266, 3, 1, 2},  {273, 4, 1, 238},
                                     {277, 3, 1, 1},  {278, 4, 1, 0},    {279, 4, 1, 11}, {282, 5, 1, 8},
                                     {283, 5, 1, 16}, {292, 4, 1, 4},    {296, 3, 1, 2},  {297, 3, 2, 1}};
    for (auto& e : entries)
        expected += Bytes({int(e[0] & 0xFF), int(e[0] >> 8), int(e[1]), 0, int(e[2]), 0, 0, 0, int(e[3] & 0xFF),
                           int(e[3] >> 8), 0, 0});
    expected += Bytes({0, 0, 0, 0, 204, 0, 0, 0, 1, 0, 0, 0, 196, 0, 0, 0, 1, 0, 0, 0});
    expected += Bytes({0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80});
    EXPECT_EQ(tif, expected);

    {
        TagTxtCvtFax conv(dir.Path(), dir / "empty.txt", dir / "page.fax");
        EXPECT_EQ(conv.Result(), 0);
    }
    std::string fax = ReadFile(dir / "page.fax");
    std::string head = Bytes(
        {'B', 'I', 'T', ' ', ' ', 'F', 'A', 'X', 0x30, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11, 0, 0, 0, 0, 8, 0, 0});
    ASSERT_EQ(fax.size(), 2048u + 11);
    EXPECT_EQ(fax.substr(0, head.size()), head);
    EXPECT_EQ(fax.substr(head.size(), 2048 - head.size()), std::string(2048 - head.size(), '\0'));
    EXPECT_EQ(fax.substr(2048), expected.substr(238));
}

TEST_F(FaxFiles, TiffIsChosenByUpperCasedName) {
    WriteFile(dir / "t.txt", "x\n");
    for (const char* name : {"page.tif", "PAGE.TIFF", "a.Tif.old"}) {
        TagTxtCvtFax conv(dir.Path(), dir / "t.txt", dir / name);
        ASSERT_EQ(conv.Result(), 0);
        EXPECT_EQ(ReadFile(dir / name).substr(0, 2), "II") << name;
    }
    TagTxtCvtFax conv(dir.Path(), dir / "t.txt", dir / "page.fax");
    EXPECT_EQ(ReadFile(dir / "page.fax").substr(0, 8), "BIT  FAX");
}

TEST_F(FaxFiles, LibtiffDecodesThePixelsDrawn) {
    WriteFile(dir / "t.txt", "A#\n\n\tB\r\n" + Bytes({0xA1, 0xA1, 0xB1, 0xA1, '\n'}));
    TagTxtCvtFax conv(dir.Path(), dir / "t.txt", dir / "page.tif");
    ASSERT_EQ(conv.Result(), 0);
    std::string info = RunCommand("tiffinfo '" + (dir / "page.tif") + "' 2>&1");
    EXPECT_NE(info.find("Image Width: 1728 Image Length: 68"), std::string::npos) << info;
    EXPECT_NE(info.find("CCITT Group 3"), std::string::npos) << info;
    EXPECT_NE(info.find("lsb-to-msb"), std::string::npos) << info;
    Rows rows = DecodeTiff(dir, dir / "page.tif");
    ASSERT_EQ(rows.size(), 68u);

    // Redraw each line with the same fonts and compare the decoded bands with it.
    DrawMem draw(dir.Path());
    const std::string lines[4] = {"     A#", "     ", "         B", "     " + Bytes({0xA1, 0xA1, 0xB1, 0xA1})};
    for (int l = 0; l < 4; ++l) {
        draw.DrawTextLine(lines[l], 40, 0);
        for (int r = 0; r < 16; ++r)
            ASSERT_EQ(0, memcmp(rows[size_t(l * 17 + r)].data(), draw.Band() + r * 216, 216)) << l << "/" << r;
        EXPECT_EQ(rows[size_t(l * 17 + 16)], std::vector<uint8_t>(216, 0));
    }
    // Independently: 'A' after five spaces at x = 40 is a two-pixel column at 120; '#' fills 136..151.
    EXPECT_TRUE(Pixel(rows[0], 120) && Pixel(rows[0], 121) && !Pixel(rows[0], 122) && !Pixel(rows[0], 119));
    for (int x = 136; x < 152; ++x)
        EXPECT_TRUE(Pixel(rows[15], x)) << x;
    EXPECT_FALSE(Pixel(rows[15], 152));
    // A tab is four columns: 'B' stands at 40 + 9 x 16.
    EXPECT_TRUE(Pixel(rows[2 * 17 + 3], 184));
    EXPECT_FALSE(Pixel(rows[2 * 17 + 3], 183));
    // Chinese glyph of row 0 at 120 (its bit 0 doubled at 134, 135); row B1 lies beyond the small font: blank.
    EXPECT_TRUE(Pixel(rows[3 * 17], 134) && Pixel(rows[3 * 17], 135));
    for (int x = 152; x < 184; ++x)
        EXPECT_FALSE(Pixel(rows[3 * 17], x)) << x;
}

TEST_F(FaxFiles, FaxFileCarriesTheSameCodedImage) {
    WriteFile(dir / "t.txt", "Hello, fax\n#### ####\n");
    TagTxtCvtFax a(dir.Path(), dir / "t.txt", dir / "p.tif");
    TagTxtCvtFax b(dir.Path(), dir / "t.txt", dir / "p.fax");
    std::string tif = ReadFile(dir / "p.tif"), fax = ReadFile(dir / "p.fax");
    EXPECT_EQ(tif.substr(238), fax.substr(2048));
    EXPECT_EQ(Le32(fax, 20), fax.size() - 2048);
    EXPECT_EQ(Le32(tif, 24 + 2 + 10 * 12 + 8), tif.size() - 238); // StripByteCounts
}

TEST_F(FaxFiles, EveryRunLengthDecodesBack) {
    // Random scan lines with runs of every length, through the coder and libtiff's decoder.
    std::mt19937 rng(7);
    Rows lines;
    for (int n = 0; n < 200; ++n) {
        std::vector<uint8_t> line(216, 0);
        int x = 0;
        bool black = n % 2;
        int maxRun = n < 100 ? 70 : 1728;
        while (x < 1728) {
            int run = int(rng() % unsigned(maxRun)) + 1;
            if (black)
                for (int i = x; i < std::min(1728, x + run); ++i)
                    line[size_t(i / 8)] |= uint8_t(0x80 >> (i % 8));
            x += run;
            black = !black;
        }
        lines.push_back(line);
    }
    lines.push_back(std::vector<uint8_t>(216, 0xFF));
    TagCvtFax cvt(dir.Path());
    FileHandle fh = cvt.Open(dir / "runs.tif");
    FILE* f = fh.get();
    for (auto& l : lines)
        ASSERT_EQ(cvt.EncodeLine(l.data(), 216, f), 0);
    cvt.Close(fh);
    Rows rows = DecodeTiff(dir, dir / "runs.tif");
    ASSERT_EQ(rows.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(rows[i], lines[i]) << "line " << i;
}

TEST(FaxCodeTableFaults, BadTablesAreRefused) {
    TempDir dir;
    EXPECT_EQ(TagCvtFax(dir.Path()).Status(), -1); // missing
    WriteCodeTable(dir);
    std::string good = ReadFile(dir / "huffman.cod");
    auto statusOf = [&](const std::string& bytes) {
        WriteFile(dir / "huffman.cod", bytes);
        return TagCvtFax(dir.Path()).Status();
    };
    EXPECT_EQ(statusOf(good), 0);
    std::string fewer = good;
    fewer[0] = 90; // too few codes for a 1728-pixel line
    EXPECT_EQ(statusOf(fewer), -1);
    EXPECT_EQ(statusOf(good.substr(0, good.size() - 1)), -1);      // truncated
    EXPECT_EQ(statusOf(Bytes({0xFF, 0xFF}) + good.substr(2)), -1); // count beyond the file
    std::string longCode = good;
    longCode[2 + 5 * 38 + 2] = 17; // white code longer than its 16 bytes
    EXPECT_EQ(statusOf(longCode), -1);
    std::string longEol = good;
    longEol[2 + 91 * 38 + 2] = 40;
    EXPECT_EQ(statusOf(longEol), -1);

    WriteFonts(dir);
    WriteFile(dir / "huffman.cod", fewer);
    WriteFile(dir / "t.txt", "x\n");
    EXPECT_EQ(TagTxtCvtFax(dir.Path(), dir / "t.txt", dir / "p.tif").Result(), -1);
}

TEST(FaxCodeTableFaults, EolThatCannotEndOnAByteIsDropped) {
    TempDir dir;
    WriteCodeTable(dir);
    std::string cod = ReadFile(dir / "huffman.cod");
    cod[2 + 91 * 38 + 2] = 13;
    WriteFile(dir / "huffman.cod", cod);
    TagCvtFax cvt(dir.Path());
    ASSERT_EQ(cvt.Status(), 0);
    FileHandle fh = cvt.Open(dir / "p.fax");
    FILE* f = fh.get();
    uint8_t white[216] = {};
    EXPECT_EQ(cvt.EncodeLine(white, 216, f), 5);
    EXPECT_EQ(cvt.LineCount(), 0u);
    cvt.Close(fh);
    EXPECT_EQ(ReadFile(dir / "p.fax").size(), 2048u + 11);
}

TEST(FaxFontFaults, MissingOrOversizedFontsAreRefused) {
    TempDir dir;
    WriteCodeTable(dir);
    WriteFile(dir / "t.txt", "x\n");
    EXPECT_EQ(TagTxtCvtFax(dir.Path(), dir / "t.txt", dir / "p.tif").Result(), -2);
    WriteFonts(dir);
    std::filesystem::remove(dir / "asc16");
    EXPECT_EQ(DrawMem(dir.Path()).Status(), -1);
    WriteFonts(dir);
    WriteFile(dir / "hzk16", std::string(DrawMem::kFontMemory, '\0'));
    EXPECT_EQ(DrawMem(dir.Path()).Status(), -1);
    EXPECT_EQ(TagTxtCvtFax(dir.Path(), dir / "t.txt", dir / "p.tif").Result(), -2);
    // An oversized optional Big5 font is left out; the ordinary one serves instead.
    WriteFonts(dir);
    WriteFile(dir / "hzk16f", std::string(DrawMem::kFontMemory, '\xFF'));
    EXPECT_EQ(DrawMem(dir.Path()).Status(), 0);
}

TEST(FaxFontFaults, GlyphsBeyondTheFontStayBlank) {
    TempDir dir;
    WriteFonts(dir, false, 1);
    WriteFile(dir / "asc16", std::string(16 * 0x41, '\xFF')); // glyphs below 'A' only
    DrawMem draw(dir.Path());
    ASSERT_EQ(draw.Status(), 0);
    EXPECT_EQ(draw.DrawTextLine("A" + Bytes({0xFE, 0xFE, 0xFF, 0xA1}), 0, 0), 80);
    for (int r = 0; r < 16; ++r)
        EXPECT_EQ(std::string((const char*)draw.Band() + r * 216, 216), std::string(216, '\0'));
    EXPECT_EQ(draw.DrawTextLine("@", 0, 0), 16);
    EXPECT_EQ(draw.Band()[0], 0xFF);
    EXPECT_EQ(draw.Band()[1], 0xFF);
}

TEST(FaxFontFaults, LongLinesAreClippedAtThePageEdge) {
    TempDir dir;
    WriteFonts(dir);
    DrawMem draw(dir.Path());
    std::string line(220, '#');
    EXPECT_EQ(draw.DrawTextLine(line, 40, 0), 40 + 220 * 16);
    for (int r = 0; r < 16; ++r) {
        EXPECT_EQ(draw.Band()[r * 216 + 4], 0x00);
        EXPECT_EQ(draw.Band()[r * 216 + 5], 0xFF);
        EXPECT_EQ(draw.Band()[r * 216 + 215], 0xFF);
    }
    for (int i = 16 * 216; i < 32 * 216; ++i)
        ASSERT_EQ(draw.Band()[i], 0) << i;
}

TEST_F(FaxFiles, Big5LinesUseTheBig5Font) {
    std::string big5;
    {
        // 成功 in Big5: A6 A8 A5 5C
        big5 = Bytes({0xA6, 0xA8, 0xA5, 0x5C});
    }
    WriteFonts(dir, true, 87);
    DrawMem draw(dir.Path());
    draw.DrawTextLine(big5, 0, 0);
    EXPECT_EQ(draw.Band()[0], 0xFF); // the solid Big5 font
    draw.DrawTextLine(Bytes({0xB3, 0xC9}), 0, 0);
    EXPECT_EQ(draw.Band()[0], 0x00); // hzk16's glyph: one doubled pixel at 14
    EXPECT_EQ(draw.Band()[1], 0x03);
    WriteFonts(dir, false, 87);
    std::filesystem::remove(dir / "hzk16f");
    DrawMem plain(dir.Path());
    plain.DrawTextLine(big5, 0, 0);
    EXPECT_EQ(plain.Band()[1], 0x03); // falls back to hzk16
}

TEST_F(FaxFiles, RefusedAndUnreadableTexts) {
    WriteFile(dir / "ctl.txt", "abc" + Bytes({0x85}) + "def\n");
    EXPECT_EQ(TagTxtCvtFax(dir.Path(), dir / "ctl.txt", dir / "p.tif").Result(), -3);
    WriteFile(dir / "u8.txt", Bytes({0xEF, 0xBB, 0xBF}) + "abc\n");
    EXPECT_EQ(TagTxtCvtFax(dir.Path(), dir / "u8.txt", dir / "p.tif").Result(), -3);
    EXPECT_EQ(TagTxtCvtFax(dir.Path(), dir / "none.txt", dir / "p.tif").Result(), -3);
    WriteFile(dir / "ok.txt", "abc\n");
    EXPECT_EQ(TagTxtCvtFax(dir.Path(), dir / "ok.txt", dir / "no/such/dir/p.tif").Result(), -3);
    // A control byte after the first 80 bytes is not looked at.
    WriteFile(dir / "late.txt", std::string(80, 'a') + Bytes({0x85}) + "\n");
    EXPECT_EQ(TagTxtCvtFax(dir.Path(), dir / "late.txt", dir / "p.tif").Result(), 0);
}

TEST_F(FaxFiles, Utf16TextIsConvertedWhole) {
    // "AB" and 啊 (U+554A, GBK B0 A1): the zero bytes of UTF-16 do not end the text.
    WriteFile(dir / "u16.txt", Bytes({0xFF, 0xFE, 'A', 0, 'B', 0, 0x4A, 0x55, '\n', 0, 'C', 0, '\n', 0}));
    WriteFile(dir / "gbk.txt", "AB" + Bytes({0xB0, 0xA1}) + "\nC\n");
    // A link planted where a temporary file could have been foreseen is left alone.
    WriteFile(dir / "victim", "keep");
    ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / "u16.txt.tmp").c_str()), 0);
    TagTxtCvtFax conv(dir.Path(), dir / "u16.txt", dir / "p.tif");
    ASSERT_EQ(conv.Result(), 0);
    EXPECT_EQ(conv.TextKind(), TagTxtCvtFax::kUtf16);
    EXPECT_EQ(ReadFile(dir / "victim"), "keep");
    ASSERT_EQ(TagTxtCvtFax(dir.Path(), dir / "gbk.txt", dir / "q.tif").Result(), 0);
    EXPECT_EQ(ReadFile(dir / "p.tif"), ReadFile(dir / "q.tif"));
    EXPECT_EQ(DecodeTiff(dir, dir / "p.tif").size(), 34u);
}

TEST(FaxFontBuilder, UnifontGlyphsAtGb2312Positions) {
    TempDir dir;
    ASSERT_EQ(system((std::string(ZZ_MAKE_FONTS) + " " + dir.Path()).c_str()), 0);
    std::string asc = ReadFile(dir / "asc16"), hzk = ReadFile(dir / "hzk16"), hzkf = ReadFile(dir / "hzk16f");
    ASSERT_EQ(asc.size(), 4096u);
    ASSERT_EQ(hzk.size(), 87u * 94 * 32);
    ASSERT_EQ(hzkf.size(), hzk.size());
    // Unifont: 0041:0000000018242442427E424242420000, 554A (GB2312 B0A1) and 4E2D (D6D0).
    EXPECT_EQ(asc.substr(0x41 * 16, 16),
              Bytes({0, 0, 0, 0, 0x18, 0x24, 0x24, 0x42, 0x42, 0x7E, 0x42, 0x42, 0x42, 0x42, 0, 0}));
    auto glyph = [](const std::string& font, int lead, int trail) {
        return font.substr(size_t(((lead - 0xA1) * 94 + (trail - 0xA1)) * 32), 32);
    };
    EXPECT_EQ(glyph(hzk, 0xD6, 0xD0),
              Bytes({0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x3F, 0xF8, 0x21, 0x08, 0x21, 0x08, 0x21, 0x08,
                     0x21, 0x08, 0x21, 0x08, 0x3F, 0xF8, 0x21, 0x08, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00}));
    // 中 has no other form; 国 (B9FA) is drawn as 國 in the Big5 font.
    EXPECT_EQ(glyph(hzkf, 0xD6, 0xD0), glyph(hzk, 0xD6, 0xD0));
    EXPECT_NE(glyph(hzkf, 0xB9, 0xFA), glyph(hzk, 0xB9, 0xFA));
    // Real fonts and code table through a whole conversion, decoded by libtiff.
    WriteCodeTable(dir);
    WriteFile(dir / "t.txt", "Fax 中文\n");
    ASSERT_EQ(TagTxtCvtFax(dir.Path(), dir / "t.txt", dir / "p.tif").Result(), 0);
    Rows rows = DecodeTiff(dir, dir / "p.tif");
    ASSERT_EQ(rows.size(), 17u);
    DrawMem draw(dir.Path());
    draw.DrawTextLine("     Fax 中文", 40, 0);
    for (int r = 0; r < 16; ++r)
        EXPECT_EQ(0, memcmp(rows[size_t(r)].data(), draw.Band() + r * 216, 216)) << r;
}

TEST_F(FaxFiles, WideLinesGoOnInFurtherBands) {
    WriteFonts(dir, true, 87);
    std::string big5 = Bytes({0xA5, 0x5C}); // 功: the only character with a low trail byte
    for (int i = 0; i < 59; ++i)
        big5 += Bytes({0xA6, 0xA8});
    WriteFile(dir / "t.txt", std::string(150, '#') + "\n" + big5 + "\n");
    ASSERT_EQ(TagTxtCvtFax(dir.Path(), dir / "t.txt", dir / "p.tif").Result(), 0);
    Rows rows = DecodeTiff(dir, dir / "p.tif");
    ASSERT_EQ(rows.size(), 4u * 17);
    // 5 spaces and 100 columns fill the first band up to pixel 1720; the other 50 follow after 5 spaces.
    EXPECT_TRUE(Pixel(rows[0], 120) && Pixel(rows[0], 1719));
    EXPECT_FALSE(Pixel(rows[0], 119) || Pixel(rows[0], 1720));
    EXPECT_TRUE(Pixel(rows[17], 120) && Pixel(rows[17], 120 + 50 * 16 - 1));
    EXPECT_FALSE(Pixel(rows[17], 120 + 50 * 16));
    // 50 Chinese characters a band, all drawn with the Big5 font, the second band too.
    for (int x = 120; x < 120 + 50 * 32; ++x)
        ASSERT_TRUE(Pixel(rows[2 * 17 + 5], x)) << x;
    for (int x = 120; x < 120 + 10 * 32; ++x)
        ASSERT_TRUE(Pixel(rows[3 * 17 + 5], x)) << x;
    EXPECT_FALSE(Pixel(rows[3 * 17 + 5], 120 + 10 * 32));
}

TEST(FaxFitBytes, CutsBetweenGlyphsInsideThePage) {
    EXPECT_EQ(DrawMem::FitBytes(std::string(200, 'a'), 40), 105u);
    EXPECT_EQ(DrawMem::FitBytes(std::string(200, '\xB0'), 40), 104u); // 52 characters of 32 pixels
    // A lead byte waiting for its partner is never split from it.
    EXPECT_EQ(DrawMem::FitBytes(std::string(104, 'a') + "\xB0"
                                                        "a"
                                                        "\xA1",
                                40),
              104u);
    EXPECT_EQ(DrawMem::FitBytes("", 40), 0u);
}
