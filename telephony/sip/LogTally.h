#pragma once
// Events that peers can cause in floods (datagrams that are no SIP message, responses that match no request, the
// SIP library's own complaints about connections): the first of a spell goes to the run log at once, the rest are
// counted and summed up in one line a minute, so that no peer can fill the run log or standard error.
#include <cstdint>
#include <mutex>
#include <string>

namespace zz {

class LogTally {
public:
    // what names the events in the summary ("datagrams were no SIP message").
    explicit LogTally(std::string what) : what_(std::move(what)) {}

    // Counts one from any thread; first is its run-log line when it opens a spell, last how the summary names it.
    void Note(const std::string& first, const std::string& last);
    // Writes one line of the events since the last summary (when, e.g., "in the last minute"); a summary with none
    // ends the spell, so that the next one is logged at once.
    void Summarise(const char* when);
    uint64_t Count() const;

private:
    mutable std::mutex m_;
    const std::string what_;
    uint64_t count_ = 0, summed_ = 0;
    bool spell_ = false;
    std::string last_;
};

// Text from a peer or from libre fit for one run-log line: escape sequences (libre's colours, a peer's tricks) and
// control characters taken out, line ends made spaces.
std::string PrintableText(const char* p, size_t len);

} // namespace zz
