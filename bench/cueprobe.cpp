// Plays the game's cues through the game's own player when asked, and says when it asked.
// Usage: mojitan-cueprobe SOUND_DIR. Each line read names cues by number (0 key, 1 wrong,
// 2 win), played 1 ms apart; for each line one line comes back with the steady clock
// reading, in nanoseconds, taken just before each play() call.
#include "pulsecueplayer.h"

#include <chrono>
#include <iostream>
#include <thread>

int main(int argc, char *argv[])
{
    const std::string dir = argc > 1 ? argv[1] : "sound";
    const std::vector<std::string> cues{dir + "/key.wav", dir + "/wrong.wav", dir + "/win.wav"};
    mojitan::PulseCuePlayer player(cues);
    player.start();
    for (std::string line; std::getline(std::cin, line);) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            player.play(cues.at(std::size_t(line[i] - '0') % cues.size()));
            std::cout << std::chrono::nanoseconds(now).count() << ' ';
        }
        std::cout << std::endl;
    }
}
