// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "settingsscorestore.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QVariant>

#include <algorithm>
#include <cstdio>

namespace mojitan {

namespace {

constexpr QStringView kApplication = u"モジタン";
constexpr QStringView kGroup = u"スコア";
constexpr QStringView kKey = u"速さ";

// QSettings writes a name that is not ASCII as its UTF-16 code units, each as %U and four
// hex digits. Ours are all Japanese, so this gives the file QSettings itself would write.
QByteArray iniName(QStringView name)
{
    QByteArray out;
    for (const QChar c : name)
        out += "%U" + QByteArray::number(c.unicode(), 16).toUpper().rightJustified(4, '0');
    return out;
}

bool isWholeNumber(const std::string &text)
{
    return !text.empty()
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

SettingsScoreStore::SettingsScoreStore()
    : m_fileName(defaultFileName())
{
}

QString SettingsScoreStore::defaultFileName()
{
    // The base directory rules say to ignore a relative XDG_CONFIG_HOME; honouring it would
    // tie the record to whichever folder the game was started from.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    const QString app = kApplication.toString();
    return QDir::cleanPath(base + u'/' + app + u'/' + app + QStringLiteral(".conf"));
}

std::optional<std::string> SettingsScoreStore::read()
{
    // A folder holds no score, a FIFO would block the start-up and a device might never end.
    if (!QFileInfo(m_fileName).isFile())
        return std::nullopt;

    // A damaged file still gives the lines that parse; the engine judges the number.
    const QSettings settings(m_fileName, QSettings::IniFormat);
    const QString key = kGroup.toString() + u'/' + kKey.toString();
    if (!settings.contains(key))
        return std::nullopt;
    // A text with a comma parses as a list, and @Variant(…) or @ByteArray(…) as typed values.
    // This program writes none of them, so they count as a value that is not a number.
    const QVariant value = settings.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::string();
    return value.toString().toStdString();
}

bool SettingsScoreStore::write(const std::string &text)
{
    if (!isWholeNumber(text))
        return false;
    // The new file is written beside the old one and renamed over it, so a reader finds the
    // old value or the new one, whole; a settings file that is a symbolic link stays one.
    QSaveFile file(m_fileName);
    const QByteArray contents = '[' + iniName(kGroup) + "]\n" + iniName(kKey) + '='
        + QByteArray::fromStdString(text) + '\n';
    const bool folder = QDir().mkpath(QFileInfo(m_fileName).absolutePath());
    // A full disk shows only when the buffer goes out; commit() alone would not notice and
    // would put a short file in place of the old one.
    const bool saved = folder && file.open(QIODevice::WriteOnly)
        && file.write(contents) == contents.size() && file.flush() && file.commit();
    if (!saved && !m_warned) {
        m_warned = true;
        const QString why = folder ? file.errorString() : QStringLiteral("cannot make its folder");
        std::fprintf(stderr,
                     "mojitan: cannot save the best time in %s (%s); new records last "
                     "until the game is closed\n",
                     qPrintable(m_fileName), qPrintable(why));
    }
    return saved;
}

} // namespace mojitan
