#include "mainwindow.h"
#include "sdlcueplayer.h"
#include "settingsscorestore.h"
#include "systemservices.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mojitan"));
    QApplication::setApplicationDisplayName(QStringLiteral("モジタン"));
    QGuiApplication::setDesktopFileName(QStringLiteral("mojitan"));

    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/mojitan-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    // Every word of the game is Japanese, so the message boxes' buttons are too.
    QTranslator buttons;
    if (buttons.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&buttons);

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
