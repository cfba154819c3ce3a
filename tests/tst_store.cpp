// The best time in the player's settings file, and what the store makes of a file that is not
// as it wrote it, or of a disk that will not take it.
#include "settingsscorestore.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mojitan;

namespace {

const QByteArray kStored = "[%U30B9%U30B3%U30A2]\n%U901F%U3055=384\n";

QByteArray bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

void put(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

} // namespace

class StoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QString file() { return home.path() + QStringLiteral("/config/モジタン/モジタン.conf"); }

private slots:
    void init()
    {
        QVERIFY(home.isValid());
        QFile::setPermissions(home.path(), QFileDevice::Permissions(0x7777)); // for the player, below
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));
    }
    void cleanup()
    {
        QFile::setPermissions(QFileInfo(file()).absolutePath(), QFileDevice::Permissions(0x7777));
        QDir(home.path() + QStringLiteral("/config")).removeRecursively();
    }

    void aRecordIsWrittenAsTheSettingsLibraryWouldAndReadBack()
    {
        SettingsScoreStore store;
        QCOMPARE(store.fileName(), file());
        QVERIFY(!store.write("12a") && !QFile::exists(file()));
        QVERIFY(store.write("384"));
        QCOMPARE(bytes(file()), kStored);
        QCOMPARE(QSettings(file(), QSettings::IniFormat).value(QStringLiteral("スコア/速さ")).toString(), QStringLiteral("384"));
        QCOMPARE(SettingsScoreStore().read(), "384");
        qputenv("XDG_CONFIG_HOME", "relative/folder");
        QCOMPARE(SettingsScoreStore::defaultFileName(), QDir::homePath() + QStringLiteral("/.config/モジタン/モジタン.conf"));
    }

    void aLoadMakesSenseOfWhateverItFinds_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("read"); // null: no value
        QTest::newRow("as written") << kStored << "384";
        QTest::newRow("names in UTF-8") << QByteArray("[スコア]\n速さ=384\n") << "384";
        QTest::newRow("edited by hand") << QByteArray("[スコア]\n速さ = 384.5 \n") << "384.5";
        QTest::newRow("cut short") << kStored.left(kStored.size() - 3) << "3";
        QTest::newRow("damaged around the value") << "\x01\xff]]==\n" + kStored + "[[\x02" << "384";
        QTest::newRow("binary") << QByteArray("\x7f" "ELF\x02\x01\x01\x00\x00\xff\xfe", 11) << QString();
        QTest::newRow("a list") << QByteArray("[スコア]\n速さ=384, 500\n") << "";
        QTest::newRow("a typed value") << QByteArray("[スコア]\n速さ=@ByteArray(384)\n") << "";
    }
    // robustness: a settings file that is damaged, cut short, binary, or holds a list or a typed value | starts with what still reads as a number, else 1000 ms | the file, byte for byte
    void aLoadMakesSenseOfWhateverItFinds()
    {
        QFETCH(QByteArray, contents); QFETCH(QString, read);
        put(file(), contents);
        const auto value = SettingsScoreStore().read();
        QCOMPARE(value.has_value(), !read.isNull());
        QCOMPARE(QString::fromStdString(value.value_or("")), read.isNull() ? "" : read);
        QCOMPARE(bytes(file()), contents);
    }

    // robustness: a folder, a FIFO, a device link or a broken link where the settings file should be | starts with 1000 ms without blocking | whatever is there
    void whatIsNotAFileReadsAsNoValue()
    {
        QDir().mkpath(QFileInfo(file()).absolutePath());
        const QByteArray path = QFile::encodeName(file());
        const std::function<bool()> makers[] = {
            [&] { return QDir().mkdir(file()); },
            [&] { return mkfifo(path.constData(), 0600) == 0; },
            [&] { return QFile::link(QStringLiteral("/dev/zero"), file()); },
            [&] { return QFile::link(home.path() + QStringLiteral("/nowhere"), file()); },
        };
        for (const auto &make : makers) {
            QVERIFY(make());
            QCOMPARE(SettingsScoreStore().read(), std::nullopt);
            QVERIFY(QDir().rmdir(file()) || QFile::remove(file()));
        }
    }

    void faultsWhileSavingKeepTheOldValue_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("a read-only file") << 0;
        QTest::newRow("a read-only folder") << 1;
        QTest::newRow("a file where the folder should be") << 2;
        QTest::newRow("a disk that fills up") << 3;
    }
    // robustness: a read-only settings file or folder, a file where its folder should be, or a disk that fills up while saving | plays on; one line on standard error per run | the old stored value, whole
    void faultsWhileSavingKeepTheOldValue()
    {
        QFETCH(int, fault);
        put(file(), kStored);
        const QString folder = QFileInfo(file()).absolutePath();
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7777));
        if (fault == 0)
            QFile::setPermissions(file(), QFileDevice::ReadOwner | QFileDevice::ReadOther);
        if (fault == 1)
            QFile::setPermissions(folder, QFileDevice::ReadOther | QFileDevice::ExeOther | QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        if (fault == 3) // for the player to write, were there room
            QFile::setPermissions(file(), QFileDevice::Permissions(0x6666));
        if (fault == 2)
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(file()));

        // The player's side runs in a child, as an ordinary user: root would write anyway.
        int errors[2];
        QVERIFY(pipe(errors) == 0);
        const int savedErr = dup(2);
        dup2(errors[1], 2);
        const pid_t child = fork();
        if (child == 0) {
            const rlimit tiny{16, 16};
            signal(SIGXFSZ, SIG_IGN);
            const bool player = geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
            if (fault == 3)
                setrlimit(RLIMIT_FSIZE, &tiny);
            SettingsScoreStore store;
            const bool refused = !store.write("500") && !store.write("600");
            _exit(player && refused ? 0 : 1);
        }
        int status = -1;
        waitpid(child, &status, 0);
        dup2(savedErr, 2);
        close(savedErr);
        close(errors[1]);
        QFile pipeEnd;
        QVERIFY(pipeEnd.open(errors[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        const QByteArray said = pipeEnd.readAll();
        QCOMPARE(status, 0);
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.startsWith("mojitan: cannot save the best time in "), said.constData());
        QCOMPARE(bytes(file()), kStored);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("モジタン.conf")});
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
