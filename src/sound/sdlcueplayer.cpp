#include "sdlcueplayer.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <alsa/asoundlib.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace mojitan {

namespace {

// Enough voices for a fast typist's overlapping clicks plus the fanfare.
constexpr int kVoices = 16;
// 512 frames at 44.1 kHz is 12 ms of mixing ahead: short enough that a cue follows its key
// press without a felt delay, long enough not to stutter on a busy machine.
constexpr int kChunkFrames = 512;

// On a machine without a sound server SDL falls back to ALSA, and ALSA prints its failure to
// find a card straight to standard error. Those lines mean nothing to a player; the one
// warning below says what matters.
void quietAlsa(const char *, int, const char *, int, const char *, ...) {}

void warn(const std::string &what, const char *why)
{
    std::fprintf(stderr, "mojitan: %s: %s\n", what.c_str(), why && *why ? why : "unknown error");
}

} // namespace

// A cue's samples, already converted to the device's format so that playing it is only a
// matter of handing it to the mixer.
struct SdlCuePlayer::Cue {
    std::vector<Uint8> samples;
    Mix_Chunk *chunk = nullptr;

    Cue() = default;
    Cue(const Cue &) = delete;
    Cue &operator=(const Cue &) = delete;
    ~Cue()
    {
        if (chunk)
            Mix_FreeChunk(chunk); // leaves the samples alone: they are ours
    }
};

SdlCuePlayer::SdlCuePlayer()
{
    // SDL would otherwise take over SIGINT and SIGTERM, and Ctrl+C would no longer end the game.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "モジタン");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "効果音");
    snd_lib_error_set_handler(quietAlsa);

    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        warn("no sound", SDL_GetError());
        return;
    }
    if (Mix_OpenAudioDevice(MIX_DEFAULT_FREQUENCY, AUDIO_S16SYS, 2, kChunkFrames, nullptr,
                            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE)
        != 0) {
        warn("no sound", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    Mix_AllocateChannels(kVoices);
    m_open = true;
}

SdlCuePlayer::~SdlCuePlayer()
{
    if (m_open) {
        Mix_HaltChannel(-1);
        m_cues.clear();
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    snd_lib_error_set_handler(nullptr);
}

void SdlCuePlayer::play(const std::string &path)
{
    if (!m_open)
        return;
    Cue *c = cue(path);
    if (!c)
        return;
    if (Mix_PlayChannel(-1, c->chunk, 0) < 0) {
        // Every voice is busy: the oldest sound gives way to the new one, which is the one
        // that belongs to what the player just did.
        const int oldest = Mix_GroupOldest(-1);
        if (oldest >= 0)
            Mix_PlayChannel(oldest, c->chunk, 0);
    }
}

void SdlCuePlayer::preload(const std::string &path)
{
    if (m_open)
        cue(path);
}

SdlCuePlayer::Cue *SdlCuePlayer::cue(const std::string &path)
{
    if (auto known = m_cues.find(path); known != m_cues.end())
        return known->second.get();
    std::unique_ptr<Cue> &slot = m_cues[path];

    // Only WAV files are cues. SDL's own reader is strict about that, where SDL_mixer's
    // loader would try a damaged file as MP3 and might play noise.
    SDL_AudioSpec layout;
    Uint8 *wav = nullptr;
    Uint32 wavBytes = 0;
    if (!SDL_LoadWAV(path.c_str(), &layout, &wav, &wavBytes)) {
        warn("cannot play " + path, SDL_GetError());
        return nullptr;
    }
    int rate = 0, channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&rate, &format, &channels);
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, layout.format, layout.channels, layout.freq, format,
                          static_cast<Uint8>(channels), rate)
        < 0) {
        SDL_FreeWAV(wav);
        warn("cannot play " + path, SDL_GetError());
        return nullptr;
    }
    auto c = std::make_unique<Cue>();
    c->samples.resize(std::size_t(wavBytes) * std::size_t(cvt.len_mult));
    if (wavBytes > 0)
        std::memcpy(c->samples.data(), wav, wavBytes);
    SDL_FreeWAV(wav);
    cvt.buf = c->samples.data();
    cvt.len = static_cast<int>(wavBytes);
    if (cvt.needed && SDL_ConvertAudio(&cvt) != 0) {
        warn("cannot play " + path, SDL_GetError());
        return nullptr;
    }
    c->samples.resize(cvt.needed ? std::size_t(cvt.len_cvt) : wavBytes);
    if (c->samples.empty()) {
        warn("cannot play " + path, "the file holds no sound");
        return nullptr;
    }
    c->chunk = Mix_QuickLoad_RAW(c->samples.data(), static_cast<Uint32>(c->samples.size()));
    if (!c->chunk) {
        warn("cannot play " + path, Mix_GetError());
        return nullptr;
    }
    slot = std::move(c);
    return slot.get();
}

} // namespace mojitan
