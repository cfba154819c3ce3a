// Any bytes as the stored best time.
#include "report.h"

#include <cmath>
#include <cstdlib>

// robustness: any bytes as the stored best time (fuzzed in every test run) | a finite positive best
// time, or 1000 ms; never a crash | a best time that is shown and stored as itself
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const float best = mojitan::parseHiScore({reinterpret_cast<const char *>(data), size});
    if (!std::isfinite(best) || !(best > 0)
        || mojitan::parseHiScore(mojitan::formatHiScore(best)) != best)
        std::abort();
    return 0;
}
