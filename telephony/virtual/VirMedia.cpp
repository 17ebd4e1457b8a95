#include "telephony/virtual/VirMedia.h"

#include <atomic>

namespace zz {

namespace {

// No media library: no channel can be had, so no virtual line can be linked.
class NoMedia : public VirMedia {
public:
    int ms_external_channel_create(int& ch) override {
        ch = 0;
        return -1;
    }
    int ms_external_channel_start(int, int) override { return -1; }
    int ms_push_data(int, const uint8_t*, int) override { return -1; }
    int ms_get_data(int, uint8_t*, int) override { return -1; }
    int ms_channel_stop(int) override { return -1; }
    int ms_channel_destory(int) override { return -1; }
};

std::atomic<VirMedia*> g_media{nullptr};

} // namespace

VirMedia& GetVirMedia() {
    static NoMedia none;
    VirMedia* m = g_media.load();
    return m ? *m : none;
}

void SetVirMedia(VirMedia* media) {
    g_media.store(media);
}

} // namespace zz
