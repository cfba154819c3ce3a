// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "application.h"
#include "mainwindow.h"
#include "pulsecueplayer.h"
#include "settingsscorestore.h"
#include "systemservices.h"
#include "windowsystem.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QTimer>
#include <QTranslator>

#include <functional>

namespace {

// Calls `then` once the window has painted its first frame.
class AfterFirstFrame : public QObject {
public:
    AfterFirstFrame(QWidget &window, std::function<void()> then)
        : m_then(std::move(then))
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Queued: it runs once the painted frame has gone to the window system.
            QTimer::singleShot(0, this, m_then);
        }
        return false;
    }

private:
    std::function<void()> m_then;
};

// Asks for each cue a millisecond after the game does, once the next letter is on its way to
// the screen: waking the sound thread and the sound server would otherwise compete with the
// frame for the processor. A cue still starts well within the time it takes to hear one.
class CuesAfterTheFrame : public QObject, public mojitan::CuePlayer {
public:
    explicit CuesAfterTheFrame(mojitan::CuePlayer &cues)
        : m_cues(cues)
    {
    }
    void play(const std::string &path) override
    {
        QTimer::singleShot(1, this, [this, path] { m_cues.play(path); });
    }

private:
    mojitan::CuePlayer &m_cues;
};

// Nothing in the window takes text but the key box, which takes single letters and refuses an
// input method. Qt would still tell the desktop about it at every key: a Wayland compositor gets
// the box's text, its kind and its cursor, and fcitx or ibus the focus. Qt's own handling of
// compose and dead keys is local to the program; with it alone the game asks the desktop for
// nothing, and the player's input method goes on as before in every other program.
void keepInputMethodsOut()
{
    qunsetenv("QT_IM_MODULES");
    qputenv("QT_IM_MODULE", "compose");
}

// Two of Qt's bridges to the desktop warn at every start on newer desktops, of nothing a player
// can act on: the screen reader's, when the registry asks something Qt does not answer, and the
// desktop services', when the portal refuses to register the program under its desktop file's
// name (GNOME 50). The terminal keeps to what a player can use; QT_LOGGING_RULES still brings
// the warnings back.
void keepDesktopBridgesQuiet()
{
    QLoggingCategory::setFilterRules(QStringLiteral("qt.accessibility.atspi.warning=false\n"
                                                    "qt.qpa.services.warning=false"));
}

} // namespace

int main(int argc, char *argv[])
{
    mojitan::setUpWindowSystem();
    keepInputMethodsOut();
    keepDesktopBridgesQuiet();
    QApplication app(argc, argv);
    mojitan::setApplicationIdentity();

    const std::string sounds = QApplication::applicationDirPath().toStdString() + "/sound/";
    mojitan::PulseCuePlayer cues({sounds + "key.wav", sounds + "wrong.wav", sounds + "win.wav"});
    mojitan::SteadyClock clock;
    mojitan::ClockSeededRandom random;
    mojitan::SettingsScoreStore store;
    CuesAfterTheFrame cuesAfterTheFrame(cues);
    mojitan::MainWindow window(clock, random, cuesAfterTheFrame, store);
    // Reading the cues, reaching the sound server and loading the Japanese texts for the
    // message boxes' buttons never hold back the first frame; no box can open before it.
    QTranslator buttons;
    AfterFirstFrame afterwards(window, [&] {
        mojitan::installButtonTranslation(buttons);
        cues.start();
    });
    window.show();
    return QApplication::exec();
}
