// The simulated card's voice, memory blocks, fax and FSK, and the Clock work that moves them on. A channel's
// sound goes to the channels that hear it: its talk partners and the members of its conference group (a member
// that only listens says nothing into the group).
#include "media/G711.h"
#include "media/TagVocFile.h"
#include "media/VocIo.h"
#include "platform/Clock.h"
#include "platform/FileHandle.h"
#include "platform/PathMap.h"
#include "platform/WakeEvent.h"
#include "telephony/card/CardSimCall.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

namespace zz {

namespace {

constexpr uint32_t kRecBlockMs = 500;      // the record callback gets a block every half second
constexpr uint32_t kMemRecStepMs = 125;    // the colour-ring buffer fills in steps of 1000 bytes
constexpr uint32_t kBlockTickMs = 40;      // memory blocks of 320 bytes circulate every 40 ms
constexpr uint32_t kFaxRecvWaitMs = 60000; // a receive with nothing to receive fails after a minute

// Tick a is at or after tick b (across the wrap).
bool Reached(uint32_t now, uint32_t when) {
    return int32_t(now - when) >= 0;
}

void Due(int64_t& best, uint32_t now, uint32_t when) {
    int64_t left = Reached(now, when) ? 0 : int64_t(uint32_t(when - now));
    if (best < 0 || left < best) best = left;
}

std::vector<uint8_t> TakeInput(CardSim::Chan& c, size_t n) {
    std::vector<uint8_t> out(n, kAlawSilence);
    size_t k = std::min(n, c.input.size());
    std::copy(c.input.begin(), c.input.begin() + long(k), out.begin());
    c.input.erase(c.input.begin(), c.input.begin() + long(k));
    return out;
}

} // namespace

bool WriteAlawWav(const std::string& path, const std::vector<uint8_t>& bytes) {
    return WriteAlawWav(FileHandle::Open(path.c_str(), "wb").release(), bytes);
}

bool WriteAlawWav(std::FILE* file, const std::vector<uint8_t>& bytes) {
    FileHandle f(file);
    if (!f) return false;
    voc::WavFormat fmt{6, 1, 8000, 8000, 1, 8};
    auto head = voc::MakeHeader44(fmt, uint32_t(bytes.size()));
    if (std::fwrite(head.data(), 1, head.size(), f.get()) != head.size()) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) return false;
    return f.Close() == 0;
}

bool ReadVoiceAlaw(const std::string& path, std::vector<uint8_t>& out) {
    FileHandle f = FileHandle::Open(path.c_str(), "rb");
    if (!f) return false;
    int64_t len = voc::FileLength(f.get());
    if (len <= 0 || len > (int64_t(1) << 30)) return false;
    std::vector<uint8_t> raw(static_cast<size_t>(len));
    uint8_t kind = kVocAlaw;
    int32_t n = ReadWaveData(f.get(), raw.data(), int32_t(raw.size()), kind);
    if (n <= 0) return false;
    raw.resize(size_t(n));
    if (kind == kVocAlaw) {
        out = std::move(raw);
    } else if (kind == kVocMulaw) {
        out.resize(raw.size());
        for (size_t i = 0; i < raw.size(); ++i)
            out[i] = LinearToAlaw(ExpandG711(raw[i], false));
    } else {
        out.resize(raw.size() / 2);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = LinearToAlaw(int16_t(raw[2 * i] | (raw[2 * i + 1] << 8)));
    }
    return true;
}

