#include "app/dialogprompter.h"

#include "settings/setting.h"
#include "ui/errordialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <algorithm>

DialogPrompter::DialogPrompter(QWidget *window, Setting *browsePath)
    : m_window(window)
    , m_browsePath(browsePath)
{
}

int DialogPrompter::ask(const QString &title, const QString &message,
    const QList<ConfirmDialog::Button> &buttons, Setting *hideWarning, int answerWhenHidden)
{
    return ConfirmDialog::ask(m_window, title, message, buttons, hideWarning, answerWhenHidden);
}

void DialogPrompter::showError(const QString &heading, const QString &details)
{
    ErrorDialog::show(m_window, heading, details);
}

QString DialogPrompter::askSavePath(const QString &title, const QString &proposedName,
    const QStringList &fileTypes, int *chosenType)
{
    const QString directory = m_browsePath->value().toString();
    QString chosen = fileTypes.value(0);
    const QString path = QFileDialog::getSaveFileName(m_window, title,
        QDir(directory).filePath(proposedName), fileTypes.join(QLatin1String(";;")), &chosen);
    if (chosenType)
        *chosenType = std::max(0, int(fileTypes.indexOf(chosen)));
    if (!path.isEmpty())
        m_browsePath->setValue(QFileInfo(path).absolutePath());
    return path;
}
