#include "ui/confirmdialog.h"

#include "settings/setting.h"
#include "ui/baseframe.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

int ConfirmDialog::ask(QWidget *parent, const QString &title, const QString &message,
    const QList<Button> &buttons, Setting *hideWarning, int answerWhenHidden)
{
    if (hideWarning && hideWarning->value().toBool())
        return answerWhenHidden;

    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(BaseFrame::frameDialog(&dialog));
    auto *label = new QLabel(message, &dialog);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    layout->addWidget(label);

    QCheckBox *dontAsk = nullptr;
    if (hideWarning) {
        dontAsk = new QCheckBox(QObject::tr("Don't ask again"), &dialog);
        layout->addWidget(dontAsk);
    }

    auto *box = new QDialogButtonBox(&dialog);
    int chosen = -1;
    for (int i = 0; i < buttons.size(); ++i) {
        const Button &button = buttons.at(i);
        QPushButton *push = button.standard != QDialogButtonBox::NoButton
            ? box->addButton(button.standard)
            : box->addButton(button.text, button.role);
        if (!button.text.isEmpty())
            push->setText(button.text);
        QObject::connect(push, &QPushButton::clicked, &dialog, [&dialog, &chosen, i] {
            chosen = i;
            dialog.accept();
        });
    }
    layout->addWidget(box);
    dialog.exec();

    if (dontAsk && dontAsk->isChecked() && chosen >= 0)
        hideWarning->setValue(true);
    return chosen;
}
