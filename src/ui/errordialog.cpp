#include "ui/errordialog.h"

#include "ui/baseframe.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>
#include <QVBoxLayout>

void ErrorDialog::show(QWidget *parent, const QString &heading, const QString &details)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Velkora"));
    auto *layout = new QVBoxLayout(BaseFrame::frameDialog(&dialog));

    auto *top = new QHBoxLayout;
    auto *icon = new QLabel(&dialog);
    const int size = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    icon->setPixmap(dialog.style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(size));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto *title = new QLabel(heading, &dialog);
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    top->addWidget(title, 1);
    layout->addLayout(top);

    if (!details.isEmpty()) {
        // Details may be long (a list of files): they scroll, and can be copied.
        auto *text = new QPlainTextEdit(details, &dialog);
        text->setReadOnly(true);
        text->setMinimumWidth(420);
        text->setMaximumHeight(200);
        layout->addWidget(text);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.exec();
}
