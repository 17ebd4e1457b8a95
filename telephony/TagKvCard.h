#pragma once
// The interface of one line driver (card, SIP, virtual): how many channels it offers, their display names, and
// the line entry with its call object for each channel.
#include "telephony/TagTelLine.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zz {

class TagKvCard {
public:
    TagKvCard() = default;
    TagKvCard(const TagKvCard&) = delete;
    TagKvCard& operator=(const TagKvCard&) = delete;

    virtual ~TagKvCard();
    // The channel's display name into name; -1 (name empty) when the index is out of range.
    virtual int GetLineName(int32_t index, std::string& name) = 0;
    // The line entry and its call object for the channel; null when the index is out of range.
    virtual std::unique_ptr<TagTelLine> MakeLine(int32_t index, int32_t lineNo) = 0;
    // Where the driver takes calls or commands, as bound, for the start line; empty when nowhere.
    virtual std::string Listening() { return {}; }
    // Asked once a start, when some of the driver's lines run a script: why they cannot do all a line does (a
    // device that does not open), in words; empty when nothing is missing.
    virtual std::string Shortfall() { return {}; }

    int32_t status = 0;    // the driver's own start-up result
    std::string failure;   // why it did not start (status != 0), in words for the operator
    int32_t lineCount = 0; // channels offered

protected:
    // The steps every MakeLine shares: the entry for (lineNo, this), named by GetLineName, holding the call
    // object, which keeps a copy of the name.
    std::unique_ptr<TagTelLine> NewLine(int32_t index, int32_t lineNo, std::unique_ptr<TagKvCall> call);
};

// Appends one driver's lines to the table, numbering them from the table's size. A channel whose MakeLine
// gives nothing, or an entry without a call object, is refused with a log line and takes no number. Returns
// the number of lines added.
int32_t MakeDriverLines(TagKvCard* card, std::vector<std::unique_ptr<TagTelLine>>& table);

} // namespace zz
