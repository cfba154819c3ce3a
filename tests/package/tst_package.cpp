// The Debian package as the system and the desktop see it: what it asks apt to bring, where
// it puts the game, and whether launchers and software centres can show it.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QtTest>

#include <filesystem>

namespace {

const QString kPackageDir = QStringLiteral(PACKAGE_DIR);
const QString kRoot = kPackageDir + QStringLiteral("/root");
const QString kApplications = kRoot + QStringLiteral("/usr/share/applications");

struct Run {
    int exitCode = -1;
    QString out;
};

Run run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAll())};
}

QString package()
{
    const QStringList debs = QDir(kPackageDir + QStringLiteral("/deb"))
                                 .entryList({QStringLiteral("mojitan_*.deb")}, QDir::Files);
    return debs.size() == 1 ? kPackageDir + QStringLiteral("/deb/") + debs[0] : QString();
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The [Desktop Entry] group of a desktop file, untranslated keys only.
QMap<QString, QString> desktopEntry(const QString &path)
{
    QMap<QString, QString> keys;
    bool inGroup = false;
    for (const QString &line : QString::fromUtf8(contents(path)).split(u'\n')) {
        if (line.startsWith(u'['))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.contains(u'=') && !line.startsWith(u'#'))
            keys.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    }
    return keys;
}

