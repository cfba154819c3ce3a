#pragma once

#include <QKeyEvent>
#include <QLabel>
#include <QWidget>

namespace mojitan::bench {

// What the game is compared with: a plain Qt window of the game's size. Bare, it shows
// nothing at all; with `echo` it shows the last key typed in a label where the game shows
// its letter, straight from the key event, which is the fastest a Qt window can answer a key.
class BaselineWindow : public QWidget {
public:
    explicit BaselineWindow(bool echo = false)
    {
        setWindowTitle(QStringLiteral("baseline"));
        setFixedSize(104, 60);
        if (echo) {
            m_echo = new QLabel(this);
            m_echo->setGeometry(0, 8, 57, 49);
            m_echo->setAutoFillBackground(true);
        }
    }

    QLabel *echo() const { return m_echo; }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (m_echo && !event->text().isEmpty())
            m_echo->setText(event->text());
        else
            QWidget::keyPressEvent(event);
    }

private:
    QLabel *m_echo = nullptr;
};

} // namespace mojitan::bench
