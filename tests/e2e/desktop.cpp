#include "desktop.h"

#include "childprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QThread>

#include <utility>

namespace mojitan::e2e {

bool waitUntil(const std::function<bool()> &ready, int timeoutMs, int pollMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (ready())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(pollMs);
    }
}

PrivateDesktop::~PrivateDesktop() { stop(); }

bool PrivateDesktop::start(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("cannot make a temporary folder");
        return false;
    }
    // Programs insist on a runtime folder that only its owner can enter.
    const QString runtime = m_dir.filePath(QStringLiteral("run"));
    if (!QDir().mkpath(runtime)
        || !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        *error = QStringLiteral("cannot make ") + runtime;
        return false;
    }
    if (!m_xserver.start(error))
        return false;
    m_client = std::make_unique<XClient>(m_xserver.display());
    if (!m_client->isConnected()) {
        *error = QStringLiteral("cannot connect to the X server at ") + m_xserver.display();
        return false;
    }
    if (!m_bus.start(m_xserver.display(), runtime, error))
        return false;
    m_atspi = std::make_unique<AtspiReader>(m_bus.accessibilityAddress());
    if (!m_atspi->isConnected()) {
        *error = QStringLiteral("cannot reach the accessibility bus");
        return false;
    }
    if (!m_sound.start(error))
        return false;
    m_recorder = std::make_unique<testing::Recorder>(m_sound.clientEnvironment());
    if (!m_recorder->start(error))
        return false;
    if (!m_recorder->waitUntilSteady(10000)) {
        *error = QStringLiteral("the recording of the sound server never became steady");
        return false;
    }
    return true;
}

void PrivateDesktop::stop()
{
    // In reverse order: the recorder before its server, the reader before its bus.
    m_recorder.reset();
    m_sound.stop();
    m_atspi.reset();
    m_bus.stop();
    m_client.reset();
    m_xserver.stop();
}

QProcessEnvironment PrivateDesktop::environment(const QString &configHome) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Nothing of the test's own surroundings may steer the game: no forced platform,
    // scaling or accessibility switch, no other display or bus.
    for (const QString &name : env.keys())
        if (name.startsWith(QLatin1String("QT_")) || name == QLatin1String("WAYLAND_DISPLAY"))
            env.remove(name);
    env.insert(QStringLiteral("DISPLAY"), m_xserver.display());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("PULSE_SERVER"),
               m_sound.clientEnvironment().value(QStringLiteral("PULSE_SERVER")));
    return env;
}

bool PrivateDesktop::xdotool(const QStringList &args) const
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_xserver.display());
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral("xdotool"), args);
    if (!tool.waitForFinished(5000)) {
        tool.kill();
        tool.waitForFinished();
        return false;
    }
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

GameProcess::GameProcess(PrivateDesktop &desktop, QString executable, QString configHome,
                         QString artefacts)
    : m_desktop(desktop)
    , m_executable(std::move(executable))
    , m_configHome(std::move(configHome))
    , m_artefacts(std::move(artefacts))
{
}