int32_t TiffPages(const std::string& path, bool bilevel) {
    static const bool quiet = [] {
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandler(nullptr);
        return true;
    }();
    (void)quiet;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return 0;
    int32_t pages = 0;
    do {
        uint16_t bits = 1;
        TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
        if (bilevel && bits != 1) {
            pages = 0;
            break;
        }
        ++pages;
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
    return pages;
}

// ---- The Clock's work

void CardSim::Advance(Chan& c, Deferred& later) {
    const uint32_t now = GetTickCount();
    if (c.playOn && !c.playEnded && TicksSince(c.playStart, now) >= c.playMs) c.playEnded = true;
    if (c.recOn && !c.recEnded) {
        uint32_t el = TicksSince(c.recStart, now);
        if (c.recLimit && el > c.recLimit) el = c.recLimit;
        while (c.recDoneMs + kRecBlockMs <= el) {
            std::vector<uint8_t> block = TakeInput(c, MsToBytes(kRecBlockMs));
            c.recBytes.insert(c.recBytes.end(), block.begin(), block.end());
            c.recDoneMs += kRecBlockMs;
            if (c.recCb) {
                auto shared = std::make_shared<std::vector<uint8_t>>(std::move(block));
                later.push_back([cb = c.recCb, ch = c.no, shared, data = c.recData] {
                    cb(ch, kBlockRecorded, shared->data(), int32_t(shared->size()), data);
                });
            }
        }
        if (c.recLimit && el >= c.recLimit) {
            std::vector<uint8_t> rest = TakeInput(c, MsToBytes(el - c.recDoneMs));
            c.recBytes.insert(c.recBytes.end(), rest.begin(), rest.end());
            c.recDoneMs = el;
            EndRecording(c);
        }
    }
    if (c.memRec && c.memRecBytes < c.memRecSize) {
        size_t want = std::min(size_t(c.memRecSize), MsToBytes(TicksSince(c.memRecStart, now)));
        want -= want % MsToBytes(kMemRecStepMs) == 0 || want == size_t(c.memRecSize) ? 0 : want % 1000;
        if (want > size_t(c.memRecBytes)) {
            std::vector<uint8_t> got = TakeInput(c, want - size_t(c.memRecBytes));
            std::memcpy(c.memRec + c.memRecBytes, got.data(), got.size());
            c.memRecBytes = int32_t(want);
        }
    }
    if (!c.txDtmf.empty() && Reached(now, c.txDtmfEnd)) c.txDtmf.clear();
    if (c.fskTxOn && Reached(now, c.fskTxEnd)) c.fskTxOn = false;
    if (c.fskRxOn && c.fskRx.empty() && !c.fskIn.empty()) {
        c.fskRx = std::move(c.fskIn.front());
        c.fskIn.pop_front();
    }
    if (c.faxMode && c.faxEnd == 0 && TicksSince(c.faxStart, now) >= c.faxMs) EndFax(c);
}

int64_t CardSim::NextDue(int32_t ch) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return -1;
    const uint32_t now = GetTickCount();
    int64_t best = -1;
    if (c->playOn && !c->playEnded) Due(best, now, c->playStart + c->playMs);
    if (c->recOn && !c->recEnded) {
        uint32_t next = c->recDoneMs + kRecBlockMs;
        if (c->recLimit && next > c->recLimit) next = c->recLimit;
        Due(best, now, c->recStart + next);
    }
    if (c->memRec && c->memRecBytes < c->memRecSize)
        Due(best, now, c->memRecStart + BytesToMs(size_t(c->memRecBytes)) + kMemRecStepMs);
    if (!c->txDtmf.empty()) Due(best, now, c->txDtmfEnd);
    if (c->fskTxOn) Due(best, now, c->fskTxEnd);
    if (c->fskRxOn && c->fskRx.empty() && c->fskRxTimeout) Due(best, now, c->fskRxStart + c->fskRxTimeout);
    if (c->faxMode && c->faxEnd == 0) Due(best, now, c->faxStart + c->faxMs);
    return best;
}

// The channels that hear c: its talk partners and, unless it only listens, the rest of its group.
std::vector<CardSim::Chan*> CardSim::HearersOf(Chan& c) {
    std::set<int32_t> ids(c.talk.begin(), c.talk.end());
    auto g = groups_.find(c.group);
    if (g != groups_.end() && c.groupMode != 2)
        for (int32_t m : g->second)
            if (m != c.no) ids.insert(m);
    std::vector<Chan*> out;
    for (int32_t id : ids)
        if (Chan* h = At(id)) out.push_back(h);
    return out;
}

