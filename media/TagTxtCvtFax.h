#pragma once
// A plain text file turned into one fax page (TIFF or "BIT  FAX"), done in the constructor.
#include "media/DrawMem.h"
#include "media/TagCvtFax.h"

#include <cstdio>
#include <memory>
#include <string>

namespace zz {

class TagTxtCvtFax {
public:
    // Result codes.
    static constexpr int kDone = 0, kNoCodeTable = -1, kNoFonts = -2, kFileFailed = -3;
    // Text kinds.
    static constexpr int kRefused = 0, kAnsi = 1, kUtf16 = 2, kUtf8 = 3;

    TagTxtCvtFax(const std::string& directory, const std::string& textFile, const std::string& faxFile);
    ~TagTxtCvtFax();
    TagTxtCvtFax(const TagTxtCvtFax&) = delete;
    TagTxtCvtFax& operator=(const TagTxtCvtFax&) = delete;

    int Result() const { return result_; }
    int TextKind() const { return textKind_; }

    static int DetectTextKind(const unsigned char* head, size_t length);

private:
    int Open(const std::string& textFile, const std::string& faxFile);
    bool ConvertLine(); // false at the end of the text
    void Finish();
    void EncodeBand();
    bool OpenUtf16AsGbk(); // text_ becomes the GBK form of the UTF-16 text it was

    std::unique_ptr<TagCvtFax> cvt_;
    std::unique_ptr<DrawMem> draw_;
    std::string gbkText_; // what text_ reads, for a UTF-16 text
    FileHandle text_;
    int textKind_ = kAnsi;
    FileHandle fax_;
    int result_ = kDone;
    bool finished_ = false;
};

} // namespace zz
