#pragma once
// ACD queues: named groups of waiting work (typically calls waiting for an agent). A group is a message list with
// the time it was last used and the line that owns it; it exists while it holds records. Caller lines send into a
// group by name; agent lines read from the group that has waited longest among those no other line owns, and
// take records that match a field.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "builtins/services/TagMsgList.h"

namespace zz {

struct TagAcdGroupNode {
    TagMsgList list;
    uint32_t lastUse = 0; // tick of creation, last Send, last Read that chose it, last Recv that took from it
    int32_t owner = -1;   // the line that last read or took from it; -1 nobody
};

// Every operation holds the ACD lock for its whole run, and takes a group's list lock inside it, never the other
// way round. Groups are walked by name in byte order.
class TagAcdList {
public:
    // Into the group of that name, made when missing: the group's record count after the Add.
    int32_t Send(const std::string& name, const TagMsgFields& rec);
    // The group's record count, 0 when there is none.
    int32_t Num(const std::string& name);
    // The group used least recently (strictly before now) among those not owned by another line becomes line's;
    // its first record is copied into out: 1, or 0 when no group is chosen.
    int32_t Read(int32_t line, TagMsgFields& out);
    // Takes from the first group with a record whose field column equals value; that group becomes line's and is
    // deleted once empty: 1, or 0 when none has such a record.
    int32_t Recv(int32_t line, int32_t column, const TagVar& value, TagMsgFields& out);
    // The list's Write on each group until one finds a record: 1, else 0.
    int32_t Write(int32_t mode, const TagVar& value, int32_t column, const TagVar& newValue);
    // Removes the records whose field column equals value from the first group that has any (deleted once
    // empty): 1, else 0.
    int32_t Clear(int32_t column, const TagVar& value);

private:
    std::mutex lock_;
    std::map<std::string, std::unique_ptr<TagAcdGroupNode>> groups_;
};

TagAcdList& ProcessAcdList();

} // namespace zz