// ---- Voice

int32_t CardSim::SsmPlayFile(int32_t ch, const char* file, int32_t format, int32_t from, int32_t to) {
    SIM_CHAN(SsmPlayFile, ch, file, format, from, to);
    std::vector<uint8_t> bytes;
    std::string path = ResolvePath(file ? file : "");
    if (!ReadVoiceAlaw(path, bytes)) {
        lastError_ = std::string("cannot play ") + (file ? file : "");
        return Note("SsmPlayFile", -1, ch, file, format, from, to);
    }
    size_t b = std::min(bytes.size(), size_t(std::max(0, from)));
    size_t e = to < 0 ? bytes.size() : std::min(bytes.size(), size_t(to));
    if (e < b) e = b;
    c->output.insert(c->output.end(), bytes.begin() + long(b), bytes.begin() + long(e));
    for (Chan* h : HearersOf(*c))
        h->input.insert(h->input.end(), bytes.begin() + long(b), bytes.begin() + long(e));
    c->played.push_back(file ? file : "");
    c->playOn = true;
    c->playEnded = false;
    c->playStart = GetTickCount();
    c->playMs = BytesToMs(e - b);
    return Note("SsmPlayFile", 0, ch, file, format, from, to);
}

int32_t CardSim::SsmCheckPlay(int32_t ch) {
    SIM_CHAN(SsmCheckPlay, ch);
    return Note("SsmCheckPlay", c->playOn && !c->playEnded ? 0 : 1, ch);
}

int32_t CardSim::SsmStopPlay(int32_t ch) {
    SIM_CHAN(SsmStopPlay, ch);
    c->playOn = false;
    return Note("SsmStopPlay", 0, ch);
}

int32_t CardSim::SsmPlayMem(int32_t ch, int32_t format, const uint8_t* data, int32_t len, int32_t from, int32_t to) {
    SIM_CHAN(SsmPlayMem, ch, format, data, len, from, to);
    if (!data || len <= 0 || from < 0 || to < from) return Note("SsmPlayMem", -1, ch, format, data, len, from, to);
    int32_t end = std::min(to, from + len - 1);
    c->output.insert(c->output.end(), data + from, data + end + 1);
    c->played.push_back("(memory)");
    c->playOn = true;
    c->playEnded = false;
    c->playStart = GetTickCount();
    c->playMs = BytesToMs(size_t(end - from + 1));
    return Note("SsmPlayMem", 0, ch, format, data, len, from, to);
}

int32_t CardSim::SsmStopPlayMem(int32_t ch) {
    SIM_CHAN(SsmStopPlayMem, ch);
    c->playOn = false;
    return Note("SsmStopPlayMem", 0, ch);
}

int32_t CardSim::SsmSetPlayNoBreak(int32_t ch, int32_t on) {
    SIM_CHAN(SsmSetPlayNoBreak, ch, on);
    return Note("SsmSetPlayNoBreak", 0, ch, on);
}

int32_t CardSim::SsmSetBreakOnKey(int32_t ch, int32_t on) {
    SIM_CHAN(SsmSetBreakOnKey, ch, on);
    return Note("SsmSetBreakOnKey", 0, ch, on);
}

int32_t CardSim::SsmSetGain(int32_t ch, int32_t which, int32_t gain) {
    SIM_CHAN(SsmSetGain, ch, which, gain);
    return Note("SsmSetGain", 0, ch, which, gain);
}

