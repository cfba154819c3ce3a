#pragma once

#include "services.h"

#include <map>
#include <memory>
#include <string>

namespace mojitan {

// Plays cue files through SDL_mixer, mixing any number of them at once.
//
// The audio device is opened once, in the constructor, and stays open for the life of the
// player: opening it per cue costs tens of milliseconds and a freshly opened stream can
// swallow its first sound. Each file is read once and kept in memory; a file that cannot be
// read, or a machine without any sound output, is silent and earns one line on standard
// error. SDL_mixer is process-wide state, so there is at most one player at a time.
class SdlCuePlayer final : public CuePlayer {
public:
    SdlCuePlayer();
    ~SdlCuePlayer() override;
    SdlCuePlayer(const SdlCuePlayer &) = delete;
    SdlCuePlayer &operator=(const SdlCuePlayer &) = delete;

    // Returns as soon as the cue is queued for mixing; it never waits for the sound.
    void play(const std::string &path) override;
    // Reads a cue ahead of its first play, so that the first play only has to start it.
    void preload(const std::string &path);
    // False when no audio device could be opened; every cue is silent then.
    bool isOpen() const { return m_open; }

private:
    struct Cue;
    Cue *cue(const std::string &path);

    bool m_open = false;
    // Every path asked for so far; null for a file that could not be loaded, so it is
    // reported once and not read again.
    std::map<std::string, std::unique_ptr<Cue>> m_cues;
};

} // namespace mojitan
