#include "telephony/sip/LogTally.h"

#include "platform/TagWriteLog.h"

namespace zz {

void LogTally::Note(const std::string& first, const std::string& last) {
    std::lock_guard<std::mutex> g(m_);
    ++count_;
    last_ = last;
    if (spell_) return;
    spell_ = true;
    summed_ = count_;
    WriteRunLogF("%s (more are counted each minute)", first.c_str());
}

void LogTally::Summarise(const char* when) {
    std::lock_guard<std::mutex> g(m_);
    const uint64_t more = count_ - summed_;
    if (!more) {
        spell_ = false;
        return;
    }
    WriteRunLogF("SIP: %llu more %s %s (the last %s)", static_cast<unsigned long long>(more), what_.c_str(), when,
                 last_.c_str());
    summed_ = count_;
}

uint64_t LogTally::Count() const {
    std::lock_guard<std::mutex> g(m_);
    return count_;
}

std::string PrintableText(const char* p, size_t len) {
    std::string out;
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == 0x1b) {
            // An escape sequence: ESC [ parameters, then the final letter.
            if (i + 1 < len && p[i + 1] == '[') {
                i += 2;
                while (i < len && !(p[i] >= 0x40 && p[i] <= 0x7e))
                    ++i;
            }
            continue;
        }
        if (c == '\r' || c == '\n' || c == '\t') {
            if (!out.empty() && out.back() != ' ') out += ' ';
            continue;
        }
        if (c >= 0x20) out += char(c);
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace zz