int32_t CardSim::SsmRecToFile(int32_t ch, const char* file, int32_t format, int32_t recFormat, int32_t pos,
                              int32_t limitMs, int32_t mode, CardBlockFn cb, void* data) {
    SIM_CHAN(SsmRecToFile, ch, file, format, recFormat, pos, limitMs, mode);
    std::string path = MapPath(file ? file : "");
    if (c->recOn && !c->recEnded) EndRecording(*c);
    if (!FileHandle::Open(path.c_str(), "wb")) {
        lastError_ = "cannot create " + path;
        return Note("SsmRecToFile", -1, ch, file, format, recFormat, pos, limitMs, mode);
    }
    c->recOn = true;
    c->recEnded = false;
    c->recFile = path;
    c->recStart = GetTickCount();
    c->recLimit = uint32_t(std::max(0, limitMs));
    c->recDoneMs = 0;
    c->recCb = cb;
    c->recData = data;
    c->recBytes.clear();
    return Note("SsmRecToFile", 0, ch, file, format, recFormat, pos, limitMs, mode);
}

void CardSim::EndRecording(Chan& c) {
    c.recEnded = true;
    c.recCb = nullptr;
    if (!WriteAlawWav(c.recFile, c.recBytes)) lastError_ = "cannot write " + c.recFile;
}

int32_t CardSim::SsmCheckRecord(int32_t ch) {
    SIM_CHAN(SsmCheckRecord, ch);
    return Note("SsmCheckRecord", c->recOn && !c->recEnded ? 0 : 1, ch);
}

int32_t CardSim::SsmStopRecord(int32_t ch) {
    SIM_CHAN(SsmStopRecord, ch);
    if (c->recOn && !c->recEnded) {
        uint32_t el = TicksSince(c->recStart);
        if (el > c->recDoneMs) {
            std::vector<uint8_t> rest = TakeInput(*c, MsToBytes(el - c->recDoneMs));
            c->recBytes.insert(c->recBytes.end(), rest.begin(), rest.end());
        }
        EndRecording(*c);
    }
    c->recOn = false;
    return Note("SsmStopRecord", 0, ch);
}

int32_t CardSim::SsmSpyRecToFile(int32_t ch, int32_t what, const char* file, int32_t format, int32_t a, int32_t b,
                                 int32_t limitMs, int32_t mode) {
    int32_t r = SsmRecToFile(ch, file, format, -1, a, limitMs, mode, nullptr, nullptr);
    Lock lk(m_);
    return Note("SsmSpyRecToFile", r, ch, what, file, format, a, b, limitMs, mode);
}

int32_t CardSim::SsmStopSpyRecord(int32_t ch) {
    int32_t r = SsmStopRecord(ch);
    Lock lk(m_);
    return Note("SsmStopSpyRecord", r, ch);
}

int32_t CardSim::SsmSetRecMixer(int32_t ch, int32_t on, int32_t gain) {
    SIM_CHAN(SsmSetRecMixer, ch, on, gain);
    return Note("SsmSetRecMixer", 0, ch, on, gain);
}

int32_t CardSim::SsmRecordMem(int32_t ch, int32_t format, uint8_t* buf, int32_t size, int32_t a) {
    SIM_CHAN(SsmRecordMem, ch, format, buf, size, a);
    if (!buf || size <= 0) return Note("SsmRecordMem", -1, ch, format, buf, size, a);
    c->memRec = buf;
    c->memRecSize = size;
    c->memRecBytes = 0;
    c->memRecStart = GetTickCount();
    return Note("SsmRecordMem", 0, ch, format, buf, size, a);
}

int32_t CardSim::SsmGetRecordMemBytes(int32_t ch) {
    SIM_CHAN(SsmGetRecordMemBytes, ch);
    return Note("SsmGetRecordMemBytes", c->memRec ? c->memRecBytes : 0, ch);
}

int32_t CardSim::SsmStopRecordMem(int32_t ch) {
    SIM_CHAN(SsmStopRecordMem, ch);
    c->memRec = nullptr;
    c->memRecSize = c->memRecBytes = 0;
    return Note("SsmStopRecordMem", 0, ch);
}

// ---- Memory blocks

