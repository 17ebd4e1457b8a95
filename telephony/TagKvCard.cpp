#include "telephony/TagKvCard.h"

#include "platform/Gbk.h"
#include "platform/TagWriteLog.h"

#include <cstdio>
#include <cstring>

namespace zz {

TagTelLine::TagTelLine(int32_t no, TagKvCard* c) : lineNo(no), card(c) {}

TagTelLine::~TagTelLine() = default;

void TagTelLine::SetName(const char* text) {
    if (!text) return;
    std::string_view s = text;
    size_t n = GbkSafeCut(s, kNameSize - 1);
    std::memcpy(name, s.data(), n);
    name[n] = 0;
}

TagKvCard::~TagKvCard() = default;

std::unique_ptr<TagTelLine> TagKvCard::NewLine(int32_t index, int32_t lineNo, std::unique_ptr<TagKvCall> call) {
    auto line = std::make_unique<TagTelLine>(lineNo, this);
    std::string name;
    GetLineName(index, name);
    line->SetName(name.c_str());
    if (call) {
        call->lineNo = lineNo;
        call->card = this;
        call->SetName(line->name);
    }
    line->call = std::move(call);
    return line;
}

int32_t MakeDriverLines(TagKvCard* card, std::vector<std::unique_ptr<TagTelLine>>& table) {
    if (!card) return 0;
    int32_t added = 0;
    for (int32_t i = 0; i < card->lineCount; ++i) {
        int32_t n = int32_t(table.size());
        std::unique_ptr<TagTelLine> line = card->MakeLine(i, n);
        if (!line || !line->call) {
            char text[96];
            std::snprintf(text, sizeof text, "MakeLine(%d, %d): no line made, channel skipped.", i, n);
            WriteRunLogAlways(text);
            continue;
        }
        table.push_back(std::move(line));
        ++added;
    }
    return added;
}

} // namespace zz
