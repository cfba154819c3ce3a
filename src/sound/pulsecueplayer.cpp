// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "pulsecueplayer.h"

#include <pulse/pulseaudio.h>
#include <sndfile.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace mojitan {

namespace {

// The server's sample cache takes nothing bigger; no cue comes near it.
constexpr sf_count_t kLargestCueBytes = 16 * 1024 * 1024;

void warn(const std::string &what, const char *why)
{
    std::fprintf(stderr, "mojitan: %s: %s\n", what.c_str(), why);
}

// The server's names take letters, digits, '.', '-' and '_' only. The cache is shared by all
// its clients, so the name tells which file it holds: installs of the game never meet.
std::string sampleName(const std::string &path)
{
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(path));
    std::string name = "mojitan-" + path.substr(path.find_last_of('/') + 1, 40) + '-' + hash;
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '.' && ch != '-')
            ch = '_';
    return name;
}

} // namespace

struct PulseCuePlayer::Cue {
    std::string name; // the sample's name in the server's cache
    pa_sample_spec format{};
    std::vector<std::int16_t> pcm;
    pa_stream *upload = nullptr; // while it is being uploaded
    bool uploaded = false;       // in the cache of the current connection
    bool pending = false;        // asked for before it was uploaded
    PulseCuePlayer *player = nullptr;
};

PulseCuePlayer::PulseCuePlayer(std::vector<std::string> preload)
    : m_preload(std::move(preload))
{
}

PulseCuePlayer::~PulseCuePlayer()
{
    if (!m_loop)
        return;
    // With the loop's thread gone no callback can run, and the teardown reports nothing.
    pa_threaded_mainloop_stop(m_loop);
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        for (auto &[path, c] : m_cues)
            if (c && c->upload) {
                pa_stream_set_state_callback(c->upload, nullptr, nullptr);
                pa_stream_unref(c->upload);
            }
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    pa_threaded_mainloop_free(m_loop);
}

void PulseCuePlayer::start()
{
    if (m_started)
        return;
    m_started = true;
    m_loop = pa_threaded_mainloop_new();
    // Named before it starts: once it runs, libpulse would rename the calling thread instead,
    // and the game's own process would no longer answer to its name.
    if (m_loop)
        pa_threaded_mainloop_set_name(m_loop, "mojitan-sound");
    if (!m_loop || pa_threaded_mainloop_start(m_loop) < 0) {
        warn("no sound", "cannot start the sound thread");
        if (m_loop)
            pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        return;
    }
    pa_threaded_mainloop_lock(m_loop);
    for (const std::string &path : m_preload)
        cue(path);
    connect();
    pa_threaded_mainloop_unlock(m_loop);
}

void PulseCuePlayer::play(const std::string &path)
{
    start();
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    if (Cue *c = cue(path)) {
        if (c->uploaded) {
            playNow(*c);
        } else {
            c->pending = true;
            if (!m_context)
                connect(); // the server may be back
            else if (m_ready && !c->upload)
                upload(*c);
        }
    }
    pa_threaded_mainloop_unlock(m_loop);
}

PulseCuePlayer::Cue *PulseCuePlayer::cue(const std::string &path)
{
    if (auto known = m_cues.find(path); known != m_cues.end())
        return known->second.get();
    std::unique_ptr<Cue> &slot = m_cues[path];

    // Whatever the file holds, the server gets 16-bit samples at the file's own rate.
    SF_INFO info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        warn("cannot play " + path, sf_strerror(nullptr));
        return nullptr;
    }
    auto c = std::make_unique<Cue>();
    c->format = {PA_SAMPLE_S16NE, std::uint32_t(info.samplerate), std::uint8_t(info.channels)};
    const bool fits = info.channels > 0 && info.channels <= int(PA_CHANNELS_MAX) && info.frames > 0
        && info.frames <= kLargestCueBytes / 2 / info.channels && pa_sample_spec_valid(&c->format);
    if (fits) {
        c->pcm.resize(std::size_t(info.frames * info.channels));
        const sf_count_t got = sf_readf_short(file, c->pcm.data(), info.frames);
        c->pcm.resize(std::size_t(got > 0 ? got * info.channels : 0));
    }
    sf_close(file);
    if (c->pcm.empty()) {
        warn("cannot play " + path, "the file holds no sound this game can play");
        return nullptr;
    }
    c->name = sampleName(path);
    c->player = this;
    slot = std::move(c);
    if (m_ready)
        upload(*slot);
    return slot.get();
}

void PulseCuePlayer::connect()
{
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "モジタン");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "mojitan");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "mojitan");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "game");
    m_context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "モジタン", props);
    pa_proplist_free(props);
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, contextChanged, this);
    // Starting a sound server is the desktop's business, not a game's.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 && m_context)
        lost();
}

void PulseCuePlayer::contextChanged(pa_context *context, void *self)
{
    auto *player = static_cast<PulseCuePlayer *>(self);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        player->m_ready = true;
        player->m_warned = false;
        for (auto &[path, c] : player->m_cues)
            if (c && !c->upload)
                player->upload(*c);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        player->lost();
        break;
    default:
        break;
    }
}

void PulseCuePlayer::lost()
{
    if (!m_warned)
        warn("no sound", pa_strerror(pa_context_errno(m_context)));
    m_warned = true;
    m_ready = false;
    for (auto &[path, c] : m_cues)
        if (c)
            c->uploaded = c->pending = false;
    // Its upload streams fail with it and let go of themselves.
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void PulseCuePlayer::upload(Cue &c)
{
    c.upload = pa_stream_new(m_context, c.name.c_str(), &c.format, nullptr);
    if (!c.upload)
        return;
    pa_stream_set_state_callback(
        c.upload,
        [](pa_stream *stream, void *data) {
            Cue &c = *static_cast<Cue *>(data);
            const pa_stream_state_t state = pa_stream_get_state(stream);
            if (state == PA_STREAM_READY) {
                pa_stream_write(stream, c.pcm.data(), c.pcm.size() * sizeof c.pcm[0], nullptr, 0,
                                PA_SEEK_RELATIVE);
                pa_stream_finish_upload(stream);
            } else if (state == PA_STREAM_TERMINATED || state == PA_STREAM_FAILED) {
                // Terminated is the end of a finished upload; failed goes with a lost server.
                pa_stream_set_state_callback(stream, nullptr, nullptr);
                pa_stream_unref(stream);
                c.upload = nullptr;
                c.uploaded = state == PA_STREAM_TERMINATED;
                if (c.uploaded && c.pending)
                    c.player->playNow(c);
            }
        },
        &c);
    pa_stream_connect_upload(c.upload, c.pcm.size() * sizeof c.pcm[0]);
}

void PulseCuePlayer::playNow(Cue &c)
{
    c.pending = false;
    if (pa_operation *op = pa_context_play_sample(m_context, c.name.c_str(), nullptr,
                                                  PA_VOLUME_NORM, nullptr, nullptr))
        pa_operation_unref(op);
}

} // namespace mojitan
