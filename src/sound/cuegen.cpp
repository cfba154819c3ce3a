// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Writes the game's three cue sounds, synthesised from scratch, as 16-bit mono PCM WAV files:
//   key.wav    a crisp click for a correct key, 50 ms
//   wrong.wav  a low buzz for a wrong key, 250 ms
//   win.wav    a rising fanfare for a new record, about 1.1 s
// Usage: mojitan-cuegen <folder>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

using Samples = std::vector<double>;

int frames(double seconds)
{
    return static_cast<int>(std::lround(seconds * kRate));
}

// Short linear ramps at both ends: a sound that starts or stops at full level clicks, and
// the ramps give every cue a well-defined start and end.
void fadeEnds(Samples &s, double in, double out)
{
    const int n = static_cast<int>(s.size());
    const int a = std::min(frames(in), n), r = std::min(frames(out), n);
    for (int i = 0; i < a; ++i)
        s[i] *= double(i) / a;
    for (int i = 0; i < r; ++i)
        s[n - 1 - i] *= double(i) / r;
}

// A tiny deterministic noise source, so the build makes the same files every time.
class Noise {
public:
    double next()
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return double(m_state >> 11) / double(1ULL << 53) * 2.0 - 1.0;
    }

private:
    std::uint64_t m_state = 0x6d6f6a6974616eULL;
};

// Two high partials and a breath of noise, decaying fast: a typewriter-like tick that sits
// well above the other two cues.
Samples keyClick()
{
    Samples s(frames(0.050));
    Noise noise;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const double env = 0.25 + 0.75 * std::exp(-t / 0.010);
        s[i] = env
            * (0.50 * std::sin(kTwoPi * 2960 * t) + 0.30 * std::sin(kTwoPi * 4430 * t)
               + 0.20 * noise.next());
    }
    fadeEnds(s, 0.001, 0.005);
    return s;
}

// A low, rough tone: odd harmonics of 110 Hz (square-like, but kept below 1.3 kHz so it
// stays dull) with a slow wobble that makes it buzz rather than hum.
Samples wrongBuzz()
{
    Samples s(frames(0.250));
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        double v = 0;
        for (int h = 1; h <= 11; h += 2)
            v += std::sin(kTwoPi * 110 * h * t) / h;
        s[i] = 0.75 * v * (0.85 + 0.15 * std::sin(kTwoPi * 30 * t));
    }
    fadeEnds(s, 0.005, 0.015);
    return s;
}

// C major arpeggio climbing an octave and a half, the top note held: bright brass-like notes
// built from a few harmonics, each overlapping the next so the fanfare never drops out.
Samples winFanfare()
{
    struct Note {
        double hz, start, length;
    };
    const Note notes[] = {
        {523.25, 0.00, 0.15},  {659.25, 0.12, 0.15},  {783.99, 0.24, 0.15},
        {1046.50, 0.36, 0.15}, {1318.51, 0.48, 0.62},
    };
    Samples s(frames(1.10));
    for (const Note &note : notes) {
        Samples tone(frames(note.length));
        for (std::size_t i = 0; i < tone.size(); ++i) {
            const double t = double(i) / kRate;
            const double vibrato = 1.0 + 0.003 * std::sin(kTwoPi * 6 * t) * std::min(1.0, t * 4);
            double v = 0;
            for (int h = 1; h <= 4; ++h)
                v += std::sin(kTwoPi * note.hz * vibrato * h * t) / (h * h);
            tone[i] = 0.55 * v * (0.8 + 0.2 * std::exp(-t / 0.05));
        }
        fadeEnds(tone, 0.004, 0.030);
        const int at = frames(note.start);
        for (std::size_t i = 0; i < tone.size() && at + i < s.size(); ++i)
            s[at + i] += tone[i];
    }
    fadeEnds(s, 0.0, 0.120);
    return s;
}

void put16(std::string &out, std::uint16_t v)
{
    out += char(v & 0xff);
    out += char(v >> 8);
}

void put32(std::string &out, std::uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

bool writeWav(const std::filesystem::path &path, const Samples &s)
{
    const std::uint32_t dataBytes = std::uint32_t(s.size() * 2);
    std::string out;
    out += "RIFF";
    put32(out, 36 + dataBytes);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, 1); // mono
    put32(out, kRate);
    put32(out, kRate * 2);
    put16(out, 2);
    put16(out, 16);
    out += "data";
    put32(out, dataBytes);
    for (double v : s)
        put16(out, std::uint16_t(std::int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767))));

    // Written beside the target and renamed, so an interrupted build never leaves half a file.
    const std::filesystem::path tmp = path.string() + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f.write(out.data(), std::streamsize(out.size()));
        if (!f.flush())
            return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    return !ec;
}

// Scales a cue so its loudest sample sits at the given fraction of full scale.
Samples normalised(Samples s, double peak)
{
    double max = 0;
    for (double v : s)
        max = std::max(max, std::abs(v));
    for (double &v : s)
        v *= peak / max;
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);

    const struct {
        const char *name;
        Samples samples;
    } cues[] = {
        {"key.wav", normalised(keyClick(), 0.70)},
        {"wrong.wav", normalised(wrongBuzz(), 0.60)},
        {"win.wav", normalised(winFanfare(), 0.60)},
    };
    for (const auto &cue : cues) {
        if (!writeWav(dir / cue.name, cue.samples)) {
            std::fprintf(stderr, "mojitan-cuegen: cannot write %s\n", (dir / cue.name).c_str());
            return 1;
        }
    }
    return 0;
}