namespace {
// The block callback the pump runs on this thread now: which chain, and that chain's epoch when the block was taken.
struct BlockCallback {
    int32_t ch = -1;
    bool play = false;
    uint32_t epoch = 0;
};
thread_local BlockCallback t_callback;

// A callback handing back a block its chain's stop has ended since: refused, so that after a stop returns no
// block of the chain circulates any more.
bool StoppedSince(int32_t ch, bool play, uint32_t epoch) {
    return t_callback.ch == ch && t_callback.play == play && t_callback.epoch != epoch;
}
} // namespace

int32_t CardSim::SsmRecordMemBlock(int32_t ch, int32_t format, uint8_t* block, int32_t size, CardBlockFn cb,
                                   void* data) {
    SIM_CHAN(SsmRecordMemBlock, ch, format, block, size);
    if (!block || size <= 0 || !cb || StoppedSince(ch, false, c->recEpoch))
        return Note("SsmRecordMemBlock", -1, ch, format, block, size);
    c->recBlocks.push_back({block, size, cb, data});
    later.fns.push_back([this] { WakePump(); });
    return Note("SsmRecordMemBlock", 0, ch, format, block, size);
}

int32_t CardSim::SsmPlayMemBlock(int32_t ch, int32_t format, uint8_t* block, int32_t size, CardBlockFn cb, void* data) {
    SIM_CHAN(SsmPlayMemBlock, ch, format, block, size);
    if (!block || size <= 0 || !cb || StoppedSince(ch, true, c->playEpoch))
        return Note("SsmPlayMemBlock", -1, ch, format, block, size);
    c->playBlocks.push_back({block, size, cb, data});
    later.fns.push_back([this] { WakePump(); });
    return Note("SsmPlayMemBlock", 0, ch, format, block, size);
}

// A stopped chain hands every block back once with the stop event, so the owner sees its chain end. When the
// stop returns, no callback of the channel runs any more and none hands a block back: the owner may free the
// blocks (unless the stop comes from inside such a callback, which cannot wait for itself).
int32_t CardSim::SsmStopPlayMemBlock(int32_t ch) {
    SIM_CHAN(SsmStopPlayMemBlock, ch);
    ++c->playEpoch;
    for (const Chan::Block& b : c->playBlocks)
        later.fns.push_back([b, ch] { b.cb(ch, 0, b.data, 0, b.user); });
    c->playBlocks.clear();
    if (t_callback.ch != ch) blocksDone_.wait(lk, [&] { return c->blocksInFlight == 0; });
    return Note("SsmStopPlayMemBlock", 0, ch);
}

int32_t CardSim::SsmStopRecordMemBlock(int32_t ch) {
    SIM_CHAN(SsmStopRecordMemBlock, ch);
    ++c->recEpoch;
    for (const Chan::Block& b : c->recBlocks)
        later.fns.push_back([b, ch] { b.cb(ch, 0, b.data, 0, b.user); });
    c->recBlocks.clear();
    if (t_callback.ch != ch) blocksDone_.wait(lk, [&] { return c->blocksInFlight == 0; });
    return Note("SsmStopRecordMemBlock", 0, ch);
}

// Called without the card's lock: the pump takes the card's lock while it holds none of its own.
void CardSim::WakePump() {
    std::lock_guard<std::mutex> g(pumpM_);
    if (!pump_.joinable()) pump_ = std::thread([this] { PumpBlocks(); });
    ++pumpKick_;
    pumpCv_.notify_all();
}

