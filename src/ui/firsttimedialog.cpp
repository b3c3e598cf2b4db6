#include "ui/firsttimedialog.h"

#include "settings/setting.h"
#include "ui/baseframe.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

FirstTimeDialog::FirstTimeDialog(
    Setting *embedLocalFiles, Setting *pictureStorage, Setting *autoSave, QWidget *parent)
    : QDialog(parent)
    , m_embedLocalFiles(embedLocalFiles)
    , m_pictureStorage(pictureStorage)
    , m_autoSave(autoSave)
    , m_embedBox(new QCheckBox(tr("Embed Local Files"), this))
    , m_originalsBox(new QCheckBox(tr("Store Original Files"), this))
    , m_autoSaveBox(new QCheckBox(tr("Auto Save"), this))
{
    setWindowTitle(tr("First Time Setup"));
    const auto paragraph = [this](const QString &text) {
        auto *label = new QLabel(text, this);
        label->setWordWrap(true);
        return label;
    };
    m_embedBox->setChecked(embedLocalFiles->value().toBool());
    m_originalsBox->setChecked(pictureStorage->value().toInt() == 1);
    m_autoSaveBox->setChecked(autoSave->value().toBool());
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(BaseFrame::frameDialog(this));
    layout->addWidget(
        paragraph(tr("When saving Velkora scenes you can decide whether to embed local files or "
                     "not. Embedding them will make the save file more portable but it can also "
                     "result in a very large file. Pasted images or images drag & dropped from "
                     "another program will always be embedded.")));
    layout->addWidget(m_embedBox);
    layout->addWidget(paragraph(
        tr("Pictures that came as JPEG, PNG, WebP or GIF files can be stored as those very files, "
           "which keeps boards as small as their pictures; without this every picture is stored "
           "as PNG, which earlier versions of Velkora open too.")));
    layout->addWidget(m_originalsBox);
    layout->addWidget(paragraph(tr("Velkora can also autosave your scenes for you and warn when "
                                   "you haven't saved for a while.")));
    layout->addWidget(m_autoSaveBox);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

void FirstTimeDialog::accept()
{
    m_embedLocalFiles->setValue(m_embedBox->isChecked());
    m_pictureStorage->setValue(m_originalsBox->isChecked() ? 1 : 0);
    m_autoSave->setValue(m_autoSaveBox->isChecked());
    QDialog::accept();
}
