#include "application.h"
#include "mainwindow.h"
#include "sdlcueplayer.h"
#include "settingsscorestore.h"
#include "systemservices.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    mojitan::setApplicationIdentity();
    QTranslator buttons;
    mojitan::installButtonTranslation(buttons);

    // The audio device is opened and the cues read before the window shows, so the first
    // keystroke is heard.
    const std::string sounds = QApplication::applicationDirPath().toStdString() + "/sound/";
    mojitan::SdlCuePlayer cues;
    for (const char *name : {"key.wav", "wrong.wav", "win.wav"})
        cues.preload(sounds + name);

    mojitan::SteadyClock clock;
    mojitan::ClockSeededRandom random;
    mojitan::SettingsScoreStore store;
    mojitan::MainWindow window(clock, random, cues, store);
    window.show();
    return QApplication::exec();
}
