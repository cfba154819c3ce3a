// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "services.h"

#include <QString>

namespace mojitan {

// The best time in the player's own settings file, $XDG_CONFIG_HOME/モジタン/モジタン.conf
// (~/.config when the variable is unset or not an absolute path): an INI file with the key
// 速さ in the group スコア, laid out byte for byte as QSettings writes it.
class SettingsScoreStore : public ScoreStore {
public:
    // The file is located once, here, from the environment of the process.
    SettingsScoreStore();

    static QString defaultFileName();
    QString fileName() const { return m_fileName; }

    // The stored text; an empty text when the key holds something other than plain text
    // (a list, a typed value). Never writes, never blocks on a file that is not a file.
    std::optional<std::string> read() override;

    // Stores a whole number given in decimal digits; any other text is refused. The file is
    // replaced in one step, so a full disk or a crash keeps the old value whole. When the
    // file cannot be written, one line goes to standard error the first time only.
    bool write(const std::string &text) override;

private:
    QString m_fileName;
    bool m_warned = false;
};

} // namespace mojitan
