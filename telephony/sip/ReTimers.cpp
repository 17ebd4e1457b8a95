// libre's timer start, with the same list and order, finding a new timer's place without walking the list.
//
// libre keeps a thread's timers in one list sorted by expiry and looks for a new timer's place from the tail. Each
// answered INVITE leaves its server transaction alive for 32 s (RFC 6026) and each BYE its transaction for 5 to
// 32 s, so at 500 calls a second the list holds some 20,000 timers, and every timer started in the middle of it
// (a transaction's 5 s, a retransmission's 500 ms) walked past thousands of them: the SIP thread spent most of its
// time there, more as calls accumulated. Defined here, this tmr_start takes the place of libre's for libre itself
// (its calls go through the dynamic linker).
//
// The list stays libre's own (its poll takes the head, a cancel unlinks), and marks of ours go into it: one timer
// that does nothing at the start of each 16 ms of expiry that holds timers. A new timer's place is found from the
// mark of its 16 ms, found in a map, so it passes only the timers due in those 16 ms before it. A mark leaves the
// list when its time comes, like any timer; a timer due in 16 ms already begun is placed from the head, past only
// the timers due by then.
#include "telephony/sip/ReHeaders.h"

#include <map>
#include <mutex>

extern "C" struct list* tmrl_get(void);

namespace {

constexpr uint64_t kSliceMs = 16;

struct Mark {
    struct tmr t;
    struct list* list;
    uint64_t slice;
};

// The marks of every timer list by slice. libre's context (and its list) may outlive the thread that ran it and
// serve the next one, so the marks belong to the list, not to a thread; they are never freed but by their time
// coming, and stay reachable from the list. The lock only matters if two libre contexts ran at once.
std::mutex marksLock;
std::map<struct list*, std::map<uint64_t, Mark*>>& Marks() {
    static auto* marks = new std::map<struct list*, std::map<uint64_t, Mark*>>;
    return *marks;
}

void MarkDue(void* arg) {
    auto* m = static_cast<Mark*>(arg);
    {
        std::lock_guard<std::mutex> g(marksLock);
        Marks()[m->list].erase(m->slice);
    }
    delete m; // libre's poll has unlinked it
}

// Inserts t into l after every timer due no later than t, walking forward from `from` (the head when null).
void InsertFrom(struct list* l, le* from, struct tmr* t) {
    le* e = from ? from : list_head(l);
    if (!e || static_cast<struct tmr*>(e->data)->jfs > t->jfs) {
        // Before the head (from is only ever a timer due no later than t).
        list_prepend(l, &t->le, t);
        return;
    }
    while (e->next && static_cast<struct tmr*>(e->next->data)->jfs <= t->jfs)
        e = e->next;
    list_insert_after(l, e, &t->le, t);
}

// The mark of the slice in l, made and placed when there is none.
le* MarkOf(struct list* l, uint64_t slice) {
    std::lock_guard<std::mutex> g(marksLock);
    std::map<uint64_t, Mark*>& marks = Marks()[l];
    auto it = marks.lower_bound(slice);
    if (it != marks.end() && it->first == slice) return &it->second->t.le;
    auto* m = new Mark{{}, l, slice};
    tmr_init(&m->t);
    m->t.th = MarkDue;
    m->t.arg = m;
    m->t.jfs = slice * kSliceMs;
    // After every timer due no later than the slice's start: those lie in the slice of the mark before it, or in
    // slices already begun.
    InsertFrom(l, it == marks.begin() ? nullptr : &std::prev(it)->second->t.le, &m->t);
    marks.emplace_hint(it, slice, m);
    return &m->t.le;
}

} // namespace

extern "C" {

void tmr_start(struct tmr* tmr, uint64_t delay, tmr_h* th, void* arg) {
    if (!tmr) return;
    if (tmr->th) list_unlink(&tmr->le);
    tmr->th = th;
    tmr->arg = arg;
    if (!th) return; // a cancel
    struct list* l = tmrl_get();
    const uint64_t now = tmr_jiffies();
    tmr->jfs = delay + now;
    const uint64_t slice = tmr->jfs / kSliceMs;
    // A slice already begun may have lost its mark: the head is as near.
    InsertFrom(l, slice * kSliceMs > now ? MarkOf(l, slice) : nullptr, tmr);
}

} // extern "C"