bool isJapanese(const QString &text)
{
    static const QRegularExpression kanaOrKanji(QStringLiteral("[\\x{3040}-\\x{30ff}\\x{4e00}-\\x{9fff}]"));
    return text.contains(kanaOrKanji);
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!package().isEmpty(), "no package; the package_make test makes it");
        QVERIFY(QFileInfo(kRoot).isDir());
    }

    // apt must bring everything the game loads: the libraries it links (found by
    // dpkg-shlibdeps) and what it only opens at run time.
    void dependenciesNameWhatTheGameNeeds()
    {
        const Run fields = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), package(),
                                                            QStringLiteral("Package"), QStringLiteral("Version"),
                                                            QStringLiteral("Depends")});
        QCOMPARE(fields.exitCode, 0);
        QVERIFY2(fields.out.contains(QStringLiteral("Package: mojitan\n")), qPrintable(fields.out));
        QVERIFY2(fields.out.contains(QStringLiteral("Version: " MOJITAN_VERSION "\n")), qPrintable(fields.out));

        QStringList names;
        const QString depends = fields.out.section(QStringLiteral("Depends: "), 1).trimmed();
        for (const QString &alternatives : depends.split(u','))
            for (const QString &dep : alternatives.split(u'|'))
                names << dep.trimmed().section(u' ', 0, 0);
        for (const char *needed : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "qt6-qpa-plugins",
                                   "libsdl2-mixer-2.0-0", "fonts-ipafont-gothic", "qt6-translations-l10n"})
            QVERIFY2(names.contains(QLatin1String(needed)),
                     qPrintable(QStringLiteral("%1 is missing from: %2").arg(QLatin1String(needed), depends)));
    }

    // The program and its sounds live together in lib/mojitan; bin/ has a relative link, so
    // the program finds its sounds through the link and in any unpacked copy.
    void gameLivesInLibWithARelativeLinkOnThePath()
    {
        const QString link = kRoot + QStringLiteral("/usr/bin/mojitan");
        const QString program = kRoot + QStringLiteral("/usr/lib/mojitan/mojitan");
        QVERIFY(QFileInfo(link).isSymLink());
        const std::filesystem::path target = std::filesystem::read_symlink(link.toStdString());
        QVERIFY2(target.is_relative(), target.c_str());
        QCOMPARE(QFileInfo(link).canonicalFilePath(), QFileInfo(program).canonicalFilePath());
        QVERIFY(QFileInfo(program).isExecutable());
        for (const char *cue : {"key.wav", "wrong.wav", "win.wav"}) {
            const QByteArray installed = contents(kRoot + QStringLiteral("/usr/lib/mojitan/sound/") + QLatin1String(cue));
            QVERIFY2(!installed.isEmpty(), cue);
            QVERIFY2(installed == contents(QStringLiteral(BUILT_SOUNDS "/") + QLatin1String(cue)), cue);
        }

        // Every file belongs to root, whoever built the package.
        const Run listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), package()});
        QCOMPARE(listing.exitCode, 0);
        for (const QString &line : listing.out.split(u'\n', Qt::SkipEmptyParts))
            QVERIFY2(line.section(u' ', 1, 1, QString::SectionSkipEmpty) == QLatin1String("root/root"),
                     qPrintable(line));
    }

    // A launcher lists the game under its Japanese name with its own icon, in the games and
    // education menus, and can start it.
    void desktopEntryIsValidAndFindsProgramAndIcon()
    {
        const QString file = kApplications + QStringLiteral("/mojitan.desktop");
        const Run validate = run(QStringLiteral("desktop-file-validate"), {file});
        QVERIFY2(validate.exitCode == 0, qPrintable(validate.out));

        const auto entry = desktopEntry(file);
        QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(entry.value(QStringLiteral("Name")), QStringLiteral("モジタン"));
        QVERIFY2(isJapanese(entry.value(QStringLiteral("Comment"))), qPrintable(entry.value(QStringLiteral("Comment"))));
        const QStringList categories = entry.value(QStringLiteral("Categories")).split(u';', Qt::SkipEmptyParts);
        QVERIFY2(categories.contains(QStringLiteral("Game")) && categories.contains(QStringLiteral("Education")),
                 qPrintable(categories.join(u';')));
        const QString exec = entry.value(QStringLiteral("Exec")).section(u' ', 0, 0);
        QVERIFY2(QFileInfo(kRoot + QStringLiteral("/usr/bin/") + exec).isExecutable(), qPrintable(exec));

        const QString icon = entry.value(QStringLiteral("Icon"));
        QVERIFY(!icon.isEmpty() && !icon.contains(u'/'));
        const QString hicolor = kRoot + QStringLiteral("/usr/share/icons/hicolor/");
        for (int size : {16, 32, 48, 256}) {
            const QString png = hicolor + QStringLiteral("%1x%1/apps/%2.png").arg(size).arg(icon);
            const QImage image(png);
            QVERIFY2(!image.isNull(), qPrintable(png));
            QCOMPARE(image.size(), QSize(size, size));
        }
        const QByteArray svg = contents(hicolor + QStringLiteral("scalable/apps/") + icon + QStringLiteral(".svg"));
        QVERIFY2(svg.contains("<svg"), "no scalable icon");
    }

    // Software centres read the metainfo; it must validate on its own and in the installed
    // tree, and lead to the desktop entry above.
    void metainfoIsValidAndLeadsToTheDesktopEntry()
    {
        const QString folder = kRoot + QStringLiteral("/usr/share/metainfo");
        const QStringList files = QDir(folder).entryList({QStringLiteral("*.metainfo.xml")}, QDir::Files);
        QCOMPARE(files.size(), 1);
        const QString file = folder + u'/' + files[0];
        const Run validate = run(QStringLiteral("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"), file});
        QVERIFY2(validate.exitCode == 0, qPrintable(validate.out));
        const Run tree = run(QStringLiteral("appstreamcli"),
                             {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), kRoot});
        QVERIFY2(tree.exitCode == 0, qPrintable(tree.out));

        QString id, launchable, release;
        QXmlStreamReader xml(contents(file));
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("id"))
                id = xml.readElementText();
            else if (xml.name() == QLatin1String("launchable"))
                launchable = xml.readElementText();
            else if (xml.name() == QLatin1String("release") && release.isEmpty())
                release = xml.attributes().value(QLatin1String("version")).toString();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(files[0], id + QStringLiteral(".metainfo.xml"));
        QVERIFY2(QFile::exists(kApplications + u'/' + launchable), qPrintable(launchable));
        QCOMPARE(release, QStringLiteral(MOJITAN_VERSION)); // the newest release is this one
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
