// The store across real runs of a program: a record survives to the next start, a store
// that cannot be written costs one line on standard error and nothing more, and runs that
// save at the same moment or die while saving never leave a damaged value.
#include "confighome.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kProbe = QStringLiteral(STOREPROBE);

struct Run {
    int exitCode = -1; // -1 when it crashed or did not finish
    QByteArray out;
    QByteArray err;
};

Run run(const QString &program, const QStringList &arguments, const QString &probe = kProbe)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PROBE"), probe);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

Run probe(const QStringList &arguments)
{
    return run(kProbe, arguments);
}

// unshare's options for a private mount namespace; without root, a user namespace too.
QStringList privateMounts()
{
    return ::geteuid() == 0 ? QStringList{QStringLiteral("-m")}
                            : QStringList{QStringLiteral("-r"), QStringLiteral("-m")};
}

bool canUseMountNamespaces()
{
    const QStringList tryIt{QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("mount -t tmpfs tmpfs /tmp")};
    return QProcess::execute(QStringLiteral("unshare"), privateMounts() + tryIt) == 0;
}

struct Scenario {
    Run result;
    QString skip; // why it could not be set up here
};

// Runs `setup` in a shell ($D is the store's folder), then one run of the game that saves
// 384 five times and one that loads; the exit code is the saving run's, the output is what
// the loading run showed, plus any temporary file left behind. `how`: "plain", in a private
// mount "namespace", or "unprivileged" (as nobody when the test runs as root).
Scenario runScenario(const ConfigHome &home, const QString &setup, const QString &how)
{
    const QString script = QStringLiteral(R"(D="$XDG_CONFIG_HOME/モジタン"
        %1 || exit 77
        "$PROBE" save 384 5; saved=$?
        "$PROBE" load
        for f in "$D"/モジタン.conf.*; do [ -e "$f" ] && echo "left behind: $f"; done
        exit $saved)").arg(setup);
    QString program = QStringLiteral("sh");
    QStringList arguments{QStringLiteral("-c"), script};
    QString probeProgram = kProbe;
    // The build tree may sit in a folder only its owner can enter; nobody runs a copy.
    QTemporaryDir probeCopy;
    if (how == u"namespace") {
        if (!canUseMountNamespaces())
            return {{}, QStringLiteral("no private mount namespace here")};
        arguments = privateMounts() + QStringList{program} + arguments;
        program = QStringLiteral("unshare");
    } else if (how == u"unprivileged" && ::geteuid() == 0) {
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            return {{}, QStringLiteral("root ignores permission bits, and setpriv is missing to drop root")};
        if (QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("65534:65534"), home.path()}) != 0)
            return {{}, QStringLiteral("cannot hand the test folder to nobody")};
        probeProgram = probeCopy.filePath(QStringLiteral("storeprobe"));
        const auto everyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
            | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        if (!QFile::copy(kProbe, probeProgram) || !QFile::setPermissions(probeProgram, everyone)
            || !QFile::setPermissions(probeCopy.path(), everyone))
            return {{}, QStringLiteral("cannot put a copy of the probe where nobody can run it")};
        arguments = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                QStringLiteral("--clear-groups"), QStringLiteral("--"), program} + arguments;
        program = QStringLiteral("setpriv");
    }

    Scenario scenario{run(program, arguments, probeProgram), {}};
    // Gives the folders back to the owner of the test, who removes them.
    QProcess::execute(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("u+w"), home.path()});
    if (scenario.result.exitCode == 77)
        scenario.skip = QStringLiteral("could not set up: ") + QString::fromUtf8(scenario.result.err);
    return scenario;
}

} // namespace

class StoreRunsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("."))); }

    void aRecordSavedInOneRunShowsAtTheNextStart()
    {
        ConfigHome home;
        QCOMPARE(probe({"load"}).out, "1000ms\n");

        const Run save = probe({"save", "384"});
        QCOMPARE(save.exitCode, 0);
        QCOMPARE(save.out, QByteArray());
        QCOMPARE(save.err, QByteArray());
        QCOMPARE(probe({"load"}).out, "384ms\n");
        QCOMPARE(probe({"load"}).out, "384ms\n"); // a load leaves it there

        QCOMPARE(probe({"clear"}).out, "1000ms\n");
        QCOMPARE(probe({"load"}).out, "1000ms\n");
        QCOMPARE(home.bytes(), storedFile("1000"));
    }

    // Each row makes the store unwritable in its own way. Root ignores permission bits, so
    // as root the permission rows run as the user nobody; the mount rows need a private
    // mount namespace.
    void anUnwritableStoreWarnsOnceAndTheGameGoesOn_data()
    {
        QTest::addColumn<QString>("setup");    // shell commands; $D is the store's folder
        QTest::addColumn<QString>("how");      // "plain", "namespace" or "unprivileged"
        QTest::addColumn<bool>("hadRecord");   // a record of 500 is in the file beforehand
        QTest::addColumn<QByteArray>("shown"); // what the next start shows
        QTest::newRow("the folder is a file")
            << R"(rm -r "$D" && : > "$D")" << "plain" << false << "1000ms\n"_ba;
        QTest::newRow("the file is a folder")
            << R"(mkdir -p "$D/モジタン.conf")" << "plain" << false << "1000ms\n"_ba;
        QTest::newRow("the config home is a file")
            << R"(: > "$HOME/file" && export XDG_CONFIG_HOME="$HOME/file")" << "plain" << false << "1000ms\n"_ba;
        QTest::newRow("a read-only mount")
            << R"(mount --bind "$D" "$D" && mount -o remount,ro,bind "$D")" << "namespace" << true << "500ms\n"_ba;
        // The record of 500 is saved on a small disk, which is then filled to the last byte.
        QTest::newRow("a full disk")
            << R"(mount -t tmpfs -o size=64k tmpfs "$D" && "$PROBE" save 500 &&
                  { head -c 1048576 /dev/zero > "$D/fill"; [ $? -ne 0 ]; } 2>/dev/null)"
            << "namespace" << false << "500ms\n"_ba;
        QTest::newRow("a read-only folder") << R"(chmod a-w "$D")" << "unprivileged" << true << "500ms\n"_ba;
        QTest::newRow("a read-only file")
            << R"(chmod a-w "$D/モジタン.conf")" << "unprivileged" << true << "500ms\n"_ba;
    }
    // robustness: a read-only settings file, folder or mount, or a path through a file | plays on; one line on standard error per run | the old stored value
    void anUnwritableStoreWarnsOnceAndTheGameGoesOn()
    {
        QFETCH(QString, setup);
        QFETCH(QString, how);
        QFETCH(bool, hadRecord);
        QFETCH(QByteArray, shown);
        ConfigHome home;
        QDir().mkpath(home.folder());
        if (hadRecord)
            home.put(storedFile("500"));

        const Scenario scenario = runScenario(home, setup, how);
        if (!scenario.skip.isEmpty())
            QSKIP(qPrintable(scenario.skip));
        const Run &result = scenario.result;
        QCOMPARE(result.exitCode, 1); // the saves failed, the run did not
        const QList<QByteArray> lines = result.err.split('\n');
        QCOMPARE(lines.size(), 2); // one line, and the empty rest after its line break
        QVERIFY2(lines[0].startsWith("mojitan: ") && lines[0].contains("/モジタン.conf"), lines[0]);
        QCOMPARE(result.out, shown);
        if (hadRecord)
            QCOMPARE(home.bytes(), storedFile("500"));
    }

    // With room for one small file left, the new file fits but nothing else does: a writer
    // that takes a lock file first, or writes in place, loses the record here.
    // robustness: a full or nearly full disk when a record is saved | saves when it fits, else warns once | a whole value, never an empty file
    void aNearlyFullDiskStillTakesTheRecordWhole()
    {
        ConfigHome home;
        QDir().mkpath(home.folder());
        const Scenario scenario = runScenario(home, QStringLiteral(R"(
            mount -t tmpfs -o size=64k tmpfs "$D" && "$PROBE" save 500 &&
            head -c 4096 /dev/zero > "$D/spare" &&
            { head -c 1048576 /dev/zero > "$D/fill"; [ $? -ne 0 ]; } 2>/dev/null && rm "$D/spare")"),
                                              QStringLiteral("namespace"));
        if (!scenario.skip.isEmpty())
            QSKIP(qPrintable(scenario.skip));
        QCOMPARE(scenario.result.err, QByteArray());
        QCOMPARE(scenario.result.exitCode, 0);
        QCOMPARE(scenario.result.out, "384ms\n"_ba);
    }

    // Two runs save over and over while a third loads over and over: every load finds the
    // old record or one of the new ones, and the file ends up holding one of them.
    // robustness: two instances saving at the same moment while a third loads | each load sees a whole value | one of the two values
    void runsSavingAtOnceLeaveOneWholeValue()
    {
        ConfigHome home;
        home.put(storedFile("500"));
        const QList<QByteArray> shown{"500ms", "111ms", "22222ms"};
        const QStringList whole{QString::fromLatin1(storedFile("111")), QString::fromLatin1(storedFile("22222"))};
        for (int round = 0; round < 20; ++round) {
            QProcess first;
            QProcess second;
            QProcess watcher;
            watcher.start(kProbe, {"watch", "200"});
            first.start(kProbe, {"save", "111", "10"});
            second.start(kProbe, {"save", "22222", "10"});
            QVERIFY(first.waitForFinished(30000) && second.waitForFinished(30000) && watcher.waitForFinished(30000));
            QCOMPARE(first.exitCode(), 0);
            QCOMPARE(second.exitCode(), 0);
            QCOMPARE(watcher.exitCode(), 0);
            QCOMPARE(first.readAllStandardError() + second.readAllStandardError() + watcher.readAllStandardError(),
                     QByteArray());
            for (const QByteArray &line : watcher.readAllStandardOutput().split('\n'))
                QVERIFY2(line.isEmpty() || shown.contains(line), line.constData());

            const QByteArray bytes = home.bytes();
            QVERIFY2(whole.contains(QString::fromLatin1(bytes)), bytes.constData());
            QCOMPARE(home.folderEntries(), QStringList{QStringLiteral("モジタン.conf")});
        }
    }

    // robustness: the game killed while it saves | nothing to do | a whole value
    void aRunKilledWhileSavingLeavesAWholeValue()
    {
        ConfigHome home;
        home.put(storedFile("500"));
        const QStringList whole{QString::fromLatin1(storedFile("500")), QString::fromLatin1(storedFile("111")),
                                QString::fromLatin1(storedFile("22222"))};
        QRandomGenerator random(7);
        for (int round = 0; round < 30; ++round) {
            QProcess churn;
            churn.start(kProbe, {"churn", "111", "22222"});
            QVERIFY(churn.waitForStarted());
            QThread::msleep(random.bounded(2, 30));
            churn.kill();
            QVERIFY(churn.waitForFinished());

            const QByteArray bytes = home.bytes();
            QVERIFY2(whole.contains(QString::fromLatin1(bytes)), bytes.constData());
        }
    }
};

QTEST_GUILESS_MAIN(StoreRunsTest)
#include "tst_storeruns.moc"
