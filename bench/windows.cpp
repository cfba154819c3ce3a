// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The two windows the game is measured against. mojitan-floor shows the game's own idle
// window, built by buildForm1 alone: no engine, store or sound, so what the game costs
// beyond it is what those bring. mojitan-bare is a plain 104 x 60 window; it paints nothing
// but its background until a key comes, then shows that key at once where the game shows
// its letter, which gives the key measurement a floor with no timer in between.
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

#ifdef MOJITAN_FLOOR
#include "form.h"
#endif

namespace {

class BareWindow : public QWidget {
protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        m_key = event->text();
        update();
    }
    void paintEvent(QPaintEvent *) override
    {
        if (m_key.isEmpty())
            return;
        QPainter painter(this);
        QFont big = font();
        big.setPointSize(36);
        painter.setFont(big);
        painter.drawText(QRect(0, 8, 57, 49), Qt::AlignHCenter | Qt::AlignTop, m_key);
    }

private:
    QString m_key;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
#ifdef MOJITAN_FLOOR
    QWidget window;
    mojitan::buildForm1(window);
#else
    BareWindow window;
    window.setFixedSize(104, 60);
#endif
    window.show();
    return QApplication::exec();
}
