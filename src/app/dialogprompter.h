#pragma once

#include "app/abstractdocumentprompter.h"

class QWidget;

// The user answers in dialogs over the window. File dialogs start in the folder the last one
// ended in, and remember where this one ends.
class DialogPrompter : public AbstractDocumentPrompter {
public:
    DialogPrompter(QWidget *window, Setting *browsePath);

    bool isInteractive() const override { return true; }
    int ask(const QString &title, const QString &message,
        const QList<ConfirmDialog::Button> &buttons, Setting *hideWarning = nullptr,
        int answerWhenHidden = -1) override;
    void showError(const QString &heading, const QString &details) override;
    QString askSavePath(const QString &title, const QString &proposedName,
        const QStringList &fileTypes, int *chosenType) override;

private:
    QWidget *m_window;
    Setting *m_browsePath;
};
