// The sound-card player of the base call: the media layer's TagWavePlay on the default device.
#include "media/TagWavePlay.h"
#include "platform/audio/Audio.h"
#include "telephony/TagPcPlayer.h"

namespace zz {

namespace {

class WavePcPlayer : public TagPcPlayer {
public:
    WavePcPlayer(const char* file, int volume) : play_(file, volume, kWaveMapper) {}
    int Status() const override { return play_.status; }
    void Play(const char* file, int volume) override { play_.Play(file, volume); }
    void SetLoop(bool on) override { play_.SetLoop(on ? 1 : 0); }
    bool IsFinished() override { return play_.IsFinished() != 0; }
    void Stop() override { play_.Stop(); }
    void SetWake(WakeEvent* wake) override { play_.SetWake(wake); }

private:
    TagWavePlay play_;
};

} // namespace

std::unique_ptr<TagPcPlayer> MakeSoundCardPlayer(const char* file, int volume) {
    return std::make_unique<WavePcPlayer>(file, volume);
}

} // namespace zz
