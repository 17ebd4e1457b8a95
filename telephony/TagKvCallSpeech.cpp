#include "media/TagTTS.h"
#include "telephony/TagKvCall.h"

namespace zz {

// Speaks on the PC sound card's default device: the line's play stops first, and the line waits on its wake event
// until the speech has been spoken (at least 1800 ms once it started) or the line is stopped, which cuts the
// speech off.
// a: the text is markup (with b) or names a file to speak instead of Chinese text; soundCard: speak at all.
int TagKvCall::TxtSpeak(const char* text, int32_t a, int32_t b, int32_t soundCard) {
    return SpeakOnSoundCard(
        text ? text : "", a != 0, b != 0, soundCard != 0, [this] { StopPlay(); }, wake,
        [this] { return stopFlag.load(std::memory_order_acquire); });
}

} // namespace zz
