// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capslockhint.h"

#include <QAccessibleWidget>
#include <QScreen>

namespace mojitan {

namespace {

// Qt would present a label as plain text, which a screen reader reads only when the player
// goes looking; a tool tip it reads out as soon as it appears.
QAccessibleInterface *asToolTip(const QString &className, QObject *object)
{
    if (className != QLatin1String(CapsLockHint::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::ToolTip);
}

} // namespace

CapsLockHint::CapsLockHint(QWidget &letter)
    : QLabel(QStringLiteral("Caps Lock がオンになっています"), letter.window(),
             Qt::ToolTip | Qt::FramelessWindowHint)
    , m_letter(letter)
{
    QAccessible::installFactory(asToolTip); // once: Qt keeps a factory only the first time
    setObjectName(QStringLiteral("capsLockHint"));
    setAccessibleName(text());
    setAttribute(Qt::WA_ShowWithoutActivating);
    setTextFormat(Qt::PlainText);
    // The window's own gothic, in the colours the desktop gives its tool tips.
    setFont(letter.window()->font());
    setForegroundRole(QPalette::ToolTipText);
    setBackgroundRole(QPalette::ToolTipBase);
    setAutoFillBackground(true);
    setFrameShape(QFrame::Box);
    setMargin(2);
}

void CapsLockHint::showByTheLetter()
{
    adjustSize();
    QPoint place = m_letter.mapToGlobal(QPoint(0, m_letter.height()));
    const QScreen *screen = m_letter.screen();
    if (screen && place.y() + height() > screen->availableGeometry().bottom())
        place.setY(m_letter.window()->frameGeometry().top() - height());
    move(place);
    show();
}

} // namespace mojitan
