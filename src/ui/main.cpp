#include "application.h"
#include "mainwindow.h"
#include "pulsecueplayer.h"
#include "settingsscorestore.h"
#include "systemservices.h"

#include <QApplication>
#include <QTimer>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    mojitan::setApplicationIdentity();
    QTranslator buttons;
    mojitan::installButtonTranslation(buttons);

    const std::string sounds = QApplication::applicationDirPath().toStdString() + "/sound/";
    mojitan::PulseCuePlayer cues({sounds + "key.wav", sounds + "wrong.wav", sounds + "win.wav"});
    mojitan::SteadyClock clock;
    mojitan::ClockSeededRandom random;
    mojitan::SettingsScoreStore store;
    mojitan::MainWindow window(clock, random, cues, store);
    window.show();
    // Sound comes up once the window is on its way: reading the cues and reaching the sound
    // server never hold back the first frame.
    QTimer::singleShot(0, &window, [&cues] { cues.start(); });
    return QApplication::exec();
}
