// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Plays the game's cues through the game's own player when asked, and says when it asked.
// Usage: mojitan-cueprobe SOUND_DIR. Each number read names a cue (0 key, 1 wrong, 2 win);
// for each, one line comes back with the steady clock's reading, in nanoseconds, taken just
// before the play() call.
#include "pulsecueplayer.h"

#include <chrono>
#include <iostream>

int main(int argc, char *argv[])
{
    const std::string dir = argc > 1 ? argv[1] : "sound";
    const std::vector<std::string> cues{dir + "/key.wav", dir + "/wrong.wav", dir + "/win.wav"};
    mojitan::PulseCuePlayer player(cues);
    player.start();
    for (std::size_t cue; std::cin >> cue;) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        player.play(cues.at(cue));
        std::cout << std::chrono::nanoseconds(now).count() << std::endl;
    }
}
