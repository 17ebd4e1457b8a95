#pragma once
// Per-line state of a builtin family (databases, voice settings, speech, print target, timers, messages...):
// the line's main program owns one record per family, made on first use and deleted with the program. Function
// units and programs started by RunKvs reach their line's records through GetRoot and carry none themselves.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace zz {

class TagTelBasic;

// One slot per family; records are deleted in this order when the program goes (voice files first, as the
// program's temporary voice files are the first thing it removes).
enum class LineFamily : uint8_t {
    kVoice,
    kSpeech,
    kDatabase,
    kPrint,
    kTimers,
    kLineSettings,
    kMessages,
    kShareMem,
    kTextFiles,
    kSockets,
    kUserLib,
    kRunKvs,
    kSip,
    kCount
};

class TagLineState {
public:
    virtual ~TagLineState() = default;
    // The line's main flow has stopped running (its program may run again after a restart).
    virtual void OnRunEnd() {}
};

// The records of one main program. Made on first use; a record another line's thread makes at the same time
// (a message into this line's mailbox) is made once.
class TagLineStates {
public:
    TagLineStates() = default;
    ~TagLineStates() { Clear(); }
    TagLineStates(const TagLineStates&) = delete;
    TagLineStates& operator=(const TagLineStates&) = delete;

    TagLineState* Get(LineFamily f) const { return slots_[Index(f)].load(std::memory_order_acquire); }
    // Installs fresh unless a record is there already; returns the record in force.
    TagLineState* Install(LineFamily f, std::unique_ptr<TagLineState> fresh) {
        TagLineState* expected = nullptr;
        if (slots_[Index(f)].compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel))
            return fresh.release();
        return expected;
    }
    void OnRunEnd() {
        for (auto& s : slots_)
            if (TagLineState* r = s.load(std::memory_order_acquire)) r->OnRunEnd();
    }
    void Drop(LineFamily f) { delete slots_[Index(f)].exchange(nullptr, std::memory_order_acq_rel); }
    // Deletes the records in family order.
    void Clear() {
        for (auto& s : slots_)
            delete s.exchange(nullptr, std::memory_order_acq_rel);
    }

private:
    static size_t Index(LineFamily f) { return static_cast<size_t>(f); }
    std::array<std::atomic<TagLineState*>, static_cast<size_t>(LineFamily::kCount)> slots_{};
};

} // namespace zz
