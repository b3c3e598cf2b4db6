#pragma once

#include <QDialogButtonBox>
#include <QList>
#include <QString>

class Setting;
class QWidget;

// A question with buttons of our own and, for questions that can be switched off, the check box
// of its hide-warning setting. While that setting is on the question is not shown and the fixed
// answer is returned at once.
class ConfirmDialog {
public:
    struct Button {
        QString text; // empty: the role's standard button
        QDialogButtonBox::ButtonRole role = QDialogButtonBox::AcceptRole;
        QDialogButtonBox::StandardButton standard = QDialogButtonBox::NoButton;
    };

    // Returns the index of the chosen button, or -1 when the dialog was closed without one.
    static int ask(QWidget *parent, const QString &title, const QString &message,
        const QList<Button> &buttons, Setting *hideWarning = nullptr, int answerWhenHidden = -1);
};
