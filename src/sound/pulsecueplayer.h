// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "services.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

struct pa_context;
struct pa_threaded_mainloop;

namespace mojitan {

// Plays cue files through the sound server's sample cache (PulseAudio, or PipeWire's
// PulseAudio service). Each cue is read once and uploaded once per connection; playing it
// is one short request, and the server mixes it, so any number of cues overlap and nothing
// of ours runs, wakes or keeps a stream open while the game is quiet.
//
// No server, or a server that goes away, leaves the game silent with one line on standard
// error per outage; the next cue asked for tries again, so sound returns with the server.
// A file that cannot be read is silent and reported once.
class PulseCuePlayer final : public CuePlayer {
public:
    // The cue files to read and upload as soon as `start()` runs.
    explicit PulseCuePlayer(std::vector<std::string> preload);
    ~PulseCuePlayer() override;
    PulseCuePlayer(const PulseCuePlayer &) = delete;
    PulseCuePlayer &operator=(const PulseCuePlayer &) = delete;

    // Reads the cues and starts connecting in the background; returns at once. A cue asked
    // for earlier, or while the connection comes up, plays as soon as it is uploaded.
    void start();
    // Never waits for the server or for the sound.
    void play(const std::string &path) override;

private:
    struct Cue;
    Cue *cue(const std::string &path);
    void connect();
    void upload(Cue &cue);
    void playNow(Cue &cue);
    void lost();
    static void contextChanged(pa_context *context, void *self);

    std::vector<std::string> m_preload;
    bool m_started = false;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr; // null between connections
    bool m_ready = false;            // connected, cues may be uploaded and played
    bool m_warned = false;           // this outage has been reported
    // Every path asked for; null for a file that could not be read, so it is reported once.
    std::map<std::string, std::unique_ptr<Cue>> m_cues;
};

} // namespace mojitan
