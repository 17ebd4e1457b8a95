#pragma once
// The journal entry and locking shape shared by every library call of the simulated card. Internal to CardSim.
#include "telephony/card/CardSimChan.h"

#include <string>

namespace zz {

namespace simdetail {
inline void Arg(std::string& s, int32_t v) {
    s += std::to_string(v);
}
inline void Arg(std::string& s, const char* v) {
    s += '"';
    s += v ? v : "";
    s += '"';
}
inline void Arg(std::string& s, const std::string& v) {
    Arg(s, v.c_str());
}
inline void Arg(std::string& s, const uint8_t* p) {
    s += p ? "buf" : "null";
}
} // namespace simdetail

template <class... A> int32_t CardSim::Note(const char* fn, int32_t result, const A&... args) {
    std::string s = fn;
    s += '(';
    bool first = true;
    ((s += first ? "" : ", ", first = false, simdetail::Arg(s, args)), ...);
    s += ") = " + std::to_string(result);
    AddJournal(std::move(s));
    return result;
}

// Every library call: takes the lock (callbacks collected in `later` run once it is released), answers an
// injected failure, refuses a channel out of range and brings the channel up to the Clock's time.
#define SIM_CALL(name, ...)                                                                                            \
    RunLater later;                                                                                                    \
    Lock lk(m_);                                                                                                       \
    if (auto injected = Injected(#name)) return Note(#name, *injected, __VA_ARGS__)
#define SIM_CHAN(name, ch, ...)                                                                                        \
    SIM_CALL(name, ch, ##__VA_ARGS__);                                                                                 \
    Chan* c = At(ch);                                                                                                  \
    if (!c) return BadChannel(#name, ch);                                                                              \
    Advance(*c, later.fns)

} // namespace zz
