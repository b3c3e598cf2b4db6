#include "ui/errordialog.h"

#include <QMessageBox>

void ErrorDialog::show(QWidget *parent, const QString &heading, const QString &details)
{
    QMessageBox box(
        QMessageBox::Critical, QStringLiteral("Velkora"), heading, QMessageBox::Ok, parent);
    box.setInformativeText(details);
    box.exec();
}
