// Any bytes as the player's settings file, read as the game reads it at start-up.
#include "report.h"
#include "settingsscorestore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>

// robustness: any bytes as the settings file (fuzzed in every test run) | a finite positive best time, or 1000 ms; never a crash | a best time that is shown and stored as itself
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const QTemporaryDir home;
    static mojitan::SettingsScoreStore store = [] {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        QDir().mkpath(home.path() + QStringLiteral("/モジタン"));
        return mojitan::SettingsScoreStore();
    }();
    QFile file(store.fileName());
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    const float best = mojitan::parseHiScore(store.read().value_or("1000"));
    if (!std::isfinite(best) || !(best > 0) || mojitan::parseHiScore(mojitan::formatHiScore(best)) != best)
        std::abort();
    return 0;
}
