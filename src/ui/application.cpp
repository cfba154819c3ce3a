// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "application.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

namespace mojitan {

void setApplicationIdentity()
{
    QApplication::setApplicationName(QStringLiteral("mojitan"));
    QApplication::setApplicationDisplayName(QStringLiteral("モジタン"));
    QGuiApplication::setDesktopFileName(QStringLiteral("mojitan"));

    // Title bars and task bars take these; launchers take the installed theme icons. A bigger
    // size here would be decoded before the first frame and cost it ten milliseconds.
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/mojitan-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

void installButtonTranslation(QTranslator &translator)
{
    // Every word of the game is Japanese, so the message boxes' buttons are too.
    if (translator.load(QStringLiteral("qtbase_ja"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);
}

} // namespace mojitan
