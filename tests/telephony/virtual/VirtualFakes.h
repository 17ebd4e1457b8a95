#pragma once
// Test doubles around the virtual lines: a media library whose external channels keep what is pushed and give
// what the test queued, SIP lines that join and leave a virtual line's channel as the SIP driver does, a Keys
// column, and a line manager with one card line, two SIP lines and two virtual lines (3 and 4).
#include "platform/audio/FakeAudio.h"
#include "telephony/LineKeys.h"
#include "telephony/TagTelDrive.h"
#include "telephony/virtual/TagVirCard.h"
#include "telephony/virtual/VirMedia.h"
#include "tests/telephony/lines/LineFakes.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace zz::test {

// What the media library and the SIP lines were asked, in order.
struct Journal {
    std::mutex m;
    std::vector<std::string> lines;
    void Note(const std::string& s) {
        std::lock_guard<std::mutex> g(m);
        lines.push_back(s);
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> g(m);
        return lines;
    }
    // Index of the first line equal to s, -1 when none.
    int Find(const std::string& s) {
        auto l = Lines();
        for (size_t i = 0; i < l.size(); ++i)
            if (l[i] == s) return int(i);
        return -1;
    }
};

class FakeMedia : public VirMedia {
public:
    explicit FakeMedia(Journal& j) : j_(j) {}
    int ms_external_channel_create(int& ch) override {
        ch = ++next_;
        j_.Note("create " + std::to_string(ch));
        return 0;
    }
    int ms_external_channel_start(int ch, int type) override {
        j_.Note("start " + std::to_string(ch) + " " + std::to_string(type));
        return 0;
    }
    int ms_push_data(int, const uint8_t* data, int length) override {
        std::lock_guard<std::mutex> g(m_);
        pushed_.append(reinterpret_cast<const char*>(data), size_t(length));
        cv_.notify_all();
        return 0;
    }
    int ms_get_data(int, uint8_t* data, int length) override {
        std::lock_guard<std::mutex> g(m_);
        int n = std::min(length, int(give_.size()));
        std::copy(give_.begin(), give_.begin() + n, data);
        give_.erase(0, size_t(n));
        return n;
    }
    int ms_channel_stop(int ch) override {
        j_.Note("stop " + std::to_string(ch));
        return 0;
    }
    int ms_channel_destory(int ch) override {
        j_.Note("destroy " + std::to_string(ch));
        return 0;
    }

    void Give(const std::string& bytes) {
        std::lock_guard<std::mutex> g(m_);
        give_ += bytes;
    }
    // Waits (real time) until n bytes were pushed; what was pushed.
    std::string WaitPushed(size_t n) {
        std::unique_lock<std::mutex> lk(m_);
        cv_.wait_for(lk, std::chrono::seconds(10), [&] { return pushed_.size() >= n; });
        return pushed_;
    }

private:
    Journal& j_;
    int next_ = 0;
    std::mutex m_;
    std::condition_variable cv_;
    std::string pushed_, give_;
};

// Joins a card or virtual line's channel as the SIP driver does: the peer's bridge is started when it has no
// channel yet, and ended when the link goes.
class FakeSipCall : public TagKvCall {
public:
    explicit FakeSipCall(Journal& j) : j_(j) { lineKind = kLineSip; }
    int LinkTo(int32_t line, int32_t) override {
        TagKvCall* peer = Peer(line);
        if (!peer) return -200;
        if (!peer->mediaChannel) {
            peer->linkedCall = this;
            peer->StartRtp();
        }
        j_.Note(Name() + " link " + std::to_string(line) + " ch=" + std::to_string(peer->mediaChannel));
        return linkResult;
    }
    int UnlinkTo(int32_t line, int32_t) override {
        TagKvCall* peer = Peer(line);
        if (!peer) return -200;
        j_.Note(Name() + " unlink " + std::to_string(line) + " ch=" + std::to_string(peer->mediaChannel));
        peer->EndRtp();
        peer->linkedCall = nullptr;
        return 0;
    }
    int linkResult = 0;

private:
    static TagKvCall* Peer(int32_t line) {
        uint8_t kind = 0;
        return GetTelDrive() ? GetTelDrive()->GetCall(line, kind) : nullptr;
    }
    Journal& j_;
};

class FakeSipCard : public TagKvCard {
public:
    FakeSipCard(int32_t count, Journal& j) : j_(j) { lineCount = count; }
    int GetLineName(int32_t index, std::string& name) override {
        name = "sip" + std::to_string(index);
        return 0;
    }
    std::unique_ptr<TagTelLine> MakeLine(int32_t index, int32_t lineNo) override {
        if (index < 0 || index >= lineCount) return nullptr;
        return NewLine(index, lineNo, std::make_unique<FakeSipCall>(j_));
    }

private:
    Journal& j_;
};

// The Keys column, one text per line.
inline std::map<int32_t, std::string>& KeysColumn() {
    static std::map<int32_t, std::string> column;
    return column;
}

// Line 0 a card line, 1 and 2 SIP lines, 3 and 4 virtual lines (English names), on the fake sound card and
// media library, published as the process's line manager.
struct VirtualLines {
    static constexpr int32_t kCard = 0, kSip1 = 1, kSip2 = 2, kVir = 3, kVir2 = 4;

    VirtualLines() {
        card.SetGate(true); // the output blocks until the test grants it blocks
        SetVirMedia(&media);
        SetLineKeysCell({[](int32_t line) { return KeysColumn()[line]; },
                         [](int32_t line, const char* text) { KeysColumn()[line] = text; }});
        cfg.virLines = 2;
        cfg.language = 1;
        DriverMakers m;
        m.card = [](TagRunCfg*) { return std::make_unique<FakeCard>(1, "Trunk", kLineAnalogTrunk); };
        m.sip = [this](TagRunCfg*) { return std::make_unique<FakeSipCard>(2, journal); };
        m.vir = MakeVirDrive;
        SetDriverMakers(m);
        drive = std::make_unique<TagTelDrive>(nullptr, &cfg);
        SetTelDrive(drive.get());
    }
    ~VirtualLines() {
        Close();
        SetDriverMakers({});
        SetLineKeysCell({});
        KeysColumn().clear();
        SetVirMedia(nullptr);
    }
    void Close() {
        SetTelDrive(nullptr);
        drive.reset();
    }
    TagKvCall& Call(int32_t line) { return *drive->Line(line)->call; }
    FakeSipCall& Sip(int32_t line) { return static_cast<FakeSipCall&>(Call(line)); }

    FakeAudio card;
    ScopedAudioBackend scopedCard{&card};
    Journal journal;
    FakeMedia media{journal};
    TagRunCfg cfg;
    std::unique_ptr<TagTelDrive> drive;
};

} // namespace zz::test