void CardSim::PumpBlocks() {
    uint32_t last = GetTickCount();
    std::unique_lock<std::mutex> pl(pumpM_);
    while (!pumpStop_) {
        const uint64_t kick = pumpKick_;
        pl.unlock();
        bool any = false;
        {
            Lock lk(m_);
            for (auto& c : chans_)
                any = any || !c->recBlocks.empty() || !c->playBlocks.empty();
        }
        pl.lock();
        if (pumpStop_) break;
        if (!any) {
            // Nothing circulates, so nothing is due: sleep until a block is handed over.
            pumpCv_.wait(pl, [&] { return pumpStop_ || pumpKick_ != kick; });
            last = GetTickCount();
            continue;
        }
        uint32_t el = TicksSince(last);
        if (el < kBlockTickMs) {
            GetClock().WaitOn(pumpCv_, pl, kBlockTickMs - el);
            continue;
        }
        last = GetTickCount();
        pl.unlock();
        {
            RunLater later;
            Lock lk(m_);
            for (auto& cp : chans_) {
                Chan& c = *cp;
                // Each callback is counted in flight until it has run, so a stop can wait for it.
                auto run = [this, &c](const Chan::Block& b, bool play, int32_t event) {
                    ++c.blocksInFlight;
                    return [this, &c, b, play, event, epoch = play ? c.playEpoch : c.recEpoch] {
                        t_callback = {c.no, play, epoch};
                        b.cb(c.no, event, b.data, b.size, b.user);
                        t_callback = {};
                        {
                            Lock done(m_);
                            --c.blocksInFlight;
                        }
                        blocksDone_.notify_all();
                    };
                };
                if (!c.recBlocks.empty()) {
                    Chan::Block b = c.recBlocks.front();
                    c.recBlocks.pop_front();
                    std::vector<uint8_t> got = TakeInput(c, size_t(b.size));
                    std::memcpy(b.data, got.data(), got.size());
                    later.fns.push_back(run(b, false, kBlockRecorded));
                }
                if (!c.playBlocks.empty()) {
                    Chan::Block b = c.playBlocks.front();
                    c.playBlocks.pop_front();
                    c.output.insert(c.output.end(), b.data, b.data + b.size);
                    later.fns.push_back(run(b, true, kBlockPlayed));
                }
            }
        }
        pl.lock();
    }
}

// ---- DTMF, audio and fax from the far end

int32_t CardSim::FeedAudio(int32_t ch, const std::string& file) {
    std::vector<uint8_t> bytes;
    if (!ReadVoiceAlaw(ResolvePath(file), bytes)) return FarRefuse("cannot read " + file + " as a voice file");
    return FeedBytes(ch, bytes);
}

int32_t CardSim::FeedBytes(int32_t ch, const std::vector<uint8_t>& alaw) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->input.size() + alaw.size() > MsToBytes(kMaxFarSoundMs))
        return FarRefuse("sound queue full (" + std::to_string(BytesToMs(c->input.size())) + " of " +
                         std::to_string(kMaxFarSoundMs) + " ms not yet heard)");
    c->input.insert(c->input.end(), alaw.begin(), alaw.end());
    Notify(*c);
    return 0;
}

std::vector<uint8_t> CardSim::TakeOutput(int32_t ch) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return {};
    return std::exchange(c->output, {});
}

int32_t CardSim::QueueFax(int32_t ch, const std::string& tiff) {
    const std::string path = ResolvePath(tiff);
    if (!FileHandle::Open(path.c_str(), "rb")) return FarRefuse("cannot read " + tiff);
    if (TiffPages(path, true) <= 0) return FarRefuse(tiff + " is not a TIFF fax file of bilevel pages");
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->faxInbox.size() >= kMaxFarFaxes)
        return FarRefuse("fax queue full (" + std::to_string(kMaxFarFaxes) + " documents not yet received)");
    c->faxInbox.push_back(path);
    Notify(*c);
    return 0;
}

int32_t CardSim::DeliverFsk(int32_t ch, const std::vector<uint8_t>& frame) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->fskIn.size() >= kMaxFarFsk)
        return FarRefuse("FSK queue full (" + std::to_string(kMaxFarFsk) + " frames not yet read)");
    c->fskIn.push_back(frame);
    Notify(*c);
    return 0;
}

// ---- Fax

