// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QTranslator;

namespace mojitan {

// The program's names and its icon, for the window system and the desktop's launcher.
void setApplicationIdentity();

// Loads Qt's own Japanese texts (はい, いいえ) into `translator` and installs it, where the
// translation is installed; the translator must live as long as the application.
void installButtonTranslation(QTranslator &translator);

} // namespace mojitan
