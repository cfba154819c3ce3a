#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include <optional>

// A private XDG_CONFIG_HOME and HOME for one test, so that no test reads or writes the
// player's own record. The previous values come back when it goes.
class ConfigHome {
public:
    ConfigHome()
        : m_oldConfig(saved("XDG_CONFIG_HOME"))
        , m_oldHome(saved("HOME"))
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path()));
        qputenv("HOME", QFile::encodeName(path()));
    }
    ~ConfigHome()
    {
        restore("XDG_CONFIG_HOME", m_oldConfig);
        restore("HOME", m_oldHome);
    }
    ConfigHome(const ConfigHome &) = delete;
    ConfigHome &operator=(const ConfigHome &) = delete;

    QString path() const { return m_dir.path(); }
    QString folder() const { return path() + QStringLiteral("/モジタン"); }
    QString file() const { return folder() + QStringLiteral("/モジタン.conf"); }

    // Puts these bytes in the store's file, creating its folder.
    void put(const QByteArray &bytes) const
    {
        QDir().mkpath(folder());
        QFile out(file());
        if (out.open(QIODevice::WriteOnly))
            out.write(bytes);
    }
    QByteArray bytes() const
    {
        QFile in(file());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    QStringList folderEntries() const
    {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

private:
    static std::optional<QByteArray> saved(const char *name)
    {
        return qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    }
    static void restore(const char *name, const std::optional<QByteArray> &value)
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }

    QTemporaryDir m_dir;
    std::optional<QByteArray> m_oldConfig;
    std::optional<QByteArray> m_oldHome;
};

// The file as this program writes it, in QSettings' spelling of the Japanese names.
inline QByteArray storedFile(const QByteArray &value)
{
    return "[%U30B9%U30B3%U30A2]\n%U901F%U3055=" + value + "\n";
}
