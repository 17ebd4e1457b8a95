#pragma once
// Conference rooms by name, shared by every line: the first line that joins a name makes its driver create a
// conference session, later lines join that session, and the last one to leave closes it. The registry only
// keeps the rooms and their members; the call object's conference operations (TagNameConf.cpp) pair it with the
// driver's session operations, holding the registry's lock across the driver calls of a join, a recording and
// a channel recording.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace zz {

// One member line of a room.
struct TagMeetCh {
    int32_t mediaChannel = 0; // taken from the call object when it joined
    int32_t listen = 0;       // 1: hears the room, is not heard
    int32_t recHandle = 0;    // recording of the member's channel, 0 none
    uint32_t recStart = 0;    // tick at which that recording started
};

struct TagMeetRoom {
    std::string name;
    int32_t session = 0;                  // the driver's session (card group or media session)
    int32_t recHandle = 0;                // the room's recording, 0 none
    int32_t playHandle = 0;               // the room's play, 0 none
    int32_t kind = 0;                     // what the creating driver said: passed back with every session operation
    std::map<int32_t, TagMeetCh> members; // by line number
};

// What RemoveLine found of the line's room; every field 0 when the line was in no room.
struct TagRoomLeft {
    int32_t session = 0;
    int32_t kind = 0; // the room's kind, whether or not the room closed
    int32_t closed = 0;
    int32_t recHandle = 0;
    int32_t playHandle = 0;
    int32_t chRecHandle = 0;
};

class TagNameConfCtrl {
public:
    TagNameConfCtrl() = default;
    TagNameConfCtrl(const TagNameConfCtrl&) = delete;
    TagNameConfCtrl& operator=(const TagNameConfCtrl&) = delete;

    void Lock() { lock_.lock(); }
    void Unlock() { lock_.unlock(); }

    // The rest, unless said otherwise, is called with the lock held.
    // 1 with the room's kind and session, or 0 (session 0).
    int32_t FindRoomSession(const std::string& name, int32_t& kind, int32_t& session) const;
    TagMeetRoom* FindRoom(const std::string& name);
    TagMeetCh* FindMember(const std::string& name, int32_t line);
    // An existing room keeps its session, which is returned; else the room is made with the given one.
    int32_t CreateRoom(const std::string& name, int32_t session, int32_t kind);
    // -1 without a room; else the member record of the line is (re)set: 1 with the member count and session.
    int32_t AddMember(const std::string& name, int32_t line, int32_t listen, int32_t mediaChannel, int32_t& count,
                      int32_t& session);
    // Takes the lock itself. 1 with the listen flag, room name and session of the first room (in name order)
    // holding the line, else 0.
    int32_t FindLineRoom(int32_t line, int32_t& listen, std::string& name, int32_t& session);
    // Takes the line out of the first room (in name order) holding it; a room left empty is deleted. Returns 1.
    int32_t RemoveLine(int32_t line, TagRoomLeft& left);
    // 1 when the room was removed, else 0.
    int32_t DeleteRoom(const std::string& name);
    // Takes the lock itself. The member count and each member's listen flag by line (0 and none: no room).
    int32_t GetMembers(const std::string& name, std::map<int32_t, int32_t>& members);

private:
    // Recursive: a line taking its media down leaves its room, also from within a room operation of its own.
    std::recursive_mutex lock_;
    std::map<std::string, std::unique_ptr<TagMeetRoom>> rooms_; // std::string compares as bytes
};

// The rooms of the line manager in force; a registry of the process's own while there is none (a script run by
// itself), so that the operations behave alike.
TagNameConfCtrl& NameConfs();

} // namespace zz
