#include "media/TagCvtFax.h"

#include "platform/Gbk.h"
#include "platform/PathMap.h"

#include "media/VocIo.h"
#include <cstring>
#include <new>

namespace zz {

namespace {

constexpr int kCodeBytes = 200; // the part of the buffer the coder uses
constexpr int kFlushBits = 1280;

std::string JoinDir(const std::string& dir, const char* name) {
    if (dir.empty() || dir.back() == '\\' || dir.back() == '/') return dir + name;
    return dir + "\\" + name;
}

long FileLength(FILE* f) {
    fflush(f);
    long here = ftell(f);
    fseek(f, 0, SEEK_END);
    long len = ftell(f);
    fseek(f, here, SEEK_SET);
    return len;
}

bool CodeUsable(const FaxCode& c) {
    return c.whiteLen <= 16 && c.blackLen <= 16;
}

} // namespace

TagCvtFax::TagCvtFax(const std::string& directory) {
    std::string path = ResolvePath(JoinDir(directory, "huffman.cod"));
    FileHandle file = FileHandle::Open(path.c_str(), "rb");
    FILE* f = file.get();
    if (!f) {
        status_ = -1;
        return;
    }
    uint8_t head[2];
    bool ok = fread(head, 1, 2, f) == 2;
    int count = head[0] | head[1] << 8;
    // A table too short for every run length, or with codes longer than their 16 bytes, would make the coder
    // read past it: refuse it like a missing one.
    ok = ok && count >= kMinCodes;
    if (ok) {
        table_.reset(new (std::nothrow) FaxCode[size_t(count)]);
        if (!table_) {
            status_ = -2;
            return;
        }
        ok = fread(table_.get(), sizeof(FaxCode), size_t(count), f) == size_t(count) &&
             fread(&eol_, sizeof(FaxCode), 1, f) == 1;
    }
    for (int i = 0; ok && i < kMinCodes; ++i)
        ok = CodeUsable(table_[i]);
    ok = ok && eol_.whiteLen >= 1 && eol_.whiteLen <= 16;
    if (!ok) {
        table_.reset();
        status_ = -1;
    }
}

TagCvtFax::~TagCvtFax() = default;

FileHandle TagCvtFax::Open(const std::string& fileName) {
    lineCount_ = 0;
    isTiff_ = GbkUpper(std::string_view(fileName).substr(0, 256)).find(".TIF") != std::string::npos;
    FileHandle file = FileHandle::Open(ResolvePath(fileName).c_str(), "w+b");
    FILE* f = file.get();
    if (!f) return file;
    if (isTiff_) {
        WriteTiffHead(f);
    } else {
        uint8_t zeros[kFaxDataOffset] = {};
        fwrite(zeros, 1, sizeof zeros, f);
    }
    static const uint8_t eol[2] = {0x00, 0x80};
    fwrite(eol, 1, 2, f);
    return file;
}

int TagCvtFax::WriteTiffHead(FILE* file) {
    uint8_t head[kTiffDataOffset] = {'I', 'I', 42, 0};
    voc::PutLe32(head + 4, 24);
    voc::PutLe32(head + 8, 204);
    voc::PutLe32(head + 12, 1);
    voc::PutLe32(head + 16, 196);
    voc::PutLe32(head + 20, 1);
    fwrite(head, 1, sizeof head, file);
    return kTiffDataOffset;
}

void TagCvtFax::PutBits(const uint8_t* bits, int count) {
    for (int i = 0; i < count; ++i, ++bitPos_)
        if (bits[i]) buffer_[bitPos_ / 8] |= uint8_t(1u << (bitPos_ % 8));
}

void TagCvtFax::FlushFull(FILE* file) {
    if (bitPos_ < kFlushBits) return;
    fwrite(buffer_, 1, kFlushBits / 8, file);
    memmove(buffer_, buffer_ + kFlushBits / 8, kCodeBytes - kFlushBits / 8);
    memset(buffer_ + kCodeBytes - kFlushBits / 8, 0, kFlushBits / 8);
    bitPos_ -= kFlushBits;
}

void TagCvtFax::EmitRun(int run, bool black, FILE* file) {
    if (run > 63) {
        const FaxCode& m = table_[63 + run / 64];
        PutBits(black ? m.black : m.white, black ? m.blackLen : m.whiteLen);
        run %= 64;
    }
    const FaxCode& t = table_[run];
    PutBits(black ? t.black : t.white, black ? t.blackLen : t.whiteLen);
    FlushFull(file);
}

int TagCvtFax::EncodeLine(const uint8_t* line, int length, FILE* file) {
    if (!table_ || !file) return -1;
    uint8_t pixels[kLineBytes] = {};
    if (line && length > 0) memcpy(pixels, line, size_t(length < kLineBytes ? length : kLineBytes));
    memset(buffer_, 0, sizeof buffer_);
    bitPos_ = 0;
    bool black = false;
    int run = 0;
    for (int x = 0; x < kLineBytes * 8; ++x) {
        bool px = (pixels[x / 8] >> (7 - x % 8)) & 1;
        if (px == black) {
            ++run;
            continue;
        }
        EmitRun(run, black, file);
        black = px;
        run = 1;
    }
    EmitRun(run, black, file);
    bitPos_ += (12 - bitPos_ % 8) % 8;
    if (bitPos_ < 184) bitPos_ += (184 - bitPos_) / 8 * 8;
    PutBits(eol_.white, eol_.whiteLen);
    if (bitPos_ % 8 != 0) return 5;
    fwrite(buffer_, 1, size_t(bitPos_ / 8), file);
    ++lineCount_;
    return 0;
}

void TagCvtFax::Close(FileHandle& handle) {
    FILE* file = handle.get();
    if (!file) return;
    static const uint8_t rtc[9] = {0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80};
    fwrite(rtc, 1, sizeof rtc, file);
    long length = FileLength(file);
    if (isTiff_) {
        // Filled per file from constants, so conversions on several lines share nothing they write.
        struct Entry {
            uint16_t tag, type;
            uint32_t count, value;
        };
        uint32_t strip = uint32_t(length - kTiffDataOffset);
        const Entry entries[16] = {
            {254, 4, 1, 2},  {256, 4, 1, 1728},       {257, 4, 1, lineCount_}, {258, 3, 1, 1},
            {259, 3, 1, 3},  {262, 3, 1, 0},          {266, 3, 1, 2},          {273, 4, 1, kTiffDataOffset},
            {277, 3, 1, 1},  {278, 4, 1, lineCount_}, {279, 4, 1, strip},      {282, 5, 1, 8},
            {283, 5, 1, 16}, {292, 4, 1, 4},          {296, 3, 1, 2},          {297, 3, 2, 1},
        };
        uint8_t dir[kTiffDataOffset - 24] = {};
        voc::PutLe16(dir, 16);
        for (int i = 0; i < 16; ++i) {
            uint8_t* e = dir + 2 + 12 * i;
            voc::PutLe16(e, entries[i].tag);
            voc::PutLe16(e + 2, entries[i].type);
            voc::PutLe32(e + 4, entries[i].count);
            // A SHORT value sits in the first two bytes of the field; PageNumber 1, 0 packs both there.
            if (entries[i].type == 3)
                voc::PutLe16(e + 8, entries[i].value);
            else
                voc::PutLe32(e + 8, entries[i].value);
        }
        // next directory offset 0 at 194..197, then the rationals again
        voc::PutLe32(dir + 198, 204);
        voc::PutLe32(dir + 202, 1);
        voc::PutLe32(dir + 206, 196);
        voc::PutLe32(dir + 210, 1);
        fseek(file, 24, SEEK_SET);
        fwrite(dir, 1, sizeof dir, file);
    } else {
        uint8_t head[32] = {'B', 'I', 'T', ' ', ' ', 'F', 'A', 'X', 0x30, 0x01};
        voc::PutLe32(head + 20, uint32_t(length - kFaxDataOffset));
        voc::PutLe32(head + 24, kFaxDataOffset);
        fseek(file, 0, SEEK_SET);
        fwrite(head, 1, sizeof head, file);
    }
    handle.Close();
}

} // namespace zz
