// The call object's side of the named conference rooms: the registry of rooms paired with the driver's session
// operations.
#include "platform/Clock.h"
#include "telephony/TagKvCall.h"
#include "telephony/TagNameConfCtrl.h"

namespace zz {

namespace {

// Holds the registry's lock for a scope.
class RoomsLocked {
public:
    explicit RoomsLocked(TagNameConfCtrl& rooms) : rooms_(rooms) { rooms_.Lock(); }
    ~RoomsLocked() { rooms_.Unlock(); }
    RoomsLocked(const RoomsLocked&) = delete;
    RoomsLocked& operator=(const RoomsLocked&) = delete;

private:
    TagNameConfCtrl& rooms_;
};

} // namespace

int TagKvCall::JoinNameConf(const char* room, int32_t listen) {
    const std::string name = room ? room : "";
    TagNameConfCtrl& rooms = NameConfs();
    RoomsLocked locked(rooms);
    int32_t kind = 1, session = 0;
    bool created = false;
    if (!rooms.FindRoomSession(name, kind, session)) {
        int r = CreateConfRoom(kind, session);
        WriteLogF("CreateConfRoom(isSipConf=%d): ret=%d, sess=%d", kind, r, session);
        if (r < 0) return -2;
        created = true;
        rooms.CreateRoom(name, session, kind);
    }
    int r = JoinConfRoom(session, kind, listen);
    WriteLogF("JoinConfRoom(sess=%d, isSipConf=%d, isListen=%d): %d", session, kind, listen, r);
    if (r < 0) {
        // A failed first join leaves no room behind.
        if (created) {
            DeleteConfRoom(session, kind);
            rooms.DeleteRoom(name);
        }
        return -3;
    }
    int32_t count = 0;
    rooms.AddMember(name, lineNo, listen, mediaChannel, count, session);
    return count;
}

int TagKvCall::ExitNameConf() {
    TagRoomLeft left;
    {
        TagNameConfCtrl& rooms = NameConfs();
        RoomsLocked locked(rooms);
        rooms.RemoveLine(lineNo, left);
    }
    if (!left.session) return 0;
    if (left.chRecHandle) StopSipRecCh(left.chRecHandle);
    // The room's own kind, also when it stays open: a card member leaves its card group only so.
    ExitConfRoom(left.session, left.kind);
    if (left.closed) {
        if (left.recHandle) StopRecConfRoom(left.session, left.kind, left.recHandle);
        if (left.playHandle) StopPlayConfRoom(left.session, left.kind, left.playHandle);
        DeleteConfRoom(left.session, left.kind);
        confClosed = true;
    }
    WriteLogF("ExitNameConf (session=%d, isSipConf=%d, isClosed=%d, rec=%d, play=%d)", left.session, left.kind,
              left.closed, left.recHandle, left.playHandle);
    return left.session;
}

int TagKvCall::GetConfNum(const char* room, std::map<int32_t, int32_t>& members) {
    return NameConfs().GetMembers(room ? room : "", members);
}

int TagKvCall::IsInConf(int32_t line, std::string& room, int32_t& listen) {
    int32_t session = 0;
    return NameConfs().FindLineRoom(line, listen, room, session);
}

int TagKvCall::RecConf(const char* room, const char* file) {
    TagNameConfCtrl& rooms = NameConfs();
    RoomsLocked locked(rooms);
    TagMeetRoom* r = rooms.FindRoom(room ? room : "");
    if (!r) return -1;
    if (r->recHandle) return -2;
    int32_t handle = 0;
    if (RecConfRoom(r->session, r->kind, file ? file : "", handle) < 0 || !handle) return -3;
    r->recHandle = handle;
    return handle;
}

int TagKvCall::PlayConf(const char* room, const char* file, int32_t wait) {
    const std::string name = room ? room : "";
    TagNameConfCtrl& rooms = NameConfs();
    int32_t handle = 0, session = 0, kind = 0;
    {
        RoomsLocked locked(rooms);
        TagMeetRoom* r = rooms.FindRoom(name);
        if (!r) return -1;
        if (r->playHandle) return -2;
        if (PlayConfRoom(r->session, r->kind, file ? file : "", handle) < 0 || !handle) return -3;
        r->playHandle = handle;
        session = r->session;
        kind = r->kind;
    }
    if (!wait) return handle;
    WaitUntil([&] { return !IsOnline() || IsPlayConfRoomEnd(session, kind, handle) != 0; });
    // The room may have closed meanwhile (its last member stopped the play then) or even come again under the
    // same name: the play is this line's to stop only while the room still holds it.
    bool mine = false;
    {
        RoomsLocked locked(rooms);
        TagMeetRoom* r = rooms.FindRoom(name);
        if (r && r->session == session && r->playHandle == handle) {
            r->playHandle = 0;
            mine = true;
        }
    }
    if (mine) StopPlayConfRoom(session, kind, handle);
    return handle;
}

int TagKvCall::RecConfCh(const char* room, int32_t line, const char* file) {
    TagNameConfCtrl& rooms = NameConfs();
    RoomsLocked locked(rooms);
    TagMeetCh* m = rooms.FindMember(room ? room : "", line);
    if (!m) return -1;
    if (m->recHandle) return int(TicksSince(m->recStart));
    if (!file || !*file) return 0;
    int32_t handle = 0;
    if (SipRecCh(m->mediaChannel, file, handle) < 0 || !handle) return -3;
    m->recHandle = handle;
    m->recStart = GetTickCount();
    return 0;
}

} // namespace zz
