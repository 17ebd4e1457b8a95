// libre's timer start, with the same list and order, looking for the place from the nearer end.
//
// libre keeps a thread's timers in one list sorted by expiry and looks for a new timer's place from the tail. Each
// answered INVITE leaves its server transaction alive for 32 s (RFC 6026), so at 500 calls a second the list holds
// some 16,000 timers that expire late, and every short timer (a retransmission after 500 ms, a transaction's 5 s)
// walked past all of them: the SIP thread spent most of its time there and fell behind. Defined here, this
// tmr_start takes the place of libre's for libre itself (its calls go through the dynamic linker): it walks from
// the head when the new expiry is nearer the head's, so a short timer passes only the timers due before it.
#include "telephony/sip/ReHeaders.h"

extern "C" {

struct list* tmrl_get(void);

void tmr_start(struct tmr* tmr, uint64_t delay, tmr_h* th, void* arg) {
    if (!tmr) return;
    if (tmr->th) list_unlink(&tmr->le);
    tmr->th = th;
    tmr->arg = arg;
    if (!th) return; // a cancel
    struct list* l = tmrl_get();
    tmr->jfs = delay + tmr_jiffies();
    // The new timer goes after every timer due at the same time or before, as libre orders them.
    le* head = list_head(l);
    le* tail = list_tail(l);
    if (!head) {
        list_append(l, &tmr->le, tmr);
        return;
    }
    const uint64_t headJfs = static_cast<struct tmr*>(head->data)->jfs;
    const uint64_t tailJfs = static_cast<struct tmr*>(tail->data)->jfs;
    if (tmr->jfs >= tailJfs) {
        list_append(l, &tmr->le, tmr);
    } else if (tmr->jfs < headJfs) {
        list_prepend(l, &tmr->le, tmr);
    } else if (tmr->jfs - headJfs < tailJfs - tmr->jfs) {
        le* e = head;
        while (e && static_cast<struct tmr*>(e->data)->jfs <= tmr->jfs)
            e = e->next;
        list_insert_before(l, e, &tmr->le, tmr); // e exists: the tail is due later
    } else {
        le* e = tail;
        while (e && static_cast<struct tmr*>(e->data)->jfs > tmr->jfs)
            e = e->prev;
        list_insert_after(l, e, &tmr->le, tmr); // e exists: the head is due no later
    }
}

} // extern "C"
