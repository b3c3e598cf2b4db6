#pragma once

#include "app/abstractdocumentprompter.h"

// Scripts get no questions: whatever needed an answer is not done, and the log says why.
class CommandLinePrompter : public AbstractDocumentPrompter {
public:
    bool isInteractive() const override { return false; }
    int ask(const QString &title, const QString &message,
        const QList<ConfirmDialog::Button> &buttons, Setting *hideWarning = nullptr,
        int answerWhenHidden = -1) override;
    void showError(const QString &heading, const QString &details) override;
    QString askSavePath(const QString &title, const QString &proposedName,
        const QStringList &fileTypes, int *chosenType) override;
};
