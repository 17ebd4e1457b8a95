#pragma once
// What the base call's sound-card play needs of a player: by default the media layer's TagWavePlay on the
// default device; tests install a scripted one with SetPcPlayerMaker.
#include <functional>
#include <memory>

namespace zz {

class WakeEvent;

class TagPcPlayer {
public:
    virtual ~TagPcPlayer() = default;
    // Negative when the last file or the device could not be opened.
    virtual int Status() const = 0;
    // Opens another file on this player and starts it.
    virtual void Play(const char* file, int volume) = 0;
    // Set: the player restarts the file at its end by itself.
    virtual void SetLoop(bool on) = 0;
    virtual bool IsFinished() = 0;
    virtual void Stop() = 0;
    // The event to signal whenever a play ends (by itself or stopped); the waiting line blocks on it.
    virtual void SetWake(WakeEvent* wake) = 0;
};

// Opens the file on the sound card with volume 0..100 and starts playing; null when no player can be made.
using PcPlayerMaker = std::function<std::unique_ptr<TagPcPlayer>(const char* file, int volume)>;

// An empty maker restores the sound-card player.
void SetPcPlayerMaker(PcPlayerMaker maker);
std::unique_ptr<TagPcPlayer> MakePcPlayer(const char* file, int volume);
// TagWavePlay on the default device.
std::unique_ptr<TagPcPlayer> MakeSoundCardPlayer(const char* file, int volume);

} // namespace zz