int32_t CardSim::SsmFaxStartSend(int32_t ch, const char* file) {
    SIM_CHAN(SsmFaxStartSend, ch, file);
    std::string path = ResolvePath(file ? file : "");
    int32_t pages = TiffPages(path);
    if (c->type != 5 && c->type != 9) {
        lastError_ = "not a fax channel";
        return Note("SsmFaxStartSend", -1, ch, file);
    }
    if (pages <= 0) {
        lastError_ = "not a TIFF fax file: " + path;
        return Note("SsmFaxStartSend", -1, ch, file);
    }
    c->faxMode = 1;
    c->faxFile = path;
    c->faxStart = GetTickCount();
    c->faxMs = uint32_t(pages * faxPageMs_);
    c->faxEnd = 0;
    c->faxPages = pages;
    c->faxSettled = false;
    return Note("SsmFaxStartSend", 0, ch, file);
}

int32_t CardSim::SsmFaxStartRecv(int32_t ch, const char* file) {
    SIM_CHAN(SsmFaxStartRecv, ch, file);
    std::string path = MapPath(file ? file : "");
    if (c->type != 5 && c->type != 9) {
        lastError_ = "not a fax channel";
        return Note("SsmFaxStartRecv", -1, ch, file);
    }
    c->faxMode = 2;
    c->faxFile = path;
    c->faxStart = GetTickCount();
    c->faxMs = uint32_t(faxPageMs_);
    c->faxEnd = 0;
    c->faxPages = 0;
    c->faxSettled = false;
    return Note("SsmFaxStartRecv", 0, ch, file);
}

// A send is delivered: the line it talks with keeps the file among the faxes sent. A receive takes the first
// document waiting at the fax channel or at a line it talks with; with none it waits up to a minute.
void CardSim::EndFax(Chan& c) {
    if (c.faxMode == 1) {
        c.faxEnd = kFaxEnded;
        c.faxSent.push_back(c.faxFile);
        for (int32_t t : c.talk)
            if (Chan* line = At(t)) line->faxSent.push_back(c.faxFile);
        return;
    }
    std::deque<std::string>* inbox = c.faxInbox.empty() ? nullptr : &c.faxInbox;
    for (int32_t t : c.talk)
        if (Chan* line = At(t); !inbox && line && !line->faxInbox.empty()) inbox = &line->faxInbox;
    if (!inbox) {
        if (c.faxMs < kFaxRecvWaitMs)
            c.faxMs += uint32_t(faxPageMs_);
        else
            c.faxEnd = kFaxFailed;
        return;
    }
    std::error_code ec;
    std::filesystem::copy_file(inbox->front(), c.faxFile, std::filesystem::copy_options::overwrite_existing, ec);
    inbox->pop_front();
    c.faxPages = ec ? 0 : TiffPages(c.faxFile);
    c.faxEnd = c.faxPages > 0 ? kFaxEnded : kFaxFailed;
}

int32_t CardSim::SsmFaxStop(int32_t ch) {
    SIM_CHAN(SsmFaxStop, ch);
    if (c->faxMode && c->faxEnd == 0) c->faxEnd = kFaxFailed;
    c->faxMode = 0;
    return Note("SsmFaxStop", 0, ch);
}

// The end is first reported as settling (3) once, as the card does while it closes the session.
int32_t CardSim::SsmFaxCheckEnd(int32_t ch) {
    SIM_CHAN(SsmFaxCheckEnd, ch);
    if (!c->faxMode) return Note("SsmFaxCheckEnd", 1, ch);
    if (c->faxEnd == 0) return Note("SsmFaxCheckEnd", 0, ch);
    if (!c->faxSettled) {
        c->faxSettled = true;
        return Note("SsmFaxCheckEnd", kFaxSettling, ch);
    }
    return Note("SsmFaxCheckEnd", c->faxEnd, ch);
}

int32_t CardSim::SsmFaxGetPages(int32_t ch) {
    SIM_CHAN(SsmFaxGetPages, ch);
    return Note("SsmFaxGetPages", c->faxPages, ch);
}

