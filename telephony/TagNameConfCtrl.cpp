#include "telephony/TagNameConfCtrl.h"

#include "telephony/TagTelDrive.h"

namespace zz {

int32_t TagNameConfCtrl::FindRoomSession(const std::string& name, int32_t& kind, int32_t& session) const {
    auto it = rooms_.find(name);
    if (it == rooms_.end()) {
        session = 0;
        return 0;
    }
    kind = it->second->kind;
    session = it->second->session;
    return 1;
}

TagMeetRoom* TagNameConfCtrl::FindRoom(const std::string& name) {
    auto it = rooms_.find(name);
    return it == rooms_.end() ? nullptr : it->second.get();
}

TagMeetCh* TagNameConfCtrl::FindMember(const std::string& name, int32_t line) {
    TagMeetRoom* room = FindRoom(name);
    if (!room) return nullptr;
    auto it = room->members.find(line);
    return it == room->members.end() ? nullptr : &it->second;
}

int32_t TagNameConfCtrl::CreateRoom(const std::string& name, int32_t session, int32_t kind) {
    if (TagMeetRoom* room = FindRoom(name)) return room->session;
    auto room = std::make_unique<TagMeetRoom>();
    room->name = name;
    room->session = session;
    room->kind = kind;
    rooms_[name] = std::move(room);
    return session;
}

int32_t TagNameConfCtrl::AddMember(const std::string& name, int32_t line, int32_t listen, int32_t mediaChannel,
                                   int32_t& count, int32_t& session) {
    TagMeetRoom* room = FindRoom(name);
    if (!room) return -1;
    TagMeetCh ch;
    ch.mediaChannel = mediaChannel;
    ch.listen = listen;
    room->members[line] = ch;
    count = int32_t(room->members.size());
    session = room->session;
    return 1;
}

int32_t TagNameConfCtrl::FindLineRoom(int32_t line, int32_t& listen, std::string& name, int32_t& session) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    for (auto& [roomName, room] : rooms_) {
        auto it = room->members.find(line);
        if (it == room->members.end()) continue;
        listen = it->second.listen;
        name = roomName;
        session = room->session;
        return 1;
    }
    return 0;
}

int32_t TagNameConfCtrl::RemoveLine(int32_t line, TagRoomLeft& left) {
    left = TagRoomLeft{};
    for (auto it = rooms_.begin(); it != rooms_.end(); ++it) {
        TagMeetRoom& room = *it->second;
        auto m = room.members.find(line);
        if (m == room.members.end()) continue;
        left.session = room.session;
        left.kind = room.kind;
        left.recHandle = room.recHandle;
        left.playHandle = room.playHandle;
        left.chRecHandle = m->second.recHandle;
        room.members.erase(m);
        if (room.members.empty()) {
            left.closed = 1;
            rooms_.erase(it);
        }
        break;
    }
    return 1;
}

int32_t TagNameConfCtrl::DeleteRoom(const std::string& name) {
    return rooms_.erase(name) ? 1 : 0;
}

int32_t TagNameConfCtrl::GetMembers(const std::string& name, std::map<int32_t, int32_t>& members) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    members.clear();
    TagMeetRoom* room = FindRoom(name);
    if (!room) return 0;
    for (const auto& [line, ch] : room->members)
        members[line] = ch.listen;
    return int32_t(room->members.size());
}

TagNameConfCtrl& NameConfs() {
    if (TagTelDrive* d = GetTelDrive()) return d->nameConf;
    static TagNameConfCtrl* own = new TagNameConfCtrl; // lines may use it until the process ends
    return *own;
}

} // namespace zz
