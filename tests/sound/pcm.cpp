#include "pcm.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace mojitan::testing {

namespace {

std::uint32_t le(const unsigned char *p, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

WavFile readWav(const std::string &path)
{
    WavFile w;
    std::ifstream f(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(f), {}};
    w.fileSize = bytes.size();
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0
        || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        w.error = "not a RIFF WAVE file";
        return w;
    }
    w.riffSize = le(bytes.data() + 4, 4);
    bool haveFormat = false, haveData = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const unsigned char *chunk = bytes.data() + at;
        const std::uint32_t size = le(chunk + 4, 4);
        if (at + 8 + size > bytes.size()) {
            w.error = "chunk runs past the end of the file";
            return w;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            haveFormat = true;
            w.formatTag = int(le(chunk + 8, 2));
            w.channels = int(le(chunk + 10, 2));
            w.rate = int(le(chunk + 12, 4));
            w.byteRate = int(le(chunk + 16, 4));
            w.blockAlign = int(le(chunk + 20, 2));
            w.bitsPerSample = int(le(chunk + 22, 2));
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            haveData = true;
            w.dataBytes = size;
            if (w.bitsPerSample == 16 && w.channels == 1)
                for (std::uint32_t i = 0; i + 1 < size; i += 2)
                    w.samples.push_back(std::int16_t(le(chunk + 8 + i, 2)));
        }
        at += 8 + size + (size & 1);
    }
    if (!haveFormat || !haveData)
        w.error = "no fmt or no data chunk";
    return w;
}

Span soundingSpan(const std::vector<std::int16_t> &s, long from, long to, int threshold)
{
    if (to < 0 || to > long(s.size()))
        to = long(s.size());
    Span span;
    for (long i = std::max(0L, from); i < to; ++i) {
        if (std::abs(int(s[i])) > threshold) {
            if (span.first < 0)
                span.first = i;
            span.last = i;
        }
    }
    return span;
}

Listening listen(const std::vector<std::int16_t> &s, long minDropout)
{
    Listening l;
    l.span = soundingSpan(s);
    long quiet = 0;
    for (long i = l.span.first; !l.span.empty() && i <= l.span.last; ++i) {
        if (std::abs(int(s[i])) > kAudible) {
            if (quiet >= minDropout) {
                l.dropoutFrames += quiet;
                ++l.dropouts;
            }
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return l;
}

double toMs(long frames, int rate) { return 1000.0 * double(frames) / rate; }

double crossingHz(const std::vector<std::int16_t> &s, long from, long to, int rate)
{
    long crossings = 0;
    for (long i = from + 1; i < to; ++i)
        if ((s[i - 1] < 0) != (s[i] < 0))
            ++crossings;
    return crossings / 2.0 / (double(to - from) / rate);
}

Match bestMatch(const std::vector<std::int16_t> &part, const std::vector<std::int16_t> &whole,
                long lagFrom, long lagTo)
{
    double partEnergy = 0;
    for (std::int16_t v : part)
        partEnergy += double(v) * v;
    Match best;
    for (long lag = std::max(0L, lagFrom); lag <= lagTo; ++lag) {
        const long n = std::min(long(part.size()), long(whole.size()) - lag);
        if (n <= 0)
            break;
        double dot = 0, energy = 0;
        for (long i = 0; i < n; ++i) {
            dot += double(part[i]) * whole[lag + i];
            energy += double(whole[lag + i]) * whole[lag + i];
        }
        // Normalised against the whole cue, so a cue cut short scores low.
        const double score = energy > 0 ? dot / std::sqrt(partEnergy * energy) : 0;
        if (score > best.score)
            best = {score, lag};
    }
    return best;
}

} // namespace mojitan::testing
