// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "form.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

namespace mojitan {

namespace {

// Every font the window names is the same proportional gothic. The first face is the one
// the layout was drawn with; where it is missing the second, which Debian ships, keeps the
// letters proportional (asked for alone, the first name falls back to a fixed-width face).
QFont gothic(double points, bool italic = false)
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                      QStringLiteral("Noto Sans CJK JP")});
    font.setPointSizeF(points);
    font.setItalic(italic);
    font.setWeight(QFont::Normal);
    return font;
}

// The box that takes the player's keys. It only ever receives single letters, so it takes them
// as the keyboard types them: with an input method switched on, they would otherwise become a
// kana composition out of sight. The input method keeps working in every other program. The
// box is never drawn, so a window manager that makes the window larger than designed shows no
// empty box either.
class KeyBox : public QLineEdit {
public:
    explicit KeyBox(QWidget *parent)
        : QLineEdit(QStringLiteral("A"), parent)
    {
        setAttribute(Qt::WA_InputMethodEnabled, false);
    }

    // Qt asks this, not the attribute, before it hands a text box's keys to an input method.
    using QLineEdit::inputMethodQuery;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override
    {
        if (query == Qt::ImEnabled)
            return false;
        return QLineEdit::inputMethodQuery(query);
    }

protected:
    void paintEvent(QPaintEvent *) override {}
};

} // namespace

std::array<QWidget *, kControlCount> buildForm1(QWidget &form)
{
    std::array<QWidget *, kControlCount> controls{};
    form.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                        | Qt::WindowCloseButtonHint);
    form.setObjectName(QStringLiteral("Form1"));
    form.setWindowTitle(QString::fromUtf8(kAppTitle));
    form.setFixedSize(104, 60);
    // The window's own font, which the frame, its counters and the hint inherit: the same
    // gothic at the classic 9 points, so the hint fits its square on any desktop.
    form.setFont(gothic(9));
    controls[std::size_t(Control::Form1)] = &form;

    auto place = [&](QWidget *widget, Control which, const char *name, QRect rect) {
        widget->setObjectName(QLatin1String(name));
        widget->setGeometry(rect);
        controls[std::size_t(which)] = widget;
    };
    auto label = [&](QWidget *parent, Control which, const char *name, const QString &caption,
                     QRect rect) {
        auto *l = new QLabel(caption, parent);
        l->setAutoFillBackground(true); // opaque, so a colour fills the whole rectangle
        l->setTextFormat(Qt::PlainText);
        place(l, which, name, rect);
        return l;
    };
    auto button = [&](Control which, const char *name, const QString &caption, QRect rect) {
        auto *b = new QPushButton(caption, &form);
        b->setAutoDefault(true); // Enter clicks the focused button, not only Space
        place(b, which, name, rect);
        return b;
    };

    // Created back to front: a later sibling is drawn over an earlier one.
    QLabel *lblMoji =
        label(&form, Control::lblMoji, "lblMoji", QStringLiteral("A"), {0, 8, 57, 49});
    lblMoji->setFont(gothic(36));
    lblMoji->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    QLabel *label1 =
        label(&form, Control::label1, "label1", QStringLiteral("ハイスコア"), {48, 32, 41, 9});
    label1->setFont(gothic(6));

    QLabel *lblScore =
        label(&form, Control::lblScore, "lblScore", QStringLiteral("XXXXms"), {56, 40, 41, 11});
    lblScore->setFont(gothic(8.25));
    lblScore->setAlignment(Qt::AlignRight | Qt::AlignTop);
    lblScore->setWordWrap(true);

    QLabel *label2 = label(&form, Control::Label2, "Label2", QStringLiteral("Enterで開始します。"),
                           {8, 8, 41, 41});
    label2->setWordWrap(true);
    label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QPushButton *cmdStart =
        button(Control::cmdStart, "cmdStart", QStringLiteral("スタート"), {64, 0, 33, 17});
    cmdStart->setFont(gothic(5.25, true));
    cmdStart->setToolTip(
        QStringLiteral("スタートボタンを押したら、表示されている文字を、タイピングして下さい。"));

    QPushButton *cmdEnd =
        button(Control::cmdEnd, "cmdEnd", QStringLiteral("終了"), {64, 16, 33, 17});
    cmdEnd->setFont(gothic(5.25));

    auto *frame1 = new QGroupBox(QStringLiteral("成績"), &form);
    frame1->setAutoFillBackground(true);
    place(frame1, Control::Frame1, "Frame1", {48, 0, 49, 57});
    label(frame1, Control::lblBatu, "lblBatu", QStringLiteral("誤：0"), {8, 16, 33, 17});
    label(frame1, Control::lblMaru, "lblMaru", QStringLiteral("正：0"), {8, 32, 33, 17});
    frame1->hide();

    auto *txtMoji = new KeyBox(&form);
    txtMoji->setFont(gothic(20.25));
    txtMoji->setMaxLength(std::numeric_limits<int>::max()); // no limit on what is typed
    place(txtMoji, Control::txtMoji, "txtMoji", {16, 128, 33, 30});

    QPushButton *command1 =
        button(Control::Command1, "Command1", QStringLiteral("スコア消去"), {48, 48, 49, 12});
    command1->setFont(gothic(6));

    QWidget::setTabOrder(cmdStart, cmdEnd);
    QWidget::setTabOrder(cmdEnd, txtMoji);
    QWidget::setTabOrder(txtMoji, command1);
    return controls;
}

} // namespace mojitan
