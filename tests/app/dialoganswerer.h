#pragma once

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

// Answers the questions the main window asks, in order, by the button text given; any question
// beyond the expected ones is cancelled, so a test never hangs on a dialog.
class DialogAnswerer : public QObject {
public:
    explicit DialogAnswerer(QStringList answers)
        : m_answers(std::move(answers))
    {
        connect(&m_timer, &QTimer::timeout, this, &DialogAnswerer::answer);
        m_timer.start(20);
    }

    QStringList questions;

private:
    void answer()
    {
        QDialog *dialog = nullptr;
        const QList<QWidget *> windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            if (window->isVisible() && qobject_cast<QDialog *>(window))
                dialog = static_cast<QDialog *>(window);
        }
        if (!dialog)
            return;
        QString text;
        const QList<QLabel *> labels = dialog->findChildren<QLabel *>();
        for (QLabel *label : labels)
            text += label->text();
        questions << text;
        const QString wanted = m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
        for (QPushButton *button : buttons) {
            if (!wanted.isEmpty() && button->text().remove(QLatin1Char('&')) == wanted) {
                button->click();
                return;
            }
        }
        dialog->reject();
    }

    QStringList m_answers;
    QTimer m_timer;
};
