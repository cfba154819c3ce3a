// The stored best time is text that anything may have written: the game, the player with an
// editor, a disk that lost half a file. Whatever it holds, loading must give a usable best
// time, and what the game shows and stores must read back as the same number.
#include "fuzzcheck.h"
#include "report.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using mojitan::formatHiScore;
using mojitan::kDefaultHiScore;
using mojitan::parseHiScore;

namespace {

bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A second opinion on the number in the text, reached another way (the C library), so a
// slip in the loader does not hide behind the same slip in its check.
float expectedValue(std::string_view text)
{
    while (!text.empty() && isTrimmed(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isTrimmed(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return kDefaultHiScore;
    // strtof takes a few forms the store never holds; the loader rightly refuses them.
    const char first = text.front();
    if (first == '+' || std::isspace(static_cast<unsigned char>(first)))
        return kDefaultHiScore;
    const std::string_view digits = first == '-' ? text.substr(1) : text;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        return kDefaultHiScore;

    const std::string copy(text);
    char *end = nullptr;
    const float value = std::strtof(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value) || !(value > 0))
        return kDefaultHiScore;
    return value;
}

bool isPlainDigits(const std::string &text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Shown and stored forms of a best time read back as exactly that time.
void checkRoundTrip(float value)
{
    const std::string text = formatHiScore(value);
    FUZZ_REQUIRE(!text.empty(), "a best time formats as nothing");
    for (char c : text)
        FUZZ_REQUIRE(!isTrimmed(c) && c != '\0', "a formatted best time holds white space");
    const float back = parseHiScore(text);
    if (std::isfinite(value) && value > 0) {
        FUZZ_REQUIRE(back == value, "a best time does not read back as itself");
        if (value == std::floor(value) && value < 1.0e15f)
            FUZZ_REQUIRE(isPlainDigits(text), "a whole best time is not stored as plain digits");
    } else {
        FUZZ_REQUIRE(back == kDefaultHiScore, "an unusable number reads back as a best time");
    }
}

} // namespace

// robustness: any bytes as the stored best time (fuzzed for a minute in every test run) | a finite positive best time, or 1000 ms; never a crash | a best time that formats and reads back as itself
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    const float value = parseHiScore(text);
    FUZZ_REQUIRE(std::isfinite(value) && value > 0, "the loaded best time is unusable");
    const float expected = expectedValue(text);
    FUZZ_REQUIRE(value == expected, "the loaded best time is not the number stored");
    checkRoundTrip(value);

    // The same bytes as a float, to reach values no text above produces: NaN, infinities,
    // negative zero, subnormals.
    if (size >= sizeof(float)) {
        float raw;
        std::memcpy(&raw, data, sizeof raw);
        checkRoundTrip(raw);
    }
    return 0;
}