int32_t CardSim::SsmFaxSetLocalId(int32_t ch, const char* id) {
    SIM_CHAN(SsmFaxSetLocalId, ch, id);
    c->faxLocalId = id ? id : "";
    return Note("SsmFaxSetLocalId", 0, ch, id);
}

// ---- FSK: the send buffer carries the frame as it is; the channels that hear the sender receive it.

int32_t CardSim::SsmFskConvert(const uint8_t* frame, int32_t len, int32_t value, int32_t b, uint8_t* out,
                               int32_t outSize) {
    SIM_CALL(SsmFskConvert, frame, len, value, b);
    if (!frame || !out || len <= 0) return Note("SsmFskConvert", -1, frame, len, value, b);
    int32_t n = std::min(len, outSize);
    std::memcpy(out, frame, size_t(n));
    return Note("SsmFskConvert", n, frame, len, value, b);
}

int32_t CardSim::SsmStartSendFSK(int32_t ch, const uint8_t* buf, int32_t len) {
    SIM_CHAN(SsmStartSendFSK, ch, buf, len);
    if (!buf || len <= 0) return Note("SsmStartSendFSK", 0, ch, buf, len);
    std::vector<uint8_t> frame(buf, buf + len);
    c->fskSent.push_back(frame);
    for (Chan* h : HearersOf(*c)) {
        h->fskIn.push_back(frame);
        Notify(*h);
    }
    c->fskTxOn = true;
    c->fskTxEnd = GetTickCount() + 100 + uint32_t(len) * 25 / 3; // 1200 baud, ten bits a byte
    return Note("SsmStartSendFSK", len, ch, buf, len);
}

int32_t CardSim::SsmChkSendFsk(int32_t ch) {
    SIM_CHAN(SsmChkSendFsk, ch);
    return Note("SsmChkSendFsk", c->fskTxOn ? 0 : 1, ch);
}

int32_t CardSim::SsmStopSendFsk(int32_t ch) {
    SIM_CHAN(SsmStopSendFsk, ch);
    c->fskTxOn = false;
    return Note("SsmStopSendFsk", 0, ch);
}

int32_t CardSim::SsmStartRcvFSK_II(int32_t ch, uint16_t timeoutMs, int32_t b, const char* mark, int32_t cc) {
    SIM_CHAN(SsmStartRcvFSK_II, ch, int32_t(timeoutMs), b, mark, cc);
    c->fskRxOn = true;
    c->fskRxStart = GetTickCount();
    c->fskRxTimeout = timeoutMs;
    c->fskRx.clear();
    Advance(*c, later.fns);
    return Note("SsmStartRcvFSK_II", 0, ch, int32_t(timeoutMs), b, mark, cc);
}

int32_t CardSim::SsmChkRcvFsk(int32_t ch) {
    SIM_CHAN(SsmChkRcvFsk, ch);
    if (!c->fskRxOn) return Note("SsmChkRcvFsk", -1, ch);
    if (!c->fskRx.empty()) return Note("SsmChkRcvFsk", int32_t(c->fskRx.size()) + 1, ch);
    if (c->fskRxTimeout && TicksSince(c->fskRxStart) >= c->fskRxTimeout) return Note("SsmChkRcvFsk", 1, ch);
    return Note("SsmChkRcvFsk", 0, ch);
}

int32_t CardSim::SsmGetRcvFsk(int32_t ch, uint8_t* buf, int32_t size) {
    SIM_CHAN(SsmGetRcvFsk, ch, buf, size);
    int32_t n = buf ? std::min(size, int32_t(c->fskRx.size())) : 0;
    if (n > 0) std::memcpy(buf, c->fskRx.data(), size_t(n));
    return Note("SsmGetRcvFsk", n, ch, buf, size);
}

int32_t CardSim::SsmStopRcvFsk(int32_t ch) {
    SIM_CHAN(SsmStopRcvFsk, ch);
    c->fskRxOn = false;
    c->fskRx.clear();
    return Note("SsmStopRcvFsk", 0, ch);
}

} // namespace zz
