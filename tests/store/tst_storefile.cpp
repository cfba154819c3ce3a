// The store's file: where it is, what a save puts in it, and what a load makes of whatever
// it finds there, without ever changing it.
#include "confighome.h"
#include "report.h"
#include "settingsscorestore.h"

#include <QRandomGenerator>
#include <QSettings>
#include <QtTest>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mojitan;
using namespace Qt::StringLiterals;

namespace {

// Everything a load could disturb: the bytes, the time stamp, the file itself (a rewrite
// makes a new one) and what lies beside it.
struct FileState {
    QByteArray bytes;
    qint64 modifiedNs = -1;
    qint64 inode = -1;
    QStringList folder;
};

FileState stateOf(const ConfigHome &home)
{
    FileState state;
    state.bytes = home.bytes();
    struct stat info {};
    if (::stat(QFile::encodeName(home.file()).constData(), &info) == 0) {
        state.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        state.inode = qint64(info.st_ino);
    }
    state.folder = home.folderEntries();
    return state;
}

// What LoadHiScore makes of the store.
float loaded(SettingsScoreStore &store)
{
    return parseHiScore(store.read().value_or("1000"));
}

QByteArray writtenByQSettings(const QVariant &value)
{
    QTemporaryDir dir;
    const QString name = dir.path() + QStringLiteral("/reference.conf");
    {
        QSettings settings(name, QSettings::IniFormat);
        settings.setValue(QStringLiteral("スコア/速さ"), value);
    }
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class StoreFileTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("."))); }

    void theFileIsInTheConfigFolderOfTheUser_data()
    {
        QTest::addColumn<QString>("xdgConfigHome"); // "-" for unset; "@" stands for the temp folder
        QTest::addColumn<QString>("expected");      // relative to the temp folder
        QTest::newRow("XDG_CONFIG_HOME") << "@/cfg" << "cfg/モジタン/モジタン.conf";
        QTest::newRow("with a trailing slash") << "@/cfg/" << "cfg/モジタン/モジタン.conf";
        QTest::newRow("unset: ~/.config") << "-" << ".config/モジタン/モジタン.conf";
        QTest::newRow("empty: ~/.config") << "" << ".config/モジタン/モジタン.conf";
        QTest::newRow("relative is ignored") << "cfg" << ".config/モジタン/モジタン.conf";
    }
    void theFileIsInTheConfigFolderOfTheUser()
    {
        QFETCH(QString, xdgConfigHome);
        QFETCH(QString, expected);
        ConfigHome home; // HOME is its folder too
        const QString oldCurrent = QDir::currentPath();
        QDir::setCurrent(home.path()); // where a relative folder would land
        if (xdgConfigHome == u"-")
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(QString(xdgConfigHome).replace(u'@', home.path())));

        SettingsScoreStore store;
        const bool saved = store.write("384");
        QDir::setCurrent(oldCurrent);

        QVERIFY(saved);
        const QString file = home.path() + u'/' + expected;
        QCOMPARE(store.fileName(), file);
        QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
        QDirIterator all(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QStringList files;
        while (all.hasNext())
            files << all.next();
        QCOMPARE(files, QStringList{file});
    }

    void aSaveWritesExactlyWhatQSettingsWould_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("a record") << QByteArray("384");
        QTest::newRow("the reset value") << QByteArray("1000");
        QTest::newRow("one digit") << QByteArray("7");
        QTest::newRow("a slow player") << QByteArray("123456789");
    }
    void aSaveWritesExactlyWhatQSettingsWould()
    {
        QFETCH(QByteArray, value);
        ConfigHome home;
        SettingsScoreStore store;
        QVERIFY(store.write(value.toStdString()));

        QCOMPARE(home.bytes(), writtenByQSettings(QString::fromLatin1(value)));
        QCOMPARE(home.bytes(), storedFile(value));
        QCOMPARE(home.folderEntries(), QStringList{QStringLiteral("モジタン.conf")}); // no temp, no lock

        const QSettings settings(home.file(), QSettings::IniFormat);
        QCOMPARE(settings.status(), QSettings::NoError);
        QCOMPARE(settings.allKeys(), QStringList{QStringLiteral("スコア/速さ")});
        QCOMPARE(settings.value(QStringLiteral("スコア/速さ")), QVariant(QString::fromLatin1(value)));
        QCOMPARE(store.read(), std::optional(value.toStdString()));
    }

    void aSaveLeavesOnlyTheRecordInTheFile()
    {
        ConfigHome home;
        home.put("[other]\nkey=value\n[%U30B9%U30B3%U30A2]\n%U901F%U3055=500\nextra=1\n\xff\xfe\0junk"_ba);
        SettingsScoreStore store;
        QVERIFY(store.write("384"));
        QCOMPARE(home.bytes(), storedFile("384"));
    }

    void onlyWholeNumbersAreSaved_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("negative") << "-5";
        QTest::newRow("a fraction") << "38.5";
        QTest::newRow("an exponent") << "1e3";
        QTest::newRow("a space") << " 384";
        QTest::newRow("a list") << "384,500";
        QTest::newRow("a line break") << "384\n[x]";
        QTest::newRow("full-width digits") << "３８４";
    }
    void onlyWholeNumbersAreSaved()
    {
        QFETCH(QString, text);
        ConfigHome home;
        home.put(storedFile("500"));
        SettingsScoreStore store;
        QVERIFY(!store.write(text.toStdString()));
        QCOMPARE(home.bytes(), storedFile("500"));
    }

    void aLinkedFileStaysALinkAndItsTargetIsSaved()
    {
        ConfigHome home;
        const QString target = home.path() + QStringLiteral("/dotfiles/モジタン.conf");
        QDir().mkpath(QFileInfo(target).path());
        QDir().mkpath(home.folder());
        QVERIFY(QFile(target).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(target, home.file()));

        SettingsScoreStore store;
        QVERIFY(store.write("384"));
        QVERIFY(QFileInfo(home.file()).isSymLink());
        QFile saved(target);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), storedFile("384"));
    }

    void aSaveKeepsTheFileModeThePlayerChose()
    {
        ConfigHome home;
        home.put(storedFile("500"));
        QVERIFY(::chmod(QFile::encodeName(home.file()).constData(), 0640) == 0);
        SettingsScoreStore store;
        QVERIFY(store.write("384"));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(home.file()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0640));
    }

    void anEmptyStoreHasNoValueAndStaysEmpty()
    {
        ConfigHome home;
        SettingsScoreStore store;
        QCOMPARE(store.read(), std::nullopt);
        QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // Each row is a whole file as a damaged disk, another tool or a curious player may
    // leave it; the load must not crash, must give the number or the default, and must not
    // touch the file.
    void aLoadMakesSenseOfWhateverItFinds_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<float>("hiScore");

        QTest::newRow("a record") << storedFile("384") << 384.0f;
        QTest::newRow("a fraction stays") << storedFile("384.5") << 384.5f;
        QTest::newRow("names in plain UTF-8") << "[スコア]\n速さ=384\n"_ba << 384.0f;
        QTest::newRow("CR LF and spaces") << "[%U30B9%U30B3%U30A2]\r\n%U901F%U3055 = 384 \r\n"_ba << 384.0f;
        QTest::newRow("a byte order mark") << "\xef\xbb\xbf" + storedFile("384") << 384.0f;
        QTest::newRow("junk after the record") << storedFile("384") + "\0\0\xff\xfe junk"_ba << 384.0f;
        QTest::newRow("a number QSettings stored as an int") << writtenByQSettings(384) << 384.0f;

        QTest::newRow("empty value") << storedFile("") << 1000.0f;
        QTest::newRow("letters") << storedFile("abc") << 1000.0f;
        QTest::newRow("NaN") << storedFile("NaN") << 1000.0f;
        QTest::newRow("inf") << storedFile("inf") << 1000.0f;
        QTest::newRow("too large for a float") << storedFile("1e39") << 1000.0f;
        QTest::newRow("negative") << storedFile("-384") << 1000.0f;
        QTest::newRow("zero") << storedFile("0") << 1000.0f;
        QTest::newRow("a list") << storedFile("384,500") << 1000.0f;
        QTest::newRow("a list QSettings wrote")
            << writtenByQSettings(QStringList{QStringLiteral("384"), QStringLiteral("500")}) << 1000.0f;
        QTest::newRow("a quoted text with a comma") << storedFile("\"384, 500\"") << 1000.0f;
        QTest::newRow("a byte array") << storedFile("@ByteArray(384)") << 1000.0f;
        QTest::newRow("a size") << storedFile("@Size(384 384)") << 1000.0f;
        QTest::newRow("an invalid value") << storedFile("@Invalid()") << 1000.0f;
        QTest::newRow("full-width digits") << storedFile("３８４") << 1000.0f;
        QTest::newRow("the key outside its group") << "%U901F%U3055=384\n"_ba << 1000.0f;
        QTest::newRow("the key in another group") << "[other]\n%U901F%U3055=384\n"_ba << 1000.0f;
        QTest::newRow("cut in the group") << "[%U30B9%U30"_ba << 1000.0f;
        QTest::newRow("cut in the key") << "[%U30B9%U30B3%U30A2]\n%U901F%U30"_ba << 1000.0f;
        QTest::newRow("an empty file") << QByteArray() << 1000.0f;
        QTest::newRow("nothing but NULs") << QByteArray(4096, '\0') << 1000.0f;

        QRandomGenerator random(20240601);
        for (int i = 0; i < 4; ++i) {
            QByteArray garbage(64 << (2 * i), Qt::Uninitialized);
            for (char &c : garbage)
                c = char(random.bounded(256));
            QTest::addRow("binary garbage, %d bytes", int(garbage.size())) << garbage << 1000.0f;
            // The same garbage with a group line in front, so that it is parsed as keys.
            QTest::addRow("garbage under the group, %d bytes", int(garbage.size()))
                << "[%U30B9%U30B3%U30A2]\n" + garbage << 1000.0f;
        }
    }
    // robustness: a settings file that is damaged, cut short, binary, or holds a list or a typed value | starts with 1000 ms (a hand-edited 384.5 stays 384.5) | the file, byte for byte
    void aLoadMakesSenseOfWhateverItFinds()
    {
        QFETCH(QByteArray, file);
        QFETCH(float, hiScore);
        ConfigHome home;
        home.put(file);
        const FileState before = stateOf(home);

        SettingsScoreStore store;
        QCOMPARE(loaded(store), hiScore);

        const FileState after = stateOf(home);
        QCOMPARE(after.bytes, before.bytes);
        QCOMPARE(after.modifiedNs, before.modifiedNs);
        QCOMPARE(after.inode, before.inode);
        QCOMPARE(after.folder, before.folder);
    }

    void whatIsNotAFileReadsAsNoValue_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder") << "folder";
        QTest::newRow("a FIFO nobody writes to") << "fifo";
        QTest::newRow("a link to a device") << "device";
        QTest::newRow("a dangling link") << "dangling";
    }
    // robustness: a folder, a FIFO, a device link or a broken link where the settings file should be | starts with 1000 ms without blocking | whatever is there
    void whatIsNotAFileReadsAsNoValue()
    {
        QFETCH(QString, kind);
        ConfigHome home;
        QDir().mkpath(home.folder());
        const QByteArray file = QFile::encodeName(home.file());
        if (kind == u"folder")
            QVERIFY(QDir().mkpath(home.file()));
        else if (kind == u"fifo")
            QCOMPARE(::mkfifo(file.constData(), 0644), 0);
        else if (kind == u"device")
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), home.file()));
        else
            QVERIFY(QFile::link(home.path() + QStringLiteral("/gone"), home.file()));

        SettingsScoreStore store;
        auto pending = std::async(std::launch::async, [&store] { return store.read(); });
        const bool returned = pending.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!returned) {
            // Lets a load stuck in opening the FIFO go, so the test can end.
            const int fd = ::open(file.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        QVERIFY2(returned, "the load waited for the file");
        QCOMPARE(pending.get(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(StoreFileTest)
#include "tst_storefile.moc"
