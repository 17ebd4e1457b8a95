#include "telephony/TagKvCall.h"

namespace zz {

// Placeholder until the speech layer replaces this file with the real speech of a text on the line: no speech
// engine yet, so the line answers as one that cannot speak.
int TagKvCall::TxtSpeak(const char*, int32_t, int32_t, int32_t) {
    return -1;
}

} // namespace zz