GameProcess::~GameProcess()
{
    keepArtefacts();
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool GameProcess::start(QString *error)
{
    m_process.setProcessEnvironment(m_desktop.environment(m_configHome));
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    mojitan::testing::endWithTheTest(m_process);
    m_process.start(m_executable, {});
    if (!m_process.waitForStarted(10000)) {
        *error = m_executable + QStringLiteral(" did not start: ") + m_process.errorString();
        return false;
    }
    m_pid = m_process.processId();
    auto fail = [&](const QString &why) {
        *error = why + QStringLiteral("; its standard error:\n")
            + QString::fromLocal8Bit(standardError());
        return false;
    };

    if (!waitUntil([&] {
            for (const TopLevel &w : m_desktop.x().windowsOf(m_pid))
                if (!w.transient)
                    m_window = w.id;
            return m_window != 0 || !isRunning();
        }, 20000, 20)
        || m_window == 0)
        return fail(QStringLiteral("no window appeared"));

    if (!waitUntil([&] {
            if (auto app = m_desktop.atspi().applicationOf(m_pid))
                m_app = *app;
            return !m_app.isNull() || !isRunning();
        }, 20000, 20)
        || m_app.isNull())
        return fail(QStringLiteral("the game never showed itself to assistive technology"));

    // The big letter display is the largest label of the window.
    if (!waitUntil([&] {
            const AtspiNode window = mainWindow();
            int largest = 0;
            for (const AtspiNode *label :
                 window.findAll([](const AtspiNode &n) { return n.role == QLatin1String("label"); })) {
                const int area = label->extents.width() * label->extents.height();
                if (area > largest) {
                    largest = area;
                    m_letter = label->ref;
                }
            }
            return !m_letter.isNull() || !isRunning();
        }, 10000, 20)
        || m_letter.isNull())
        return fail(QStringLiteral("the window has no labels for assistive technology"));
    return true;
}

std::vector<TopLevel> GameProcess::dialogs()
{
    std::vector<TopLevel> found;
    for (const TopLevel &w : m_desktop.x().windowsOf(m_pid))
        if (w.transient)
            found.push_back(w);
    return found;
}

AtspiNode GameProcess::application() { return m_desktop.atspi().read(m_app); }

AtspiNode GameProcess::mainWindow()
{
    // The main window is the top-level that covers what the X server calls the window.
    QRect onScreen;
    for (const TopLevel &w : m_desktop.x().windowsOf(m_pid))
        if (w.id == m_window)
            onScreen = w.geometry;
    AtspiNode app = application();
    for (AtspiNode &child : app.children)
        if (child.onScreen == onScreen)
            return std::move(child);
    return {};
}

QString GameProcess::letter() { return m_desktop.atspi().name(m_letter); }

bool GameProcess::focus(xcb_window_t window)
{
    return m_desktop.xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                              QString::number(window)});
}

bool GameProcess::key(const QString &keysym)
{
    return m_desktop.xdotool({QStringLiteral("key"), keysym});
}

bool GameProcess::click(const QRect &onScreen)
{
    const QPoint at = onScreen.center();
    return m_desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"),
                              QString::number(at.x()), QString::number(at.y()),
                              QStringLiteral("click"), QStringLiteral("1")});
}

QImage GameProcess::grab() { return m_desktop.x().grab(m_window); }

std::optional<int> GameProcess::waitForExit(int timeoutMs)
{
    if (!m_process.waitForFinished(timeoutMs) && m_process.state() != QProcess::NotRunning)
        return std::nullopt;
    standardError();
    if (m_process.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return m_process.exitCode();
}

QByteArray GameProcess::standardError()
{
    m_stderr += m_process.readAllStandardError();
    return m_stderr;
}

void GameProcess::keepArtefacts()
{
    if (!QTest::currentTestFailed() || m_artefacts.isEmpty())
        return;
    QDir().mkpath(m_artefacts);
    static int serial = 0;
    QString base = QStringLiteral("%1/%2").arg(m_artefacts, QLatin1String(QTest::currentTestFunction()));
    if (QTest::currentDataTag())
        base += u'-' + QLatin1String(QTest::currentDataTag());
    base += QStringLiteral("-%1").arg(++serial);

    const QString screen = base + QStringLiteral("-screen.png");
    if (m_desktop.x().grab().save(screen))
        qInfo("screen at the failure: %s", qPrintable(screen));
    if (isRunning() && !m_app.isNull()) {
        QFile tree(base + QStringLiteral("-accessibility.txt"));
        if (tree.open(QIODevice::WriteOnly))
            tree.write(application().dump().toUtf8());
        qInfo("accessibility tree at the failure: %s", qPrintable(tree.fileName()));
    }
    QFile err(base + QStringLiteral("-stderr.txt"));
    if (err.open(QIODevice::WriteOnly))
        err.write(standardError());
    qInfo("the game's standard error: %s", qPrintable(err.fileName()));
    QFile sound(base + QStringLiteral("-sound-server.txt"));
    if (sound.open(QIODevice::WriteOnly))
        sound.write(m_desktop.soundDiagnosis().toUtf8());
    qInfo("the sound server at the failure: %s", qPrintable(sound.fileName()));
}

} // namespace mojitan::e2e
