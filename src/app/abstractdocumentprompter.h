#pragma once

#include "ui/confirmdialog.h"

#include <QList>
#include <QString>
#include <QStringList>

class Setting;

// Whoever answers for the user while a scene file is opened or saved: the window with its
// dialogs, or a script that no one watches. SceneDocument asks through this alone, so that it
// runs without a window.
class AbstractDocumentPrompter {
public:
    virtual ~AbstractDocumentPrompter() = default;

    // False when no one can answer: the checks that exist only to ask are skipped, and results
    // are logged rather than shown.
    virtual bool isInteractive() const = 0;
    // The index of the chosen button; -1 when the question was closed without one.
    virtual int ask(const QString &title, const QString &message,
        const QList<ConfirmDialog::Button> &buttons, Setting *hideWarning = nullptr,
        int answerWhenHidden = -1)
        = 0;
    virtual void showError(const QString &heading, const QString &details) = 0;
    // A path to save the scene at, proposing a file name, and which of the file types (dialog
    // filters, the first proposed) was chosen; empty when none was chosen.
    virtual QString askSavePath(const QString &title, const QString &proposedName,
        const QStringList &fileTypes, int *chosenType)
        = 0;
};
