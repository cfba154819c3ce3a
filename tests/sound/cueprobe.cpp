// Drives one SdlCuePlayer from the command line, so a test can watch a real process: what it
// prints, what the sound server hears, and when. Each argument is one step:
//   play:<path>  preload:<path>  sleep:<ms>
// Prints "open <0|1> <ns>" after construction and "play <call> <return>" for every play,
// times in nanoseconds of the monotonic clock, which parent and child share.
#include "sdlcueplayer.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char **argv)
{
    const long long before = nowNs();
    mojitan::SdlCuePlayer player;
    std::printf("open %d %lld\n", player.isOpen() ? 1 : 0, nowNs() - before);
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const auto colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        const std::string arg = colon == std::string::npos ? "" : step.substr(colon + 1);
        if (verb == "play") {
            const long long call = nowNs();
            player.play(arg);
            std::printf("play %lld %lld\n", call, nowNs());
        } else if (verb == "preload") {
            player.preload(arg);
        } else if (verb == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(arg)));
        } else {
            std::fprintf(stderr, "cueprobe: unknown step %s\n", step.c_str());
            return 2;
        }
    }
    std::fflush(stdout);
    return 0;
}
