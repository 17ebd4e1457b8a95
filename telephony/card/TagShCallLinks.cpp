// Card links: two-way links and listening between lines, carried by the card's conference groups when the card
// conferences (else by direct talk), links to SIP lines through the media bridge, and faxes through the driver's
// pool of fax channels. Every change of a member list is made under the driver's conference lock: an owner's list
// is also changed by its members' threads when they leave.
#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "platform/TagWriteLog.h"
#include "telephony/TagTelDrive.h"
#include "telephony/card/CardLib.h"
#include "telephony/card/TagShCall.h"
#include "telephony/card/TagShDrive.h"

#include <climits>
#include <mutex>

namespace zz {

namespace {
constexpr uint32_t kNoLimit = UINT32_MAX;
constexpr uint32_t kFaxSettleMs = 20; // the card reports 3 while it closes a fax session
constexpr size_t kFaxIdLen = 20;
} // namespace

// The call of another line and its driver kind; without a line manager, the card's own channels.
static TagKvCall* LookupLine(TagShDrive* drive, int32_t line, uint8_t& kind) {
    if (TagTelDrive* manager = GetTelDrive()) return manager->GetCall(line, kind);
    TagShCall* c = drive->CallAt(line);
    kind = c ? kDriveCard : kDriveNone;
    return c;
}

int TagShCall::FindMember(int32_t line) const {
    std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
    for (size_t i = 0; i < confList.size(); ++i)
        if (confList[i].ch == line) return int(i);
    return -1;
}

static void AddMember(TagShCall& c, int32_t ch, bool listen, int32_t mode) {
    std::lock_guard<std::recursive_mutex> g(c.drive->ConfLock());
    c.confList.push_back({ch, listen, mode});
}

static int LinkOrListen(TagShCall& c, int32_t line, int32_t mode, bool listen) {
    WriteRunLogF(listen ? "[%d] : ListenTo(%d, %d)" : "[%d] : LinkTo(%d, %d)", c.channel, line, mode);
    if (line < 0 || line == c.lineNo) return -1;
    uint8_t kind = kDriveNone;
    TagKvCall* dest = LookupLine(c.drive, line, kind);
    if (!dest) {
        c.WriteLogF("GetCall(destLine=%d) is NULL", line);
        return -200;
    }
    if (kind != kDriveCard && kind != kDriveSip) {
        c.WriteLogF("GetCall(destLine=%d) type=%d", line, kind);
        return -200;
    }
    if (TagKvCall* bridged = c.linkedCall) {
        if (dest == bridged) {
            c.WriteLog("destSipCall==pcall");
            return -1;
        }
        AddMember(c, line, listen, mode);
        return listen ? bridged->ListenTo(dest->lineNo, 0) : bridged->LinkTo(dest->lineNo, 0);
    }
    if (kind == kDriveSip) {
        int r = listen ? c.ListenMedia(dest) : c.LinkMedia(dest);
        if (c.linkedCall != dest) return r; // the SIP line refused: no link to record
        AddMember(c, c.channel, listen, mode);
        AddMember(c, line, listen, mode);
        return r;
    }
    if (listen) return c.AddToConf(line, mode, true);
    if (_isConfEnable) {
        int r = c.AddToConf(line, mode, false);
        c.WriteLogF("AddToConf(destLine=%d) type=%d, ret=%d", line, mode, r);
        return r;
    }
    CardLib& lib = c.drive->Lib();
    lib.SsmPrepareLink(c.channel);
    lib.SsmPrepareLink(line);
    SleepMs(80); // the card settles its switch before the talk
    const int32_t gain = c.MixerGain();
    int r = lib.SsmTalkWithEx(c.channel, gain, line, gain);
    AddMember(c, c.channel, false, mode);
    AddMember(c, line, false, mode);
    c.WriteLogF("SsmTalkWithEx(destLine=%d) vol=%d, ret=%d", line, gain, r);
    return r;
}

int TagShCall::LinkTo(int32_t line, int32_t mode) {
    return LinkOrListen(*this, line, mode, false);
}

int TagShCall::ListenTo(int32_t line, int32_t mode) {
    return LinkOrListen(*this, line, mode, true);
}

int TagShCall::UnlinkTo(int32_t line, int32_t mode) {
    if (line < 0) return -1;
    WriteRunLogF("[%d] : UnlinkTo(%d, %d)", channel, line, mode);
    const int idx = FindMember(line);
    if (idx < 0) {
        WriteRunLog("destLine<0 || not in confList");
        return -1;
    }
    if (TagKvCall* bridged = linkedCall) {
        if (line == bridged->lineNo) {
            int r = UnlinkMedia();
            std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
            confList.clear();
            linkedCall = nullptr;
            return r;
        }
        {
            std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
            int i = FindMember(line);
            if (i >= 0) confList.erase(confList.begin() + i);
        }
        return bridged->UnlinkTo(line, 0);
    }
    if (!_isConfEnable) {
        {
            std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
            confList.clear();
        }
        int r = Lib().SsmStopTalkWith(channel, line);
        WriteLogF("SsmStopTalkWith(dest=%d)=%d", line, r);
        return r;
    }
    return LeaveMember(line);
}

int TagShCall::UnlinkAll() {
    std::vector<Member> copy;
    {
        std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
        copy = confList;
    }
    if (linkedCall) {
        for (const Member& m : copy)
            if (m.ch != channel) UnlinkTo(m.ch, 0);
        UnlinkTo(channel, 0);
    } else if (_isConfEnable) {
        for (const Member& m : copy)
            LeaveMember(m.ch);
    } else {
        for (const Member& m : copy)
            if (m.ch != channel) {
                UnlinkTo(m.ch, 0);
                break;
            }
    }
    // A line another line added leaves that line's group through the owner's call.
    if (confOwner >= 0) drive->Unlink(confOwner, channel, lineKind);
    // A bridge made without a member record (LinkMedia alone) ends as well.
    if (linkedCall) UnlinkMedia();
    linkedCall = nullptr;
    return 0;
}

int TagShCall::GetLinkList(std::vector<int32_t>& lines, std::vector<int32_t>& listen, std::vector<int32_t>& modes) {
    lines.clear();
    listen.clear();
    modes.clear();
    std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
    for (const Member& m : confList) {
        lines.push_back(m.ch);
        listen.push_back(m.listen ? 1 : 0);
        modes.push_back(m.mode);
    }
    return int(confList.size());
}

// ---- Conference groups

int TagShCall::JoinOwnGroup() {
    if (confGroup >= 0) return confGroup;
    int32_t group;
    {
        std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
        group = drive->CreateConfGroup();
        confGroup = group;
    }
    if (group < 0) return -1;
    const int32_t joinMode = lineKind == kLineExtension ? 0 : 1;
    int32_t r = Lib().SsmJoinConfGroup(group, channel, joinMode, MixerGain(), 0, 0);
    if (r == 0) {
        std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
        confList.clear();
        confList.push_back({channel, false, joinMode});
        return group;
    }
    std::string err = Lib().SsmGetLastErrMsg();
    WriteLogAlwaysF("AddChnl to self, id=%d, ret=%d: %s", group, r, err.c_str());
    if (err.find("not supported") != std::string::npos) _isConfEnable = false;
    {
        std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
        drive->FreeConfGroup(group);
    }
    confGroup = -1;
    return -2;
}

int TagShCall::AddToConf(int32_t ch, int32_t mode, bool listen) {
    int32_t destGroup;
    {
        std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
        destGroup = drive->GetConfGroup(ch);
    }
    // A destination in another group leaves it first; one already in this line's group stays where it is.
    if (destGroup >= 0 && destGroup != confGroup) {
        int32_t r;
        {
            std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
            Lib().SsmStopPlay(ch);
            Lib().SsmStopRecord(ch);
            r = Lib().SsmExitConfGroup(ch, 0);
        }
        drive->SetConfFields(ch, -1, -1);
        WriteLogF("AddToConf(%d) Failed, %d in confId %d, QuitConf: ret=%d", ch, ch, destGroup, r);
    }
    if (confGroup < 0) {
        WriteRunLogF("[%d] : Begin : confId<0", channel);
        JoinOwnGroup();
    }
    WriteRunLogF("[%d] : confId=%d", channel, confGroup.load());
    if (confGroup < 0) return -2;
    if (FindMember(ch) >= 0) {
        WriteLogAlwaysF("dest in conf, dest=%d", ch);
        return ch;
    }
    const int32_t group = confGroup, gain = MixerGain();
    int32_t r = Lib().SsmJoinConfGroup(group, ch, listen ? 2 : 0, gain, 0, 0);
    char text[128];
    if (listen)
        std::snprintf(text, sizeof text, "[%d] : AddListenChnl(%d, %d), ret=%d", channel, group, ch, r);
    else
        std::snprintf(text, sizeof text, "AddChnl(%d, %d, %d), ret=%d", group, ch, gain, r);
    if (r == 0) {
        {
            std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
            confList.push_back({ch, listen, mode});
            drive->SetConfFields(ch, group, channel);
        }
        WriteRunLog(text);
    } else {
        WriteLogAlways(text);
    }
    return -r;
}

int TagShCall::LeaveMember(int32_t ch) {
    if (confGroup < 0 || ch < 0) return -1;
    std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
    int idx = FindMember(ch);
    if (confGroup < 0 || idx < 0) return -2;
    const bool listen = confList[size_t(idx)].listen;
    confList.erase(confList.begin() + idx);
    int32_t r = Lib().SsmExitConfGroup(ch, 0);
    if (r != 0)
        WriteLogAlwaysF(listen ? "SubListenChnl(%d, %d), ret=%d" : "SubChnl(%d, %d), ret=%d", confGroup.load(), ch, r);
    if (ch != channel) drive->SetConfFields(ch, -1, -1);
    // The group goes with the list of the line that made it; a line in another line's group leaves that group
    // standing for its owner.
    if (confOwner >= 0) return -r;
    if (confList.empty())
        FreeConfId(false);
    else if (confList.size() == 1 && confList[0].ch == channel)
        FreeConfId(true);
    return -r;
}

void TagShCall::FreeConfId(bool leaveSelf) {
    std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
    if (confGroup >= 0) {
        StopPlay();
        int32_t r = leaveSelf ? Lib().SsmExitConfGroup(channel, 0) : 0;
        drive->FreeConfGroup(confGroup);
        if (r != 0) WriteLogAlwaysF("FreeConfId(%d), ret=%d", confGroup.load(), r);
        confGroup = -1;
    }
    confList.clear();
}

// ---- Fax

void TagShCall::SetFaxLocalId(const char* id) {
    std::string_view s = id ? id : "";
    faxLocalId.assign(s.substr(0, GbkSafeCut(s, kFaxIdLen)));
}

void TagShCall::GetFaxResource(int32_t& total, int32_t& busy) {
    drive->FaxCount(busy, total);
}

int TagShCall::FaxLoop(bool, int32_t startResult) {
    const int32_t faxCh = drive->FaxChannel(faxIndex);
    int result = startResult;
    int32_t state = drive->FaxGetState(faxIndex);
    while (!stopFlag) {
        int32_t end = drive->FaxCheckEnd(faxIndex);
        if (end == 0) {
            int32_t now = drive->FaxGetState(faxIndex);
            if (now != state) {
                WriteLogF("FaxGetState(%d): %d", faxIndex, now);
                state = now;
            }
            if (!IsOnline()) {
                WriteLog("IsOnline(): false");
                result = 0;
                break;
            }
            WaitCard(kNoLimit, faxCh);
        } else if (end == kFaxFailed) {
            WriteLogF("Error : FaxCheckEnd()=2, FaxState: %d", state);
            result = -4;
            drive->FaxCheckEnd(faxIndex);
            break;
        } else if (end == kFaxSettling) {
            // Asked again at once, this would spin without looking at the line: a short wait first.
            WaitCard(kFaxSettleMs, faxCh);
        } else {
            result = end;
            break;
        }
    }
    return result;
}

int TagShCall::SendFax(const char* file) {
    faxIndex = drive->FaxAlloc();
    if (faxIndex < 0) {
        WriteLogF("FaxGetValChnl() Error : %d", faxIndex);
        return -1;
    }
    if (!drive->FaxConnect(faxIndex, *this)) {
        WriteLogF("FaxSetLink(%d) Error.", faxIndex);
        drive->FaxRelease(faxIndex, *this);
        faxIndex = -1;
        return -2;
    }
    drive->FaxSetParam(faxIndex, faxLocalId.c_str());
    const int32_t state = drive->FaxGetState(faxIndex);
    int32_t r = drive->FaxStartSend(faxIndex, file);
    if (!r) {
        drive->FaxRelease(faxIndex, *this);
        faxIndex = -1;
        WriteLogF("FaxStartSendFile(%s) Error : %d, FaxState: %d", file ? file : "", r, state);
        return -3;
    }
    WriteLogF("FaxStartSendFile(%s)..., FaxState: %d", file ? file : "", state);
    int result = FaxLoop(true, r);
    drive->FaxRelease(faxIndex, *this);
    faxIndex = -1;
    return result;
}

int TagShCall::RecvFax(const char* file) {
    faxIndex = drive->FaxAlloc();
    if (faxIndex < 0) {
        WriteLog("FaxGetValChnl() Err, -1.");
        return -1;
    }
    if (!drive->FaxConnect(faxIndex, *this)) {
        drive->FaxRelease(faxIndex, *this);
        faxIndex = -1;
        WriteLog("FaxSetLink() Err, -2.");
        return -2;
    }
    const int32_t state = drive->FaxGetState(faxIndex);
    if (!drive->FaxStartRecv(faxIndex, file)) {
        drive->FaxRelease(faxIndex, *this);
        faxIndex = -1;
        WriteLogF("FaxStartRecvFile('%s') Err, -3. FaxState: %d", file ? file : "", state);
        return -3;
    }
    WriteLogF("FaxStartRecvFile(%s)..., FaxState: %d", file ? file : "", state);
    FaxLoop(false, 1);
    int result = drive->FaxPages(faxIndex);
    drive->FaxRelease(faxIndex, *this);
    faxIndex = -1;
    return result;
}

} // namespace zz
