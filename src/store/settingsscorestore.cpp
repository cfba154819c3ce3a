#include "settingsscorestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string systemError(int error)
{
    return std::generic_category().message(error);
}

// A temporary file that is removed again unless it was renamed into place.
struct TempFile {
    QByteArray name;
    int fd = -1;
    bool keep = false;

    ~TempFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!keep)
            ::unlink(name.constData());
    }
};

// Writes the new contents beside the file, flushes them to the disk and renames them over
// the file, so a reader finds the old value or the new one and never a part of either, even
// when the disk fills up or the process dies half way. QSaveFile means to do the same, but
// in Qt 6.4 it puts an empty file in place when the disk is full. Returns why it failed.
std::optional<std::string> replaceFile(const QString &fileName, const QByteArray &contents)
{
    // A settings file that is a symbolic link (kept with the player's other dotfiles) stays
    // one: its target is what gets replaced.
    const QFileInfo info(fileName);
    const QString resolved = info.isSymLink() ? info.canonicalFilePath() : QString();
    const QByteArray path = QFile::encodeName(resolved.isEmpty() ? fileName : resolved);
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(path)).absolutePath());

    std::error_code created;
    std::filesystem::create_directories(folder.constData(), created);
    if (created)
        return created.message();

    // A file the player made read-only is left alone, as QSettings would leave it.
    struct stat old {};
    const bool exists = ::stat(path.constData(), &old) == 0;
    if (exists && ::access(path.constData(), W_OK) != 0)
        return systemError(errno);

    TempFile temp{path + ".XXXXXX"};
    temp.fd = ::mkostemp(temp.name.data(), O_CLOEXEC);
    if (temp.fd < 0) {
        temp.keep = true; // nothing was created under that name
        return systemError(errno);
    }
    if (exists)
        ::fchmod(temp.fd, old.st_mode & 07777);

    for (qsizetype done = 0; done < contents.size();) {
        const ssize_t n = ::write(temp.fd, contents.constData() + done, std::size_t(contents.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return systemError(errno);
        done += n;
    }
    // Space the file system promised but cannot deliver shows up here, not at write().
    if (::fsync(temp.fd) != 0)
        return systemError(errno);
    if (::close(std::exchange(temp.fd, -1)) != 0)
        return systemError(errno);
    if (::rename(temp.name.constData(), path.constData()) != 0)
        return systemError(errno);
    temp.keep = true;

    // The rename is in the folder; without this a power cut could still undo it.
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return std::nullopt;
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
    const QByteArray contents = '[' + iniName(kGroup) + "]\n" + iniName(kKey) + '='
        + QByteArray::fromStdString(text) + '\n';
    if (const auto failure = replaceFile(m_fileName, contents)) {
        warnOnce(*failure);
        return false;
    }
    return true;
}

void SettingsScoreStore::warnOnce(const std::string &reason)
{
    if (m_warned)
        return;
    m_warned = true;
    const std::string line = "mojitan: cannot save the best time in " + m_fileName.toStdString() + " ("
        + reason + "); new records last until the game is closed\n";
    std::fputs(line.c_str(), stderr);
}

} // namespace mojitan
