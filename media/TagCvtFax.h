#pragma once
// One-dimensional Modified Huffman (ITU-T T.4) coding of 1728-pixel scan lines into a single-page TIFF
// (compression 3, fill order 2) or the card's "BIT  FAX" file.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/FileHandle.h"

namespace zz {

// One 38-byte record of huffman.cod: lengths and codes (one byte a bit) for white and black.
struct FaxCode {
    uint16_t tag;
    uint16_t whiteLen;
    uint16_t blackLen;
    uint8_t white[16];
    uint8_t black[16];
};
static_assert(sizeof(FaxCode) == 38);

class TagCvtFax {
public:
    static constexpr int kLineBytes = 216; // 1728 pixels
    static constexpr int kMinCodes = 91;   // terminating codes 0-63 and make-up codes 64-1728
    static constexpr int kTiffDataOffset = 238;
    static constexpr int kFaxDataOffset = 2048;

    explicit TagCvtFax(const std::string& directory);
    ~TagCvtFax();
    TagCvtFax(const TagCvtFax&) = delete;
    TagCvtFax& operator=(const TagCvtFax&) = delete;

    // Creates the fax file with its head and first end-of-line; an empty handle when it cannot be created.
    FileHandle Open(const std::string& fileName);
    int EncodeLine(const uint8_t* line, int length, FILE* file);
    int WriteTiffHead(FILE* file);
    // Ends the page, fills in the head's sizes and closes the file.
    void Close(FileHandle& file);

    int Status() const { return status_; }
    uint32_t LineCount() const { return lineCount_; }
    bool IsTiff() const { return isTiff_; }

private:
    void EmitRun(int run, bool black, FILE* file);
    void PutBits(const uint8_t* bits, int count);
    void FlushFull(FILE* file);

    std::unique_ptr<FaxCode[]> table_;
    FaxCode eol_{};
    uint8_t buffer_[300]{};
    int bitPos_ = 0;
    uint32_t lineCount_ = 0;
    bool isTiff_ = false;
    int status_ = 0;
};

} // namespace zz
