#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mojitan::testing {

// A WAV file as it is on disk, with its samples when it is 16-bit mono PCM.
struct WavFile {
    std::string error; // empty when the RIFF structure parsed
    int formatTag = 0;
    int channels = 0;
    int rate = 0;
    int bitsPerSample = 0;
    int blockAlign = 0;
    int byteRate = 0;
    std::uint32_t riffSize = 0;
    std::uint64_t fileSize = 0;
    std::uint32_t dataBytes = 0;
    std::vector<std::int16_t> samples;
};

WavFile readWav(const std::string &path);

// The stretch from the first to the last sample louder than the threshold: how long a sound
// is heard, leaving out silence at either end.
struct Span {
    long first = -1;
    long last = -1;
    bool empty() const { return first < 0; }
    long length() const { return empty() ? 0 : last - first + 1; }
};

// 1 % of full scale: well above the rounding noise of a resampler, well below any cue.
constexpr int kAudible = 328;

Span soundingSpan(const std::vector<std::int16_t> &s, long from = 0, long to = -1,
                  int threshold = kAudible);

// A recorded cue: where its sound lies, and the stretches of silence inside it. Silence in
// the middle of a cue is a dropout, where a stalled machine or server let the stream run dry
// and played the rest late; nothing is lost in one, the cue only stutters.
struct Listening {
    Span span;
    long dropoutFrames = 0;
    int dropouts = 0;
    long heard() const { return span.length() - dropoutFrames; }
};

// Silence shorter than `minDropout` frames (a waveform crossing zero) does not count.
Listening listen(const std::vector<std::int16_t> &s, long minDropout = 220);

double toMs(long frames, int rate);

// A rough pitch: zero crossings per second over [from, to), halved.
double crossingHz(const std::vector<std::int16_t> &s, long from, long to, int rate);

// How much of `part` is in `whole` at its best alignment within [lagFrom, lagTo]: the
// normalised correlation, 1 for an exact copy, near 0 for an unrelated sound.
struct Match {
    double score = 0;
    long lag = 0;
};
Match bestMatch(const std::vector<std::int16_t> &part, const std::vector<std::int16_t> &whole,
                long lagFrom, long lagTo);

} // namespace mojitan::testing
