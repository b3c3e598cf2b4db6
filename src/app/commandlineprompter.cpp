#include "app/commandlineprompter.h"

#include "app/applog.h"

int CommandLinePrompter::ask(const QString &title, const QString &message,
    const QList<ConfirmDialog::Button> &buttons, Setting *hideWarning, int answerWhenHidden)
{
    Q_UNUSED(buttons)
    Q_UNUSED(hideWarning)
    Q_UNUSED(answerWhenHidden)
    qCWarning(lcApp, "%s: %s", qUtf8Printable(title), qUtf8Printable(message));
    return -1;
}

void CommandLinePrompter::showError(const QString &heading, const QString &details)
{
    qCWarning(lcApp, "%s %s", qUtf8Printable(heading), qUtf8Printable(details));
}

QString CommandLinePrompter::askSavePath(const QString &title, const QString &proposedName,
    const QStringList &fileTypes, int *chosenType)
{
    Q_UNUSED(fileTypes)
    Q_UNUSED(chosenType)
    qCWarning(
        lcApp, "%s: no path to save %s at", qUtf8Printable(title), qUtf8Printable(proposedName));
    return QString();
}
