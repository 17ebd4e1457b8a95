#pragma once
// What the sound-card bridge of a virtual line needs of the media library: an external channel, whose sound the
// system pushes and takes itself in A-law blocks while the library exchanges it with the SIP calls joined to it.
#include <cstdint>

namespace zz {

class VirMedia {
public:
    virtual ~VirMedia() = default;
    virtual int ms_external_channel_create(int& ch) = 0;
    // Payload type 8: A-law at 8000 Hz.
    virtual int ms_external_channel_start(int ch, int type) = 0;
    virtual int ms_push_data(int ch, const uint8_t* data, int length) = 0;
    // Bytes given (up to length), 0 when none is ready, negative on failure.
    virtual int ms_get_data(int ch, uint8_t* data, int length) = 0;
    virtual int ms_channel_stop(int ch) = 0;
    virtual int ms_channel_destory(int ch) = 0;
};

// The media library in force: the SIP lines' unless a test installed its own (null restores it).
VirMedia& GetVirMedia();
void SetVirMedia(VirMedia* media);

} // namespace zz
